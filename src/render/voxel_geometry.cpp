#include "render/voxel_geometry.h"

#include <GL/gl.h>
#include <cstdlib>

const float unitCubeVertices[24][3] = {
    {-0.5f, 0.5f, -0.5f},  {0.5f, 0.5f, -0.5f},   {0.5f, 0.5f, 0.5f},   {-0.5f, 0.5f, 0.5f},
    {0.5f, 0.5f, -0.5f},   {0.5f, -0.5f, -0.5f},  {0.5f, -0.5f, 0.5f},  {0.5f, 0.5f, 0.5f},
    {0.5f, -0.5f, -0.5f},  {-0.5f, -0.5f, -0.5f}, {-0.5f, -0.5f, 0.5f}, {0.5f, -0.5f, 0.5f},
    {-0.5f, -0.5f, -0.5f}, {-0.5f, 0.5f, -0.5f},  {-0.5f, 0.5f, 0.5f},  {-0.5f, -0.5f, 0.5f},
    {-0.5f, 0.5f, 0.5f},   {0.5f, 0.5f, 0.5f},    {0.5f, -0.5f, 0.5f},  {-0.5f, -0.5f, 0.5f},
    {-0.5f, -0.5f, -0.5f}, {0.5f, -0.5f, -0.5f},  {0.5f, 0.5f, -0.5f},  {-0.5f, 0.5f, -0.5f},
};

const uint32_t unitCubeIndices[36] = {
    0,  2,  1,  0,  3,  2,  // top
    4,  6,  5,  4,  7,  6,  // right
    8,  10, 9,  8,  11, 10, // bottom
    12, 14, 13, 12, 15, 14, // left
    16, 18, 17, 16, 19, 18, // front
    20, 22, 21, 20, 23, 22, // back
};

float* vertexArray = nullptr;
uint8_t* colorArray = nullptr;
uint32_t* indexArray = nullptr;
bool listCompiled = false;

bool buildVoxelArrays(const VoxelModel* m) {
    size_t n = size_t(m->count);
    // malloc(0) may give null; take at least one element so that null keeps
    // meaning "not built".
    float* vertices = static_cast<float*>(malloc(sizeof(float) * 72 * (n ? n : 1)));
    uint8_t* colors = static_cast<uint8_t*>(malloc(72 * (n ? n : 1)));
    uint32_t* indices = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * 36 * (n ? n : 1)));
    if (!vertices || !colors || !indices) {
        free(vertices);
        free(colors);
        free(indices);
        return false;
    }
    const float size = m->voxelSize;
    for (size_t i = 0; i < n; ++i) {
        const float* p = m->positions + 3 * i;
        const uint8_t* c = m->colors + 3 * i;
        float* v = vertices + 72 * i;
        uint8_t* vc = colors + 72 * i;
        for (int j = 0; j < 24; ++j) {
            for (int k = 0; k < 3; ++k) {
                v[3 * j + k] = size * unitCubeVertices[j][k] + p[k];
                vc[3 * j + k] = c[k];
            }
        }
        uint32_t* idx = indices + 36 * i;
        uint32_t base = uint32_t(24 * i);
        for (int s = 0; s < 36; ++s)
            idx[s] = unitCubeIndices[s] + base;
    }
    vertexArray = vertices;
    colorArray = colors;
    indexArray = indices;
    return true;
}

void drawVoxels() {
    if (listCompiled) {
        glCallList(voxelListName);
        return;
    }
    glNewList(voxelListName, GL_COMPILE);
    listCompiled = true;
    // Start-up builds the arrays while loading; build them here when it has
    // not. Without the memory the list stays empty rather than failing.
    if (vertexArray || buildVoxelArrays(model)) {
        glEnableClientState(GL_VERTEX_ARRAY);
        glVertexPointer(3, GL_FLOAT, 0, vertexArray);
        glDisableClientState(GL_NORMAL_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glColorPointer(3, GL_UNSIGNED_BYTE, 0, colorArray);
        glDrawElements(GL_TRIANGLES, GLsizei(model->count) * 36, GL_UNSIGNED_INT, indexArray);
    }
    glEndList();
    // Compiling draws nothing; this call draws the first frame.
    glCallList(voxelListName);
}
