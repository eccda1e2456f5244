// Voxel files (.vxl) as input, read by the viewer's own loader, so that a set
// can be hollowed or made coarser and shows afterwards exactly as before.
#pragma once

#include "convert/voxel_grid.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Whether a file is a voxel file: named .vxl, or starting (after white space)
// with a whole number and a second number, as its header does.
bool looksLikeVxl(const uint8_t* head, size_t size, const char* path);

// Reads a voxel file in memory with the viewer's loader (same values to the
// bit, same refusals; the loader's message becomes `error`). The lattice is
// the one through the first voxel, one voxel size apart (see voxel_grid.h
// and lattice_cells.h for which voxels count as on it).
bool readVxlGrid(const uint8_t* data, size_t size, const GridReadOptions& options, VoxelGrid& out,
                 std::string& error);
