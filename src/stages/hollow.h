// The hollow stage: leaves out the voxels no one can see from outside.
#pragma once

#include "voxels/voxel_grid.h"

#include <cstdint>
#include <string>

// Leaves out every voxel whose six face neighbours are all occupied, on the
// grid's lattice; voxels that are not near a lattice point (see
// stages/lattice_cell.h), and every voxel of a grid without a lattice, are kept. The voxels kept
// are neither moved nor reordered, so their positions stay bit for bit what they were. A voxel on
// the boundary of the set's box always lacks a neighbour and is kept, so the box is unchanged.
// `offLattice` counts the voxels kept because they are off the lattice.
bool hollowGrid(VoxelGrid& grid, int64_t& offLattice, std::string& error);
