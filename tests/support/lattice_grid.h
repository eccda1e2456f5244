// An empty voxel grid on a lattice, for the tests of the stages that find
// neighbours on it.
#pragma once

#include "voxels/voxel_grid.h"

#include <algorithm>

// A grid whose lattice has its cell (0, 0, 0) at `origin` on every axis.
inline VoxelGrid latticeGrid(double origin, double step) {
    VoxelGrid grid;
    grid.hasLattice = true;
    std::fill(grid.origin, grid.origin + 3, origin);
    grid.step = step;
    grid.voxels.voxelSize = float(step);
    return grid;
}
