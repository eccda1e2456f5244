// Voxel sets the writer tests build: cells of a unit lattice with colours,
// and the exposed faces counted the plain way, against which the writers'
// own answers are checked.
#pragma once

#include "voxels/voxel_grid.h"

#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <tuple>

using Cell = std::array<int64_t, 3>;
using Rgb = std::array<uint8_t, 3>;

// A grid of the cells, centres at origin + cell x step.
inline VoxelGrid gridOf(const std::map<Cell, Rgb>& cells, double step = 1.0,
                        std::array<double, 3> origin = {0.5, 0.5, 0.5}) {
    VoxelGrid grid;
    grid.hasLattice = true;
    grid.step = step;
    grid.voxels.voxelSize = float(step);
    for (int k = 0; k < 3; ++k)
        grid.origin[k] = origin[size_t(k)];
    for (const auto& [cell, rgb] : cells) {
        for (int k = 0; k < 3; ++k)
            grid.voxels.positions.push_back(
                float(origin[size_t(k)] + double(cell[size_t(k)]) * step));
        grid.voxels.colors.insert(grid.voxels.colors.end(), rgb.begin(), rgb.end());
    }
    return grid;
}

// About `count` random cells in a box of `side`, in `colours` colours.
inline std::map<Cell, Rgb> randomCells(std::mt19937& random, int count, int side, int colours) {
    std::map<Cell, Rgb> cells;
    std::uniform_int_distribution<int64_t> at(-side / 2, side - side / 2 - 1);
    std::uniform_int_distribution<int> colour(0, colours - 1);
    for (int i = 0; i < count; ++i) {
        const int c = colour(random);
        cells[{at(random), at(random), at(random)}] = {uint8_t(40 * c), uint8_t(255 - 30 * c),
                                                       uint8_t(17 * c)};
    }
    return cells;
}

// A face: the cell, the axis it looks along and +1 or -1.
struct Face {
    Cell cell;
    int axis, sign;
    bool operator<(const Face& o) const {
        return std::tie(cell, axis, sign) < std::tie(o.cell, o.axis, o.sign);
    }
    bool operator==(const Face& o) const {
        return cell == o.cell && axis == o.axis && sign == o.sign;
    }
};

inline std::set<Face> plainExposedFaces(const std::map<Cell, Rgb>& cells) {
    std::set<Face> faces;
    for (const auto& entry : cells)
        for (int axis = 0; axis < 3; ++axis)
            for (int sign : {-1, 1}) {
                Cell next = entry.first;
                next[size_t(axis)] += sign;
                if (!cells.count(next))
                    faces.insert({entry.first, axis, sign});
            }
    return faces;
}
