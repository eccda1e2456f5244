// Every voxel as a cube of its colour: the unit-cube tables, the expanded
// arrays of the whole model, and display list 1 that draws them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "math/vec3.h"
#include "model/voxel_model.h"

// A cube of edge 1 about the origin, four vertices per face, faces in the
// order top, right, bottom, left, front, back.
inline constexpr float unitCubeVertices[24][3] = {
    {-0.5f, 0.5f, -0.5f},  {0.5f, 0.5f, -0.5f},   {0.5f, 0.5f, 0.5f},   {-0.5f, 0.5f, 0.5f},
    {0.5f, 0.5f, -0.5f},   {0.5f, -0.5f, -0.5f},  {0.5f, -0.5f, 0.5f},  {0.5f, 0.5f, 0.5f},
    {0.5f, -0.5f, -0.5f},  {-0.5f, -0.5f, -0.5f}, {-0.5f, -0.5f, 0.5f}, {0.5f, -0.5f, 0.5f},
    {-0.5f, -0.5f, -0.5f}, {-0.5f, 0.5f, -0.5f},  {-0.5f, 0.5f, 0.5f},  {-0.5f, -0.5f, 0.5f},
    {-0.5f, 0.5f, 0.5f},   {0.5f, 0.5f, 0.5f},    {0.5f, -0.5f, 0.5f},  {-0.5f, -0.5f, 0.5f},
    {-0.5f, -0.5f, -0.5f}, {0.5f, -0.5f, -0.5f},  {0.5f, 0.5f, -0.5f},  {-0.5f, 0.5f, -0.5f},
};

// Two triangles per face, counter-clockwise seen from outside.
inline constexpr uint32_t unitCubeIndices[36] = {
    0,  2,  1,  0,  3,  2,  // top
    4,  6,  5,  4,  7,  6,  // right
    8,  10, 9,  8,  11, 10, // bottom
    12, 14, 13, 12, 15, 14, // left
    16, 18, 17, 16, 19, 18, // front
    20, 22, 21, 20, 23, 22, // back
};

extern float* vertexArray;   // count x 24 x (x, y, z)
extern uint8_t* colorArray;  // count x 24 x (r, g, b)
extern uint32_t* indexArray; // count x 36
extern bool listCompiled;    // display list 1 holds the model
// How many of indexArray's entries are drawn: 36 per voxel once built, fewer
// after keepFacesTowards.
extern size_t drawnIndexCount;

// The display list that holds the whole model.
constexpr unsigned voxelListName = 1;

// The most voxels one draw call records into the list (a million; tests
// lower it to put the boundaries between calls inside small models).
extern size_t voxelsPerDrawCall;

// Expands `m` into the three arrays. Returns false, taking nothing, when the
// memory for them cannot be had.
bool buildVoxelArrays(const VoxelModel* m);

// For a single frame seen from `eye` (model coordinates): packs the three
// arrays, in their order and in place, down to the faces that are not certain
// to face away from the eye (four vertices, four colours and six indices
// each), and returns how many indices remain. Back-face culling would discard
// the faces left out, so the frame's pixels are the same, in about half the
// driver's time. A face is left out only when the eye lies behind its plane
// by a thousandth of its distance from the voxel or more, far beyond where
// rounding could turn the projected face towards the eye; models with sizes
// or positions that are not finite, or with a size of 0 or less (cubes
// turned inside out), keep every face. The display list is never built from
// packed indices.
size_t keepFacesTowards(Vec3 eye);

// Draws the three arrays (in calls of voxelsPerDrawCall voxels' worth of faces
// at most, one for any usual model), vertex and colour arrays
// enabled (they stay enabled); the arrays must be built. What display list 1
// records, and how a single frame is drawn without a list.
void drawVoxelArrays();

// Frees the three arrays and forgets them (null again, nothing drawn), for
// whatever draws one model after another; the viewer keeps its arrays for
// the life of the process. Display list 1 is left as it is.
void freeVoxelArrays();

// Records the whole model into display list 1 (building the arrays first if
// start-up has not) and marks it compiled. Draws nothing.
void compileVoxelList();

// Draws the model with the caller's transforms and render state: the first
// call compiles display list 1, every call draws it.
void drawVoxels();
