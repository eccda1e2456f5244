// The hollow stage: leaves out the voxels no one can see from outside.
#pragma once

#include "voxels/voxel_grid.h"

#include <cstdint>
#include <string>

// How far from a lattice point, in steps, a voxel may lie and still count as
// on it; or eight float spacings at its position, where that is more. Files
// written by other programs compute positions in their own arithmetic (a
// float step, a double step rounded to the float voxel size, x0 + i dx in
// float) and land a few float spacings from where this program would put
// them. Lattice points closer than 32 float spacings are not told apart
// (such voxels are off the lattice), so a voxel's neighbours always lie at
// least half a step beyond it and the set's box cannot change; the
// gaps the tolerance allows between neighbours are as fine as the floats
// the viewer draws with.
constexpr double latticeTolerance = 1.0 / 1024;

// Leaves out every voxel whose six face neighbours are all occupied, on the
// grid's lattice; voxels that are not near a lattice point (see
// latticeTolerance), and every voxel of a grid without a lattice, are kept. The voxels kept are
// neither moved nor reordered, so their positions stay bit for bit what they
// were. A voxel on the boundary of the set's box always lacks a neighbour
// and is kept, so the box is unchanged. `offLattice` counts the voxels kept
// because they are off the lattice.
bool hollowGrid(VoxelGrid& grid, int64_t& offLattice, std::string& error);
