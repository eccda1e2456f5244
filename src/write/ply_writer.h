// PLY, binary little-endian: float positions, a colour on each vertex
// (8-bit red, green, blue, as the voxels'), triangles as lists of three
// 32-bit indices. PLY carries no texture that tools agree on, so a merged
// mesh merges only faces of one colour.
#pragma once

#include "voxels/voxel_grid.h"
#include "write/output_format.h"

#include <string>

// Writes the grid to the output begun for options.path and puts it in place; on
// failure removes it and sets `error`.
bool writePly(const VoxelGrid& grid, const WriteOptions& options, std::string& error);
