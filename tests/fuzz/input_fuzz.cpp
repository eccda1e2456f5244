// Feeds arbitrary bytes to every input format of the converter's table, as
// the converter reads them: the row the content chooses (a gzip stream looked
// into), or, when no row's content test claims the bytes, each row in turn,
// as a name would choose it. Whatever is read then goes through the grid
// stages (shade, hollow, then a coarser grid) and the voxel-file writer, so that
// every size, count, offset and number a file claims meets the readers,
// the lattice arithmetic and the cell keys under the address and
// undefined-behaviour checks.
#include "convert/input_read.h"
#include "fuzz_file.h"
#include "stages/coarse_grid.h"
#include "stages/hollow.h"
#include "stages/shade.h"
#include "write/vxl_writer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A refusal says why, in one line.
void checkRefusal(const std::string& error) {
    if (error.empty() || error.find('\n') != std::string::npos)
        abort();
}

void runStages(VoxelGrid& grid) {
    std::string error;
    const size_t count = grid.voxels.colors.size() / 3;
    int64_t offLattice = 0;
    const std::vector<float> positions = grid.voxels.positions;
    // The outside's flood fill is bounded to a small box: the fuzz build's
    // instrumentation makes a box of the default 2^27 cells, which a few
    // voxels far apart reach, take minutes, and the fill's logic is the same.
    if (shadeGrid(grid, offLattice, error, int64_t(1) << 20)) {
        // Shading changes colours alone (positions compared as bits: a NaN
        // is not equal to itself).
        if (grid.voxels.positions.size() != positions.size() ||
            (!positions.empty() &&
             memcmp(grid.voxels.positions.data(), positions.data(), positions.size() * 4) != 0) ||
            grid.voxels.colors.size() != 3 * count || offLattice < 0 || size_t(offLattice) > count)
            abort();
    } else {
        checkRefusal(error);
    }
    if (hollowGrid(grid, offLattice, error)) {
        // Hollowing only ever leaves voxels out.
        if (grid.voxels.colors.size() / 3 > count || offLattice < 0 || size_t(offLattice) > count ||
            grid.voxels.positions.size() != 3 * (grid.voxels.colors.size() / 3))
            abort();
    } else {
        checkRefusal(error);
    }
    int64_t skipped = 0;
    if (coarsenGrid(grid, 0, 7, 1000000, skipped, error)) {
        const size_t cells = grid.voxels.colors.size() / 3;
        if (cells > 7 * 7 * 7 || (cells > 0 && !grid.hasLattice))
            abort();
    } else {
        checkRefusal(error);
    }
}

void readAs(const InputChoice& choice, const uint8_t* data, size_t size, const char* path) {
    static FILE* sink = fopen("/dev/null", "wb");
    if (!sink)
        abort();
    ReadOptions options;
    // A reader by path is given the bytes as a file alone in its folder.
    options.path = choice.format->readSamplesAt
                       ? writeFuzzInputAlone("input_fuzz", "input.dcm", data, size)
                       : path;
    options.maxVoxels = 1000000;
    options.maxBytes = int64_t(256) << 20;
    // The threshold lets values through, so that colours and cubes are made.
    SampleRules rules;
    rules.threshold = ThresholdRule{true, 1.0};
    VoxelGrid grid;
    std::string error;
    if (!readInputAs(choice, data, size, options, rules, grid, error)) {
        checkRefusal(error);
        return;
    }
    const VoxelList& v = grid.voxels;
    if (v.colors.size() % 3 != 0 || v.positions.size() != v.colors.size() ||
        int64_t(v.colors.size() / 3) > options.maxVoxels)
        abort();
    writeVoxelStream(sink, v);
    runStages(grid);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The paths are in a folder that does not exist, so that a header naming
    // a relative data file finds nothing rather than whatever lies in the
    // working directory.
    const std::string folder = "/nonexistent-fuzz-dir/input";
    InputChoice choice;
    std::string error;
    if (!chooseInput(data, size, folder.c_str(), choice, error)) {
        checkRefusal(error);
        return 0;
    }
    if (choice.format) {
        readAs(choice, data, size, folder.c_str());
        return 0;
    }
    for (const InputFormat* format : inputFormats()) {
        // A row read by path (a folder of slices) takes no bytes, nor a name.
        if (format->readSamplesAt)
            continue;
        choice.format = format;
        readAs(choice, data, size, (folder + format->extensions[0]).c_str());
    }
    return 0;
}
