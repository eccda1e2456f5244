// Every voxel as a cube of its colour: the unit-cube tables, the expanded
// arrays of the whole model, and display list 1 that draws them.
#pragma once

#include <cstdint>

#include "model/voxel_model.h"

// A cube of edge 1 about the origin, four vertices per face, faces in the
// order top, right, bottom, left, front, back.
extern const float unitCubeVertices[24][3];
// Two triangles per face, counter-clockwise seen from outside.
extern const uint32_t unitCubeIndices[36];

extern float* vertexArray;   // count x 24 x (x, y, z)
extern uint8_t* colorArray;  // count x 24 x (r, g, b)
extern uint32_t* indexArray; // count x 36
extern bool listCompiled;    // display list 1 holds the model

// The display list that holds the whole model.
constexpr unsigned voxelListName = 1;

// Expands `m` into the three arrays. Returns false, taking nothing, when the
// memory for them cannot be had.
bool buildVoxelArrays(const VoxelModel* m);

// Draws the model with the caller's transforms and render state: the first
// call compiles display list 1, every call draws it.
void drawVoxels();
