// The step from samples to voxels as the converter takes it: the colours
// that follow the data, and the grid asked for, finer or not.
#include <gtest/gtest.h>

#include "int16_volume.h"
#include "samples/sample_grid.h"

#include <cmath>
#include <cstring>

TEST(SampleGrid, ThickSlicesGiveManyTimesTheVoxelsInTheSameBox) {
    // A ball in 4 x 4 x 5 slices, made 2-unit cubes.
    const int64_t dims[3] = {24, 24, 20};
    const double spacing[3] = {4, 4, 5};
    SampleVolume v = int16Volume(dims, spacing, [](int64_t i, int64_t j, int64_t k) {
        const double x = (double(i) - 11.5) * 4, y = (double(j) - 11.5) * 4,
                     z = (double(k) - 9.5) * 5;
        return std::sqrt(x * x + y * y + z * z) < 35 ? 900 : 0;
    });
    SampleRules rules;
    rules.threshold = {true, 300};
    VoxelGrid cubes, fine;
    std::string error;
    ASSERT_TRUE(samplesToGrid(v, ColorMode::grey, rules, 10000000, cubes, error)) << error;
    EXPECT_FALSE(cubes.atAskedSize);
    rules.voxelSize = 2;
    ASSERT_TRUE(samplesToGrid(v, ColorMode::grey, rules, 10000000, fine, error)) << error;
    EXPECT_TRUE(fine.atAskedSize);
    const size_t coarse = cubes.voxels.colors.size() / 3, many = fine.voxels.colors.size() / 3;
    // The same ball in cubes of an eighth to a sixteenth of the volume.
    EXPECT_GT(many, 8 * coarse);
    EXPECT_LT(many, 20 * coarse);
    for (size_t n = 0; n < fine.voxels.positions.size(); n += 3)
        for (int a = 0; a < 3; ++a) {
            const float p = fine.voxels.positions[n + size_t(a)];
            EXPECT_GT(p, -0.5 * spacing[a]);
            EXPECT_LT(p, (double(dims[a]) - 0.5) * spacing[a]);
        }
    // A size at or above the largest spacing is the coarser grid's, later.
    rules.voxelSize = 5;
    ASSERT_TRUE(samplesToGrid(v, ColorMode::grey, rules, 10000000, fine, error));
    EXPECT_FALSE(fine.atAskedSize);
    EXPECT_EQ(fine.voxels.positions, cubes.voxels.positions);
    // --resolution: finer when it asks for more cubes than the ball spans.
    rules.voxelSize = 0;
    rules.resolution = 40;
    ASSERT_TRUE(samplesToGrid(v, ColorMode::grey, rules, 10000000, fine, error));
    EXPECT_TRUE(fine.atAskedSize);
    EXPECT_LT(fine.voxels.voxelSize, 2.0f);
    rules.resolution = 10;
    ASSERT_TRUE(samplesToGrid(v, ColorMode::grey, rules, 10000000, fine, error));
    EXPECT_FALSE(fine.atAskedSize);
}

TEST(SampleGrid, IntegerArraysWithAThresholdAreGreyByValue) {
    const int64_t dims[3] = {2, 1, 1};
    const double spacing[3] = {1, 1, 1};
    SampleVolume v =
        int16Volume(dims, spacing, [](int64_t i, int64_t, int64_t) { return i == 0 ? 400 : 1200; });
    v.meaning = SampleMeaning::labels;
    SampleRules rules;
    rules.threshold = {true, 300};
    VoxelGrid grid;
    std::string error;
    ASSERT_TRUE(samplesToGrid(v, ColorMode::map, rules, 100, grid, error)) << error;
    ASSERT_EQ(grid.voxels.colors.size(), 6u);
    uint8_t dark[3], white[3];
    greyColor(0, dark);
    greyColor(1, white);
    EXPECT_EQ(std::vector<uint8_t>(grid.voxels.colors.begin(), grid.voxels.colors.end()),
              (std::vector<uint8_t>{dark[0], dark[1], dark[2], white[0], white[1], white[2]}));
    // Without the threshold they stay labels.
    ASSERT_TRUE(samplesToGrid(v, ColorMode::map, SampleRules(), 100, grid, error)) << error;
    uint8_t label[3];
    labelColor(400, label);
    EXPECT_EQ(std::vector<uint8_t>(grid.voxels.colors.begin(), grid.voxels.colors.begin() + 3),
              (std::vector<uint8_t>{label[0], label[1], label[2]}));
}

TEST(SampleGrid, ABorderLabelIsNotedAndBackgroundLeavesItOut) {
    const int64_t dims[3] = {6, 6, 6};
    const double spacing[3] = {1, 1, 1};
    SampleVolume v = int16Volume(dims, spacing, [](int64_t i, int64_t j, int64_t k) {
        return i > 1 && i < 4 && j > 1 && j < 4 && k > 1 && k < 4 ? 1 : 3;
    });
    v.meaning = SampleMeaning::labels;
    SampleRules rules;
    VoxelGrid grid;
    std::string error, note;
    ASSERT_TRUE(samplesToGrid(v, ColorMode::map, rules, 1000, grid, error, &note)) << error;
    EXPECT_EQ(grid.voxels.colors.size(), 216u * 3);
    EXPECT_EQ(note, "label 3 fills most of the volume's border, as a background would; "
                    "--background 3 leaves it out");
    note.clear();
    rules.threshold.background = 3;
    ASSERT_TRUE(samplesToGrid(v, ColorMode::map, rules, 1000, grid, error, &note)) << error;
    EXPECT_EQ(grid.voxels.colors.size(), 8u * 3);
    EXPECT_EQ(note, "");
    // A threshold says these are values: no label to speak of.
    rules = SampleRules();
    rules.threshold.given = true;
    rules.threshold.value = 1;
    ASSERT_TRUE(samplesToGrid(v, ColorMode::map, rules, 1000, grid, error, &note)) << error;
    EXPECT_EQ(note, "");
}

TEST(SampleGrid, ColourSamplesAreNeverInterpolatedNorRecoloured) {
    // 2 x 2 x 2 RGB samples of spacing 2, channels fastest: every sample red.
    SampleVolume v;
    v.dims[0] = v.dims[1] = v.dims[2] = 2;
    v.spacing[0] = v.spacing[1] = v.spacing[2] = 2;
    for (int n = 0; n < 8; ++n)
        v.storage.insert(v.storage.end(), {200, 0, 0});
    setColorChannels(v, 3, false);
    SampleRules rules;
    VoxelGrid grid;
    std::string error;
    ASSERT_TRUE(samplesToGrid(v, ColorMode::grey, rules, 1000, grid, error)) << error;
    EXPECT_EQ(grid.voxels.colors.size(), 8u * 3);
    EXPECT_EQ(grid.voxels.colors[0], 200);
    // Finer cubes would take colours between samples that no sample has.
    for (int byResolution = 0; byResolution < 2; ++byResolution) {
        rules = SampleRules();
        if (byResolution)
            rules.resolution = 8;
        else
            rules.voxelSize = 1;
        EXPECT_FALSE(samplesToGrid(v, ColorMode::grey, rules, 1000, grid, error));
        EXPECT_EQ(error, "these are colour samples: they can be made coarser, not finer than "
                         "their largest spacing");
        EXPECT_TRUE(grid.voxels.colors.empty());
    }
    rules = SampleRules();
    rules.colors = ColorMode::labels;
    EXPECT_FALSE(samplesToGrid(v, ColorMode::grey, rules, 1000, grid, error));
    EXPECT_EQ(error, "these are colour samples, each its voxel's colour: --colors does not apply");
}
