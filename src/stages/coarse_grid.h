// The coarser-grid stage: voxels merged into larger cells.
#pragma once

#include "voxels/voxel_grid.h"

#include <cstdint>
#include <string>

// Merges the voxels into cells of edge `cellSize` (or, when `cellSize` is 0,
// `resolution` cells along the longest side of the box of their cubes), the
// cells starting at the lowest corner of that box. Each cell that holds a
// voxel's centre becomes one voxel of edge `cellSize`, coloured by the
// rounded mean of its voxels. Voxels whose centre is not finite are left out
// and counted in `skipped`. The result lies on the new cells' lattice. Fails
// when the cell size is below the grid's voxel size, when the grid would be
// more than maxGridCells long, or when more than `maxVoxels` cells result.
bool coarsenGrid(VoxelGrid& grid, double cellSize, int64_t resolution, int64_t maxVoxels,
                 int64_t& skipped, std::string& error);

// The refusal of a coarser grid of more than `maxVoxels` cells.
std::string coarserGridOverflow(int64_t maxVoxels);
