// glTF 2.0: the mesh as one primitive with an unlit material, so that the
// voxels look as the viewer shows them. `.glb` holds everything in one file;
// `.gltf` is the JSON with its buffer (NAME.bin) and, for a merged mesh, its
// texture (NAME.png) beside it, begun as companions 1 and 2 of the output.
#pragma once

#include "voxels/voxel_grid.h"
#include "write/byte_sink.h"
#include "write/output_format.h"

#include <string>

// Writes the grid to the output begun for options.path (platform/output_file.h)
// and puts it in place; on failure removes it and sets `error`.
bool writeGlb(const VoxelGrid& grid, const WriteOptions& options, std::string& error);
bool writeGltf(const VoxelGrid& grid, const WriteOptions& options, std::string& error);

// The .glb of the grid's mesh (options.mesh) into `sink` (options.path names
// the output for the progress line). False with one sentence in `error` when
// the mesh cannot be built or is larger than the format holds.
bool putGlb(ByteSink& sink, const VoxelGrid& grid, const WriteOptions& options, std::string& error);

// An 8-bit sRGB colour component as the linear value glTF's vertex colours
// hold.
float linearFromSrgb(uint8_t value);
