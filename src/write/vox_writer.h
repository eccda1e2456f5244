// MagicaVoxel .vox: the voxels on the grid the input's lattice gives, one
// .vox unit per lattice step, z up; models of at most 256 a side placed by
// the scene graph's transforms; a palette of at most 255 colours.
#pragma once

#include "voxels/voxel_grid.h"
#include "write/output_format.h"

#include <string>

// Writes the grid to the output begun for options.path and puts it in place; on
// failure removes it and sets `error`. Notes on stderr say how many voxels
// were moved onto the lattice and how far colours moved when the set has
// more than 255.
bool writeVox(const VoxelGrid& grid, const WriteOptions& options, std::string& error);
