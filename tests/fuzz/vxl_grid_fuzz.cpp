// Feeds arbitrary bytes to the converter's voxel-file reader and runs what it
// accepts through the grid stages (hollow, then a coarser grid), so that
// hostile positions and voxel sizes (NaN, infinities, 1e38 next to 1e-38)
// meet the lattice arithmetic and the cell keys under the address and
// undefined-behaviour checks.
#include "read/vxl_reader.h"
#include "stages/coarse_grid.h"
#include "stages/hollow.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadOptions options;
    options.path = "fuzz.vxl";
    options.maxVoxels = 1000000;
    VoxelGrid grid;
    std::string error;
    if (!readVxlGrid(data, size, options, grid, error)) {
        if (error.empty())
            abort(); // a refusal always says why
        return 0;
    }
    const size_t count = grid.voxels.colors.size() / 3;
    int64_t offLattice = 0;
    if (hollowGrid(grid, offLattice, error)) {
        // Hollowing only ever leaves voxels out.
        if (grid.voxels.colors.size() / 3 > count || offLattice < 0 || size_t(offLattice) > count ||
            grid.voxels.positions.size() != 3 * (grid.voxels.colors.size() / 3))
            abort();
    } else if (error.empty()) {
        abort();
    }
    int64_t skipped = 0;
    if (coarsenGrid(grid, 0, 7, 1000000, skipped, error)) {
        const size_t cells = grid.voxels.colors.size() / 3;
        if (cells > 7 * 7 * 7 || (cells > 0 && !grid.hasLattice))
            abort();
    } else if (error.empty()) {
        abort();
    }
    return 0;
}
