// The in-memory voxel set and the loader that reads it from a voxel text file.
#pragma once

#include <cstdint>

struct VoxelModel {
    int32_t count;    // number of voxels
    float* positions; // count x (x, y, z) cube centres
    uint8_t* colors;  // count x (red, green, blue)
    float voxelSize;  // edge of every voxel's cube
};

// The one loaded model; null until start-up has loaded it, never freed after.
extern VoxelModel* model;

// The most voxels a model may hold: each voxel draws 36 indices and the whole
// model is drawn by one call whose index count is a signed 32-bit GLsizei.
constexpr int32_t maxVoxelCount = 2147483647 / 36;

// Reads the voxel text file at `path` into a new model. On failure writes one
// line naming the file to stderr, frees everything it took, closes the file and
// returns null.
VoxelModel* loadVoxels(const char* path);
