// Colours summed per grid cell, and the cells turned into voxels: what the
// voxelizer, the coarser grid and the cubes of unequally spaced samples use
// to give each cell the mean of everything that lands in it.
#pragma once

#include "voxels/voxel_grid.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Cells of a grid of at most maxGridCells along each axis, packed 21 bits
// an axis: x highest, z lowest.
uint64_t packCell(int64_t i, int64_t j, int64_t k);
void unpackCell(uint64_t key, int64_t cell[3]);

// The colours that met one cell, summed.
struct CellColor {
    uint64_t key;
    uint32_t red, green, blue, count;
};

// Every contribution is appended; from time to time the list is sorted by
// cell and each cell's entries are summed into one (the first `merged`
// entries are in that form). Appending is far cheaper than a hash table's
// node per cell, and the list stays within twice the cells plus a million.
struct CellColorSums {
    std::vector<CellColor> cells;
    size_t merged = 0;
    size_t mergeAt = size_t(1) << 20;
    int64_t maxCells = 0;    // more cells than this is an overflow
    bool overflowed = false; // set by a merge that leaves more than maxCells
};

void addCellColor(CellColorSums& sums, uint64_t key, const uint8_t rgb[3]);

// Sorts and sums what came since the last merge; afterwards `cells` holds
// one entry per cell in key order.
void mergeCellColors(CellColorSums& sums);

// The cell's rounded mean colour.
void meanCellColor(const CellColor& sum, uint8_t rgb[3]);

// One voxel for each cell of `sums` (merged), in key order, of its rounded
// mean colour, on the lattice whose cell (0, 0, 0) is centred on `origin`,
// cells `step` apart: cell c at origin + c x step, computed in double and
// rounded to float. Replaces what `out` held.
void cellsToVoxels(const CellColorSums& sums, const double origin[3], double step, VoxelGrid& out);
