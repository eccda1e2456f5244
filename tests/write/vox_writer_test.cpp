// .vox files read back by the converter's own .vox reader: the same voxels
// at the same places, colours exact up to 255 of them, voxels off the
// lattice moved to the nearest cell.
#include <gtest/gtest.h>

#include "platform/output_file.h"
#include "read/vox_reader.h"
#include "scratch_dir.h"
#include "voxel_sets.h"
#include "write/vox_writer.h"

namespace {

struct VoxWriter : ScratchDirTest {
    void TearDown() override {
        abandonOutputFile();
        ScratchDirTest::TearDown();
    }
    // The grid written and read back, as {position: colour}.
    std::map<std::array<float, 3>, Rgb> roundTrip(const VoxelGrid& grid) {
        const std::string out = dir + "/out.vox";
        std::string error;
        EXPECT_TRUE(beginOutputFile(out.c_str(), "vxltest", &error)) << error;
        EXPECT_TRUE(writeVox(grid, {out.c_str()}, error)) << error;
        const std::string bytes = contents(out);
        VoxScene scene;
        EXPECT_TRUE(
            parseVox(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), scene, error))
            << error;
        models = scene.models.size();
        VoxelList back;
        EXPECT_TRUE(placeVoxScene(scene, 1.0f, 100000000, back, error)) << error;
        return asMap(back);
    }
    static std::map<std::array<float, 3>, Rgb> asMap(const VoxelList& list) {
        std::map<std::array<float, 3>, Rgb> voxels;
        for (size_t i = 0; i < list.colors.size() / 3; ++i)
            voxels[{list.positions[3 * i], list.positions[3 * i + 1], list.positions[3 * i + 2]}] =
                {list.colors[3 * i], list.colors[3 * i + 1], list.colors[3 * i + 2]};
        return voxels;
    }
    size_t models = 0;
};

TEST_F(VoxWriter, ASetOnTheVoxLatticeComesBackExactly) {
    std::mt19937 random(9);
    // 600 cells wide: three models along x; at most 255 colours.
    std::map<Cell, Rgb> cells = randomCells(random, 3000, 40, 12);
    for (int64_t x = 0; x < 600; ++x)
        cells[{x, -3, 7}] = {uint8_t(x % 200), 9, 250};
    const VoxelGrid grid = gridOf(cells); // centres at half units: the .vox cells
    EXPECT_EQ(roundTrip(grid), asMap(grid.voxels));
    EXPECT_EQ(models, 3u);
}

TEST_F(VoxWriter, OtherLatticesAndLooseVoxelsLandOnWholeCells) {
    // A lattice of 0.2 through 0.1: one .vox unit a step, the same shape.
    std::map<Cell, Rgb> cells = {
        {{0, 0, 0}, {1, 2, 3}}, {{2, 0, 0}, {4, 5, 6}}, {{0, 1, 5}, {7, 8, 9}}};
    VoxelGrid grid = gridOf(cells, 0.2, {0.1, 0.1, 0.1});
    // Half a step beyond the last: moved to the nearest cell (3, 0, 0).
    grid.voxels.positions.insert(grid.voxels.positions.end(), {0.1f + 0.2f * 2.6f, 0.1f, 0.1f});
    grid.voxels.colors.insert(grid.voxels.colors.end(), {10, 11, 12});
    // A third of a step from cell (0, 0, 0): the later voxel takes the cell.
    grid.voxels.positions.insert(grid.voxels.positions.end(), {0.1f + 0.2f / 3, 0.1f, 0.1f});
    grid.voxels.colors.insert(grid.voxels.colors.end(), {20, 21, 22});
    const auto back = roundTrip(grid);
    std::map<std::array<float, 3>, Rgb> expected;
    for (const auto& [cell, rgb] : cells)
        expected[{float(cell[0]) + 0.5f, float(cell[1]) + 0.5f, float(cell[2]) + 0.5f}] = rgb;
    expected[{3.5f, 0.5f, 0.5f}] = {10, 11, 12};
    expected[{0.5f, 0.5f, 0.5f}] = {20, 21, 22};
    EXPECT_EQ(back, expected);
}

} // namespace
