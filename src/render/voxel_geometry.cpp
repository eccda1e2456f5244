#include "render/voxel_geometry.h"

#include <GL/gl.h>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/large_array.h"
#include "platform/second_thread.h"

float* vertexArray = nullptr;
uint8_t* colorArray = nullptr;
uint32_t* indexArray = nullptr;
bool listCompiled = false;
size_t drawnIndexCount = 0;
size_t voxelsPerDrawCall = size_t(1) << 20;

// Where each of a cube's 72 vertex coordinates comes from among the voxel's
// six face planes: low x, y, z (0 to 2), then high x, y, z (3 to 5).
struct CubeCoordinateSources {
    uint8_t plane[72];
};

static constexpr CubeCoordinateSources coordinateSources() {
    CubeCoordinateSources sources = {};
    for (int j = 0; j < 24; ++j)
        for (int k = 0; k < 3; ++k)
            sources.plane[3 * j + k] = uint8_t((unitCubeVertices[j][k] > 0 ? 3 : 0) + k);
    return sources;
}

static constexpr CubeCoordinateSources sources = coordinateSources();
static constexpr bool everyCoordinateIsAHalf() {
    for (const auto& vertex : unitCubeVertices)
        for (float coordinate : vertex)
            if (coordinate != 0.5f && coordinate != -0.5f)
                return false;
    return true;
}
static_assert(everyCoordinateIsAHalf(), "the expansion takes every cube coordinate as +-0.5");

// Below this many voxels a second thread costs more than it saves.
static constexpr size_t voxelsForASecondThread = 1 << 16;

// Writes the cubes of voxels first to last - 1 into the arrays.
static void expandVoxels(const VoxelModel* m, size_t first, size_t last, float* vertices,
                         uint8_t* colors, uint32_t* indices) {
    // Every vertex coordinate is size x (±0.5) + centre, rounded as that
    // product and that sum; the two products are the same for every voxel.
    const float size = m->voxelSize;
    const float lowOffset = size * -0.5f, highOffset = size * 0.5f;
    const float* p = m->positions + 3 * first;
    const uint8_t* c = m->colors + 3 * first;
    float* v = vertices + 72 * first;
    uint8_t* vc = colors + 72 * first;
    uint32_t* idx = indices + 36 * first;
    for (size_t i = first; i < last; ++i, p += 3, c += 3, v += 72, vc += 72, idx += 36) {
        const float planes[6] = {lowOffset + p[0],  lowOffset + p[1],  lowOffset + p[2],
                                 highOffset + p[0], highOffset + p[1], highOffset + p[2]};
        for (int e = 0; e < 72; ++e)
            v[e] = planes[sources.plane[e]];
        // The colour 24 times: three 8-byte words that repeat (r g b r g b r g,
        // b r g b r g b r, g b r g b r g b), written three times over.
        const uint64_t rgb = uint64_t(c[0]) | uint64_t(c[1]) << 8 | uint64_t(c[2]) << 16;
        const uint64_t brg = (rgb >> 16 | rgb << 8) & 0xFFFFFF;
        const uint64_t gbr = (rgb >> 8 | rgb << 16) & 0xFFFFFF;
        const uint64_t spread = 1 | uint64_t(1) << 24 | uint64_t(1) << 48;
        const uint64_t words[3] = {rgb * spread, brg * spread, gbr * spread};
        for (int w = 0; w < 9; ++w)
            memcpy(vc + 8 * w, &words[w % 3], 8);
        const uint32_t base = uint32_t(24 * i);
        for (int s = 0; s < 36; ++s)
            idx[s] = unitCubeIndices[s] + base;
    }
}

bool buildVoxelArrays(const VoxelModel* m) {
    size_t n = size_t(m->count);
    // malloc(0) may give null; take at least one element so that null keeps
    // meaning "not built".
    float* vertices = static_cast<float*>(allocateLargeArray(sizeof(float) * 72 * (n ? n : 1)));
    uint8_t* colors = static_cast<uint8_t*>(allocateLargeArray(72 * (n ? n : 1)));
    uint32_t* indices =
        static_cast<uint32_t*>(allocateLargeArray(sizeof(uint32_t) * 36 * (n ? n : 1)));
    if (!vertices || !colors || !indices) {
        free(vertices);
        free(colors);
        free(indices);
        return false;
    }
    // Fresh memory is most of the cost, and two cores take its first-touch
    // faults in half the time one does: a big model's second half is
    // expanded on a second thread.
    const size_t half = n >= voxelsForASecondThread ? n / 2 : n;
    std::thread helper;
    const bool shared = half < n && startSecondThread(&helper, [=] {
                            expandVoxels(m, half, n, vertices, colors, indices);
                        });
    expandVoxels(m, 0, shared ? half : n, vertices, colors, indices);
    if (shared)
        helper.join();
    vertexArray = vertices;
    colorArray = colors;
    indexArray = indices;
    drawnIndexCount = 36 * n;
    return true;
}

// A face is dropped when the eye is behind its plane by this share of its
// distance from the voxel (plus the voxel's size) or more. Float rounding in
// the projection is some millionths; a face seen that edge-on still has a
// projected area of about a thousandth of its size, whose sign rounding
// cannot flip.
static constexpr double faceCullMargin = 1e-3;

size_t keepFacesTowards(Vec3 eye) {
    const VoxelModel* m = model;
    const size_t n = size_t(m->count);
    const float size = m->voxelSize;
    if (!vertexArray || !(size > 0.0f) || !std::isfinite(size * 0.5f) || !std::isfinite(eye.x) ||
        !std::isfinite(eye.y) || !std::isfinite(eye.z))
        return drawnIndexCount;
    for (size_t i = 0; i < 3 * n; ++i)
        if (!std::isfinite(m->positions[i]))
            return drawnIndexCount;
    // The face planes as the arrays hold them (size x +-0.5, plus the centre):
    // for each face of the table's order, the axis and whether it is the
    // high (outward +) plane.
    static constexpr struct {
        int axis;
        bool high;
    } faces[6] = {{1, true}, {0, true}, {1, false}, {0, false}, {2, true}, {2, false}};
    const float lowOffset = size * -0.5f, highOffset = size * 0.5f;
    const double e[3] = {eye.x, eye.y, eye.z};
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
        const float* p = m->positions + 3 * i;
        const double d[3] = {e[0] - p[0], e[1] - p[1], e[2] - p[2]};
        const double margin = faceCullMargin * (length3(d[0], d[1], d[2]) + size);
        for (int f = 0; f < 6; ++f) {
            const int a = faces[f].axis;
            const double plane = double((faces[f].high ? highOffset : lowOffset) + p[a]);
            // How far the eye is on the outer side of the face's plane.
            const double outside = faces[f].high ? e[a] - plane : plane - e[a];
            if (outside < -margin)
                continue;
            // The face's four vertices and colours move down to the next free
            // place (never past where they were: faces are only dropped),
            // and its two triangles index them there.
            const size_t face = kept / 6;
            memmove(vertexArray + 12 * face, vertexArray + 72 * i + 12 * f, 12 * sizeof(float));
            memmove(colorArray + 12 * face, colorArray + 72 * i + 12 * f, 12);
            for (int k = 0; k < 6; ++k)
                indexArray[kept + k] = unitCubeIndices[6 * f + k] - 4 * f + uint32_t(4 * face);
            kept += 6;
        }
    }
    drawnIndexCount = kept;
    return kept;
}

void freeVoxelArrays() {
    free(vertexArray);
    free(colorArray);
    free(indexArray);
    vertexArray = nullptr;
    colorArray = nullptr;
    indexArray = nullptr;
    drawnIndexCount = 0;
}

void drawVoxelArrays() {
    glEnableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    // Up to a million voxels' worth of faces is one call. More is drawn in
    // calls of that many faces each, in order, each with the arrays handed
    // over from its first face on: Mesa's software driver finds a vertex at
    // index x 12 bytes in a signed 32-bit offset, which past vertex
    // 178,956,970 (voxel 7,456,540) points before the array. The viewer died
    // compiling the list of clouds of 8,000,000 and 9,000,000 voxels, and drew
    // a different 10,000,000-voxel picture. Every face is four vertices and
    // six indices of the one pattern, 4 x face + (0, 2, 1, 0, 3, 2), whole or
    // packed; so seen from its first face, every call's indices are those at
    // the start of indexArray.
    const size_t faces = drawnIndexCount / 6;
    const size_t facesPerCall = 6 * voxelsPerDrawCall;
    size_t first = 0;
    do {
        const size_t n = faces - first < facesPerCall ? faces - first : facesPerCall;
        glVertexPointer(3, GL_FLOAT, 0, vertexArray + 12 * first);
        glColorPointer(3, GL_UNSIGNED_BYTE, 0, colorArray + 12 * first);
        glDrawElements(GL_TRIANGLES, GLsizei(6 * n), GL_UNSIGNED_INT, indexArray);
        first += n;
    } while (first < faces);
}

void compileVoxelList() {
    glNewList(voxelListName, GL_COMPILE);
    listCompiled = true;
    // Start-up builds the arrays while loading; build them here when it has
    // not. Without the memory the list stays empty rather than failing.
    if (vertexArray || buildVoxelArrays(model))
        drawVoxelArrays();
    glEndList();
}

void drawVoxels() {
    if (!listCompiled)
        compileVoxelList();
    // Compiling draws nothing; on the first frame this call is what draws.
    glCallList(voxelListName);
}
