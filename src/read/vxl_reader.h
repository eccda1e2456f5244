// Voxel files (.vxl) as input, read by the viewer's own loader, so that a set
// can be hollowed or made coarser and shows afterwards exactly as before.
#pragma once

#include "read/input_format.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Whether a file starts (after white space) with a whole number and a second
// number, as a voxel file's header does.
bool startsWithVxlHeader(const uint8_t* head, size_t size);

// Reads a voxel file in memory with the viewer's loader (same values to the
// bit, same refusals; the loader's message becomes `error`). The lattice is
// the one through the first voxel, one voxel size apart (see voxel_grid.h
// and stages/lattice_cells.h for which voxels count as on it).
bool readVxlGrid(const uint8_t* data, size_t size, const ReadOptions& options, VoxelGrid& out,
                 std::string& error);
