// The hollow stage: leaves out the voxels no one can see from outside.
#pragma once

#include "convert/voxel_grid.h"

#include <cstdint>
#include <string>

// Leaves out every voxel whose six face neighbours are all occupied, on the
// grid's lattice; voxels whose position is not exactly a lattice point (and
// every voxel of a grid without a lattice) are kept. The voxels kept are
// neither moved nor reordered, so their positions stay bit for bit what they
// were. A voxel on the boundary of the set's box always lacks a neighbour
// and is kept, so the box is unchanged. `offLattice` counts the voxels kept
// because they are off the lattice. Fails only when the lattice cells the
// voxels span cannot be packed into 64-bit keys.
bool hollowGrid(VoxelGrid& grid, int64_t& offLattice, std::string& error);
