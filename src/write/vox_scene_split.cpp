#include "write/vox_scene_split.h"

#include <algorithm>
#include <array>
#include <map>

void splitIntoModels(const std::vector<int64_t>& cells, const std::vector<uint8_t>& colorIndex,
                     std::vector<VoxBlockModel>& models) {
    models.clear();
    const size_t count = colorIndex.size();
    if (count == 0)
        return;
    int64_t low[3] = {cells[0], cells[1], cells[2]};
    for (size_t i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k)
            low[k] = std::min(low[k], cells[3 * i + size_t(k)]);
    // Blocks in the order of their position, so that equal inputs give equal
    // files.
    using Block = std::array<int64_t, 3>;
    auto blockOf = [&](size_t i) {
        Block block;
        for (int k = 0; k < 3; ++k)
            block[size_t(k)] = (cells[3 * i + size_t(k)] - low[k]) / maxVoxModelSide;
        return block;
    };
    std::map<Block, size_t> blockModel;
    for (size_t i = 0; i < count; ++i)
        blockModel.emplace(blockOf(i), 0);
    models.resize(blockModel.size());
    size_t next = 0;
    for (auto& entry : blockModel) {
        entry.second = next;
        for (int k = 0; k < 3; ++k)
            models[next].corner[k] = low[k] + entry.first[size_t(k)] * maxVoxModelSide;
        ++next;
    }
    Block last = blockOf(0);
    size_t lastModel = blockModel[last];
    for (size_t i = 0; i < count; ++i) {
        const Block block = blockOf(i);
        if (block != last) {
            last = block;
            lastModel = blockModel[block];
        }
        VoxBlockModel& model = models[lastModel];
        uint8_t voxel[4];
        for (int k = 0; k < 3; ++k) {
            const int64_t local = cells[3 * i + size_t(k)] - model.corner[k];
            voxel[k] = uint8_t(local);
            model.size[k] = std::max(model.size[k], int32_t(local + 1));
        }
        voxel[3] = colorIndex[i];
        model.voxels.insert(model.voxels.end(), voxel, voxel + 4);
    }
}

int64_t voxTranslation(int64_t corner, int32_t size) {
    return corner + size / 2;
}
