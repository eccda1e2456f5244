// The writer of the viewer's voxel text file.
#pragma once

#include "write/output_format.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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
