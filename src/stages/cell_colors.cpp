#include "stages/cell_colors.h"

#include <algorithm>

uint64_t packCell(int64_t i, int64_t j, int64_t k) {
    return uint64_t(i) << 42 | uint64_t(j) << 21 | uint64_t(k);
}

void unpackCell(uint64_t key, int64_t cell[3]) {
    const uint64_t mask = (uint64_t(1) << 21) - 1;
    cell[0] = int64_t(key >> 42);
    cell[1] = int64_t(key >> 21 & mask);
    cell[2] = int64_t(key & mask);
}

static bool keyLess(const CellColor& a, const CellColor& b) {
    return a.key < b.key;
}

void mergeCellColors(CellColorSums& sums) {
    std::vector<CellColor>& cells = sums.cells;
    std::sort(cells.begin() + std::ptrdiff_t(sums.merged), cells.end(), keyLess);
    std::inplace_merge(cells.begin(), cells.begin() + std::ptrdiff_t(sums.merged), cells.end(),
                       keyLess);
    size_t out = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (out > 0 && cells[out - 1].key == cells[i].key) {
            CellColor& sum = cells[out - 1];
            sum.red += cells[i].red;
            sum.green += cells[i].green;
            sum.blue += cells[i].blue;
            sum.count += cells[i].count;
        } else {
            cells[out++] = cells[i];
        }
    }
    cells.resize(out);
    sums.merged = out;
    sums.mergeAt = out + std::max<size_t>(out, size_t(1) << 20);
    if (int64_t(out) > sums.maxCells)
        sums.overflowed = true;
}

void addCellColor(CellColorSums& sums, uint64_t key, const uint8_t rgb[3]) {
    sums.cells.push_back(CellColor{key, rgb[0], rgb[1], rgb[2], 1});
    if (sums.cells.size() >= sums.mergeAt)
        mergeCellColors(sums);
}

void meanCellColor(const CellColor& sum, uint8_t rgb[3]) {
    rgb[0] = uint8_t((sum.red + sum.count / 2) / sum.count);
    rgb[1] = uint8_t((sum.green + sum.count / 2) / sum.count);
    rgb[2] = uint8_t((sum.blue + sum.count / 2) / sum.count);
}

void cellsToVoxels(const CellColorSums& sums, const double origin[3], double step, VoxelGrid& out) {
    VoxelGrid grid;
    grid.hasLattice = true;
    grid.step = step;
    std::copy(origin, origin + 3, grid.origin);
    VoxelList& voxels = grid.voxels;
    voxels.voxelSize = float(step);
    voxels.positions.reserve(3 * sums.cells.size());
    voxels.colors.reserve(3 * sums.cells.size());
    for (const CellColor& sum : sums.cells) {
        int64_t cell[3];
        unpackCell(sum.key, cell);
        for (int k = 0; k < 3; ++k)
            voxels.positions.push_back(float(origin[k] + double(cell[k]) * step));
        uint8_t rgb[3];
        meanCellColor(sum, rgb);
        voxels.colors.insert(voxels.colors.end(), rgb, rgb + 3);
    }
    out = std::move(grid);
}
