#include "stages/coarse_grid.h"

#include "stages/cell_colors.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

bool fail(std::string& error, const std::string& message) {
    error = message;
    return false;
}

std::string decimal(double value) {
    char text[64];
    snprintf(text, sizeof text, "%.9g", value);
    return text;
}

bool finitePosition(const float* p) {
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

} // namespace

std::string coarserGridOverflow(int64_t maxVoxels) {
    return "more than " + std::to_string(maxVoxels) +
           " voxels on the coarser grid; choose a larger --voxel-size or a smaller --resolution, "
           "or raise --max-voxels";
}

bool coarsenGrid(VoxelGrid& grid, double cellSize, int64_t resolution, int64_t maxVoxels,
                 int64_t& skipped, std::string& error) {
    const VoxelList& in = grid.voxels;
    const size_t count = in.colors.size() / 3;
    const double edge = double(in.voxelSize);
    skipped = 0;
    if (count == 0)
        return true;
    if (!(edge > 0) || !std::isfinite(edge))
        return fail(error, "its voxel size (" + decimal(edge) +
                               ") is not a positive number, so it cannot be made coarser");

    // The box of the voxels' cubes.
    double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (size_t i = 0; i < count; ++i) {
        const float* p = &in.positions[3 * i];
        if (!finitePosition(p)) {
            ++skipped;
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], double(p[k]));
            hi[k] = std::max(hi[k], double(p[k]));
        }
    }
    if (size_t(skipped) == count)
        return fail(error, "no voxel has a finite position");
    double corner[3], extent[3];
    for (int k = 0; k < 3; ++k) {
        corner[k] = lo[k] - 0.5 * edge;
        extent[k] = hi[k] - lo[k] + edge;
    }
    const double longest = std::max({extent[0], extent[1], extent[2]});
    const double size = cellSize > 0 ? cellSize : longest / double(resolution);
    // Compared as the floats they are written as: a cell size typed as the
    // voxel size's decimal must count as that size.
    if (float(size) < in.voxelSize) {
        if (cellSize > 0)
            return fail(error, "--voxel-size " + decimal(cellSize) +
                                   " is smaller than its voxels (" + decimal(edge) +
                                   "); a voxel input can only be made coarser");
        return fail(error, "--resolution " + std::to_string(resolution) +
                               " is finer than its voxels (at most " +
                               decimal(std::floor(longest / edge)) +
                               " along its longest side); a voxel input can only be made coarser");
    }
    if (!(float(size) > 0) || !std::isfinite(float(size)))
        return fail(error, "the voxel size does not fit a 32-bit float");
    int64_t cells[3];
    for (int k = 0; k < 3; ++k) {
        const double along = std::max(1.0, std::ceil(extent[k] / size));
        if (!(along <= double(maxGridCells)))
            return fail(error, "the grid would be " + decimal(along) + " voxels long (at most " +
                                   std::to_string(maxGridCells) +
                                   "); choose a larger --voxel-size");
        cells[k] = int64_t(along);
    }

    // Each voxel goes to the cell its centre falls in.
    CellColorSums sums;
    sums.maxCells = maxVoxels;
    for (size_t i = 0; i < count && !sums.overflowed; ++i) {
        const float* p = &in.positions[3 * i];
        if (!finitePosition(p))
            continue;
        int64_t cell[3];
        for (int k = 0; k < 3; ++k)
            cell[k] = std::clamp<int64_t>(int64_t(std::floor((double(p[k]) - corner[k]) / size)), 0,
                                          cells[k] - 1);
        addCellColor(sums, packCell(cell[0], cell[1], cell[2]), &in.colors[3 * i]);
    }
    if (!sums.overflowed)
        mergeCellColors(sums);
    if (sums.overflowed)
        return fail(error, coarserGridOverflow(maxVoxels));

    const double origin[3] = {corner[0] + 0.5 * size, corner[1] + 0.5 * size,
                              corner[2] + 0.5 * size};
    const bool madeUp = grid.madeUpColors;
    cellsToVoxels(sums, origin, size, grid);
    grid.madeUpColors = madeUp;
    return true;
}
