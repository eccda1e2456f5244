// What the grid readers' fuzz targets share: the bytes read as the
// converter's table chooses, with a memory limit well below libFuzzer's,
// and the checks every answer must pass.
#pragma once

#include "convert/input_read.h"

#include <cstdint>
#include <cstdlib>
#include <string>

// The path is in a folder that does not exist, so that a header naming a
// relative data file finds nothing rather than whatever lies in the
// working directory; its name chooses the row when the content does not.
inline void fuzzGridReader(const uint8_t* data, size_t size, const char* path) {
    ReadOptions options;
    options.path = path;
    options.maxVoxels = 1000000;
    options.maxBytes = int64_t(256) << 20;
    // The threshold lets values through, so that colours and cubes are made.
    SampleRules rules;
    rules.threshold = ThresholdRule{true, 1.0};
    VoxelGrid grid;
    std::string error;
    InputChoice choice;
    if (!chooseInput(data, size < inputHeadBytes ? size : inputHeadBytes, path, choice, error)) {
        if (error.empty())
            abort(); // a refusal always says why
        return;
    }
    if (!choice.format)
        return;
    if (!readInputAs(choice, data, size, options, rules, grid, error)) {
        if (error.empty())
            abort(); // a refusal always says why
        return;
    }
    const VoxelList& v = grid.voxels;
    if (v.colors.size() % 3 != 0 || v.positions.size() != v.colors.size() ||
        int64_t(v.colors.size() / 3) > options.maxVoxels)
        abort();
}
