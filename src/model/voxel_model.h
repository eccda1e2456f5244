// The in-memory voxel set and the loader that reads it from a voxel text file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct VoxelModel {
    int32_t count;    // number of voxels
    float* positions; // count x (x, y, z) cube centres
    uint8_t* colors;  // count x (red, green, blue)
    float voxelSize;  // edge of every voxel's cube
};

// The one loaded model; null until start-up has loaded it, never freed after.
extern VoxelModel* model;

// Gives back a model a loader returned, with its arrays; null is ignored.
void freeVoxelModel(VoxelModel* m);

// The most voxels a model may hold: 2^31 - 1 over the 36 indices of a voxel's
// cube. Drawing does not need it (the cubes go to GL in calls of
// voxelsPerDrawCall voxels); it keeps every vertex index the cube arrays store
// (below 24 x count) and their number of indices (36 x count) within a signed
// 32-bit int, and it is the count the refusal "Too many voxels to draw" and
// the converter's --max-voxels name. The memory check before the window opens
// refuses far smaller models on machines of today.
constexpr int32_t maxVoxelCount = 2147483647 / 36;

// Reads the voxel text file at `path` into a new model. On failure writes one
// line naming the file to stderr, frees everything it took, closes the file and
// returns null. A regular file is read in pieces (FileWindow), each parsed as
// it arrives, and no further than the header's count of voxels or the first
// number that fails; any other input (a pipe, a terminal, a directory) is read
// through stdio.
VoxelModel* loadVoxels(const char* path);

// The same, reading every number with fscanf: what loadVoxels must agree with,
// value for value and line for line, and how it reads what is not a regular
// file.
VoxelModel* loadVoxelsWithStdio(const char* path);

// Where the loader's one-line messages go: stderr while this is null (the
// viewer), else into the string it points at, without the newline, for a
// caller that reports failures in its own words (the converter).
extern std::string* loaderMessageSink;

// Whether the second half of a big file is read on a second thread while this
// one reads the first; on unless turned off (the benchmark times both ways).
extern bool loaderUsesSecondThread;

// Reads a voxel file already in memory, the `size` bytes at `text` (the
// contents of the file named `path`), as loadVoxels does.
VoxelModel* readVoxelText(const char* text, size_t size, const char* path);
