#include "stages/hollow.h"

#include <algorithm>
#include <vector>

bool hollowGrid(VoxelGrid& grid, int64_t& offLattice, std::string& error) {
    VoxelList& voxels = grid.voxels;
    const size_t count = voxels.colors.size() / 3;
    LatticeKeys keys;
    std::vector<uint32_t> off;
    if (!sortLatticeKeys(grid, keys, off, error)) {
        error += " to be hollowed";
        return false;
    }
    offLattice = int64_t(off.size());
    std::vector<uint32_t>().swap(off);
    std::vector<uint8_t> masks;
    faceNeighbourMasks(keys, masks);
    std::vector<uint8_t> hidden(count, 0);
    for (size_t e = 0; e < keys.entries.size(); ++e)
        hidden[keys.entries[e].index] = masks[e] == 63;
    std::vector<CellEntry>().swap(keys.entries);
    std::vector<uint8_t>().swap(masks);

    // Keep the others in their order, moved down in place.
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        if (hidden[i])
            continue;
        if (kept != i) {
            std::copy_n(&voxels.positions[3 * i], 3, &voxels.positions[3 * kept]);
            std::copy_n(&voxels.colors[3 * i], 3, &voxels.colors[3 * kept]);
        }
        ++kept;
    }
    voxels.positions.resize(3 * kept);
    voxels.colors.resize(3 * kept);
    return true;
}
