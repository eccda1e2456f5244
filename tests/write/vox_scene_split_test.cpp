// Models of at most 256 a side: every voxel in exactly one, at its place,
// and the transform that puts each model back where its voxels were.
#include <gtest/gtest.h>

#include "write/vox_scene_split.h"

#include <set>

namespace {

TEST(VoxSceneSplit, CutsAtEvery256CellsFromTheLowestAndKeepsEachVoxel) {
    std::vector<int64_t> cells;
    std::vector<uint8_t> colours;
    for (int64_t x = -300; x < 300; x += 7)
        for (int64_t z = 10; z < 530; z += 13) {
            cells.insert(cells.end(), {x, 5, z});
            colours.push_back(uint8_t(1 + (x + 300 + z) % 255));
        }
    std::vector<VoxBlockModel> models;
    splitIntoModels(cells, colours, models);
    EXPECT_EQ(models.size(), 3u * 2u);
    std::set<std::vector<int64_t>> placed;
    for (const VoxBlockModel& model : models) {
        for (int k = 0; k < 3; ++k) {
            EXPECT_GT(model.size[k], 0);
            EXPECT_LE(model.size[k], maxVoxModelSide);
        }
        // Corners lie 256 apart from the lowest cell on each axis.
        EXPECT_EQ((model.corner[0] + 300) % 256, 0);
        EXPECT_EQ(model.corner[1], 5);
        EXPECT_EQ((model.corner[2] - 10) % 256, 0);
        for (size_t v = 0; v < model.voxels.size(); v += 4) {
            std::vector<int64_t> cell(3);
            for (int k = 0; k < 3; ++k) {
                EXPECT_LT(model.voxels[v + size_t(k)], model.size[k]);
                cell[size_t(k)] = model.corner[k] + model.voxels[v + size_t(k)];
            }
            cell.push_back(model.voxels[v + 3]);
            EXPECT_TRUE(placed.insert(cell).second);
        }
    }
    std::set<std::vector<int64_t>> given;
    for (size_t i = 0; i < colours.size(); ++i)
        given.insert({cells[3 * i], cells[3 * i + 1], cells[3 * i + 2], colours[i]});
    EXPECT_EQ(placed, given);
}

TEST(VoxSceneSplit, TheTransformBringsVoxelZeroBackToTheCorner) {
    // The reading of a .vox scene: a voxel's centre relative to the model's
    // centre, doubled, moved by twice the translation, halved and floored.
    for (int32_t size = 1; size <= 256; ++size)
        for (int64_t corner : {-1000, -1, 0, 3, 77777}) {
            const int64_t t = voxTranslation(corner, size);
            for (int64_t v : {int64_t(0), int64_t(size - 1)}) {
                const int64_t doubled = 2 * t + 2 * v + 1 - size;
                const int64_t floored = doubled >= 0 ? doubled / 2 : -((-doubled + 1) / 2);
                ASSERT_EQ(floored, corner + v) << "size " << size << " corner " << corner;
            }
        }
}

} // namespace
