// The converter's output: a list of voxels and the writer of the viewer's
// voxel text file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Voxels ready to be written: one shared edge length, a centre and an 8-bit
// colour per voxel.
struct VoxelList {
    float voxelSize = 1.0f;
    std::vector<float> positions; // x, y, z of each centre
    std::vector<uint8_t> colors;  // red, green, blue of each voxel
};

// The most voxels a conversion makes unless --max-voxels says otherwise (the
// --help text states it too).
constexpr int64_t defaultMaxVoxels = 10000000;

// Writes `voxels` in the viewer's text format: the count and voxel size on the
// first line, then "x y z r g b" per voxel. Each float is printed as the
// shortest decimal that reads back (as by strtof or the "%f" conversion) to
// the very same 32-bit float. Returns false when a write fails.
bool writeVoxelStream(FILE* out, const VoxelList& voxels);

// Writes `voxels` to the output file begun with beginOutputFile
// (platform/output_file.h) and renames it into place. On failure sets
// `error` to a sentence naming the file and the reason, removes what was
// written, leaves an existing output as it was and returns false.
bool finishVoxelFile(const VoxelList& voxels, std::string& error);
