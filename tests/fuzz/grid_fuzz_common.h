// What the grid readers' fuzz targets share: one call of a reader on the
// bytes, with a memory limit well below libFuzzer's, and the checks every
// answer must pass.
#pragma once

#include "convert/voxel_grid.h"

#include <cstdint>
#include <cstdlib>
#include <string>

// The path is in a folder that does not exist, so that a header naming a
// relative data file finds nothing rather than whatever lies in the
// working directory.
inline void fuzzGridReader(GridReader reader, const uint8_t* data, size_t size, const char* path) {
    GridReadOptions options;
    options.path = path;
    options.maxVoxels = 1000000;
    options.maxBytes = int64_t(256) << 20;
    // The threshold lets values through, so that colours and cubes are made.
    options.threshold = ThresholdRule{true, 1.0};
    VoxelGrid grid;
    std::string error;
    if (!reader(data, size, options, grid, error)) {
        if (error.empty())
            abort(); // a refusal always says why
        return;
    }
    const VoxelList& v = grid.voxels;
    if (v.colors.size() % 3 != 0 || v.positions.size() != v.colors.size() ||
        int64_t(v.colors.size() / 3) > options.maxVoxels)
        abort();
}
