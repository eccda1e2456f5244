#include <gtest/gtest.h>

#include "samples/volume_colors.h"
#include "samples/volume_resample.h"

#include <cmath>
#include <cstring>

namespace {

// A uint8 volume in Fortran order (i fastest) from a function of (i, j, k).
template <typename F>
SampleVolume uint8Volume(int64_t ni, int64_t nj, int64_t nk, F value, double si = 1, double sj = 1,
                         double sk = 1) {
    SampleVolume v;
    v.dims[0] = ni, v.dims[1] = nj, v.dims[2] = nk;
    v.spacing[0] = si, v.spacing[1] = sj, v.spacing[2] = sk;
    v.type = SampleType::uint8;
    v.meaning = SampleMeaning::values;
    setSampleOrder(v, true);
    for (int64_t k = 0; k < nk; ++k)
        for (int64_t j = 0; j < nj; ++j)
            for (int64_t i = 0; i < ni; ++i)
                v.storage.push_back(uint8_t(value(i, j, k)));
    return v;
}

struct Voxel {
    float x, y, z;
    uint8_t rgb[3];
};

std::vector<Voxel> voxelsOf(const VoxelGrid& grid) {
    std::vector<Voxel> out;
    for (size_t n = 0; n < grid.voxels.colors.size() / 3; ++n) {
        Voxel v;
        memcpy(&v.x, &grid.voxels.positions[3 * n], 12);
        memcpy(v.rgb, &grid.voxels.colors[3 * n], 3);
        out.push_back(v);
    }
    return out;
}

} // namespace

TEST(VolumeResample, AnisotropicSamplesGatherIntoCubesOfTheLargestSpacing) {
    // Spacing 1 x 1 x 3: cubes of edge 3 take three samples along i and j.
    // Samples (i, j, k) pass where value >= 10; values are 10 * (i + 1).
    SampleVolume v = uint8Volume(
        6, 3, 2, [](int64_t i, int64_t, int64_t k) { return k == 0 ? 10 * (i + 1) : 0; }, 1, 1, 3);
    v.origin[0] = 100, v.origin[1] = 0, v.origin[2] = -3;
    ThresholdRule rule{true, 10.0};
    VoxelGrid grid;
    std::string error;
    ASSERT_TRUE(resampleToCubes(v, rule, ColorMode::grey, 1000, grid, error)) << error;
    std::vector<Voxel> voxels = voxelsOf(grid);
    ASSERT_EQ(voxels.size(), 2u);
    EXPECT_FLOAT_EQ(grid.voxels.voxelSize, 3.0f);
    // Cube 0 along i holds samples 0..2 (centres 0.5, 1.5, 2.5 of 3 units),
    // cube 1 samples 3..5: centres 100 - 0.5 + 1.5 and + 4.5; along k the
    // spacing is the cube edge, so the cube is the sample.
    EXPECT_FLOAT_EQ(voxels[0].x, 101.0f);
    EXPECT_FLOAT_EQ(voxels[1].x, 104.0f);
    EXPECT_FLOAT_EQ(voxels[0].y, 1.0f);
    EXPECT_FLOAT_EQ(voxels[0].z, -3.0f);
    // Grey from 64 (value 10, the lowest passing) to 255 (60, the highest):
    // each cube the rounded mean of its samples' greys.
    auto grey = [](int value) { return 64 + 191.0 * (value - 10) / 50; };
    auto meanOf = [&](int a, int b, int c) {
        long sum = std::lround(grey(a)) + std::lround(grey(b)) + std::lround(grey(c));
        return uint8_t((3 * sum + 4) / 9); // nine samples, three of each value
    };
    EXPECT_EQ(voxels[0].rgb[0], meanOf(10, 20, 30));
    EXPECT_EQ(voxels[1].rgb[0], meanOf(40, 50, 60));
    EXPECT_EQ(voxels[0].rgb[1], voxels[0].rgb[0]);
    // The lattice the stages use: every centre is origin + index x step.
    ASSERT_TRUE(grid.hasLattice);
    EXPECT_DOUBLE_EQ(grid.step, 3.0);
    for (const Voxel& voxel : voxels) {
        double index = (double(voxel.x) - grid.origin[0]) / grid.step;
        EXPECT_EQ(index, std::floor(index));
        EXPECT_EQ(voxel.x, float(grid.origin[0] + index * grid.step));
    }
}

TEST(VolumeResample, EqualSpacingKeepsEverySampleAndColorsByHeightOrLabel) {
    SampleVolume v = uint8Volume(
        3, 4, 2, [](int64_t i, int64_t j, int64_t k) { return (i + j + k) % 2 ? int(j + 1) : 0; });
    v.meaning = SampleMeaning::labels;
    VoxelGrid grid;
    std::string error;
    ASSERT_TRUE(resampleToCubes(v, ThresholdRule(), ColorMode::labels, 1000, grid, error));
    std::vector<Voxel> voxels = voxelsOf(grid);
    ASSERT_EQ(voxels.size(), 12u);
    // Labels 1 to 4 (j + 1): the palette's first four colours.
    const uint8_t palette[4][3] = {
        {0xf3, 0xc3, 0x00}, {0x87, 0x56, 0x92}, {0xf3, 0x84, 0x00}, {0xa1, 0xca, 0xf1}};
    for (const Voxel& voxel : voxels) {
        EXPECT_EQ(memcmp(voxel.rgb, palette[int(voxel.y)], 3), 0) << voxel.y;
        EXPECT_EQ(int(voxel.x + voxel.y + voxel.z) % 2, 1);
    }
    // By height: the lowest occupied row blue, the highest white.
    ASSERT_TRUE(resampleToCubes(v, ThresholdRule(), ColorMode::height, 1000, grid, error));
    const uint8_t low[3] = {40, 70, 200}, high[3] = {245, 245, 245};
    int lows = 0, highs = 0;
    for (const Voxel& voxel : voxelsOf(grid)) {
        if (voxel.y == 0) {
            EXPECT_EQ(memcmp(voxel.rgb, low, 3), 0);
            ++lows;
        } else if (voxel.y == 3) {
            EXPECT_EQ(memcmp(voxel.rgb, high, 3), 0);
            ++highs;
        }
    }
    EXPECT_EQ(lows, 3);
    EXPECT_EQ(highs, 3);
}

// Labels come through a double: the largest unsigned 64-bit labels and
// negative signed ones must still get a colour, not an undefined conversion.
TEST(VolumeResample, LabelsOfEveryIntegerRangeGetAPaletteColor) {
    SampleVolume v;
    v.dims[0] = 4, v.dims[1] = 1, v.dims[2] = 1;
    v.type = SampleType::uint64;
    v.meaning = SampleMeaning::labels;
    setSampleOrder(v, true);
    const uint64_t labels[4] = {UINT64_MAX, (uint64_t(1) << 63) + 4096, 3, 0};
    v.storage.resize(sizeof labels);
    memcpy(v.storage.data(), labels, sizeof labels);
    VoxelGrid grid;
    std::string error;
    ASSERT_TRUE(resampleToCubes(v, ThresholdRule(), ColorMode::labels, 1000, grid, error)) << error;
    std::vector<Voxel> voxels = voxelsOf(grid);
    ASSERT_EQ(voxels.size(), 3u); // label 0 is empty
    // The palette's 15th colour for 2^64 - 1 (2^64 - 2 is 14 modulo 20), its
    // 4th for 2^63 + 4096 (2^63 + 4095 is 3 modulo 20), its 3rd for 3.
    const uint8_t fifteenth[3] = {0xdc, 0xd3, 0x00}, fourth[3] = {0xa1, 0xca, 0xf1},
                  third[3] = {0xf3, 0x84, 0x00};
    EXPECT_EQ(memcmp(voxels[0].rgb, fifteenth, 3), 0);
    EXPECT_EQ(memcmp(voxels[1].rgb, fourth, 3), 0);
    EXPECT_EQ(memcmp(voxels[2].rgb, third, 3), 0);

    EXPECT_EQ(labelOfValue(0x1p64), UINT64_MAX);
    EXPECT_EQ(labelOfValue(1.12354e19), uint64_t(1.12354e19));
    EXPECT_EQ(labelOfValue(-1.0), UINT64_MAX);
    EXPECT_EQ(labelOfValue(-0x1p63), uint64_t(1) << 63);
    EXPECT_EQ(labelOfValue(-1e300), uint64_t(1) << 63);
    EXPECT_EQ(labelOfValue(std::nan("")), 0u);
    EXPECT_EQ(labelOfValue(INFINITY), UINT64_MAX);
    EXPECT_EQ(labelOfValue(7.9), 7u);
}

TEST(VolumeResample, RefusesMoreVoxelsThanAllowedAndGivesNoneForAnEmptyPass) {
    SampleVolume v = uint8Volume(10, 10, 10, [](int64_t, int64_t, int64_t) { return 5; });
    VoxelGrid grid;
    std::string error;
    EXPECT_FALSE(resampleToCubes(v, ThresholdRule{true, 1}, ColorMode::map, 999, grid, error));
    EXPECT_NE(error.find("more than 999 voxels"), std::string::npos) << error;
    EXPECT_TRUE(grid.voxels.positions.empty());
    ASSERT_TRUE(resampleToCubes(v, ThresholdRule{true, 1}, ColorMode::map, 1000, grid, error));
    EXPECT_EQ(grid.voxels.colors.size(), 3000u);
    // One value throughout: the top of the map, viridis' yellow.
    const uint8_t top[3] = {0xfd, 0xe7, 0x25};
    EXPECT_EQ(memcmp(grid.voxels.colors.data(), top, 3), 0);
    ASSERT_TRUE(resampleToCubes(v, ThresholdRule{true, 6}, ColorMode::grey, 1000, grid, error));
    EXPECT_TRUE(grid.voxels.colors.empty());
    // Spacings so unequal that a cube would hold 1e38 samples (a fuzzed
    // header's): refused, not turned into an overflowing count.
    v.spacing[1] = 1e-38;
    EXPECT_FALSE(resampleToCubes(v, ThresholdRule{true, 1}, ColorMode::map, 1000, grid, error));
    EXPECT_NE(error.find("spacings differ too much"), std::string::npos) << error;
}

TEST(VolumeResample, RefusesSizesAndPositionsThatFloatsCannotHold) {
    struct Case {
        const char* name;
        double spacing, origin;
        int64_t samples;
        const char* error; // empty: read
    };
    const Case cases[] = {
        {"size rounds to 0", 1e-320, 0, 4,
         "the voxel size from the spacing (9.99989e-321) is too small for a 32-bit float"},
        {"size subnormal", 1e-39, 0, 4,
         "the voxel size from the spacing (1e-39) is too small for a 32-bit float"},
        {"size infinite", 1e39, 0, 4,
         "the voxel size from the spacing (1e+39) is too large for a 32-bit float"},
        {"last centre infinite", 1e37, 3e38, 6,
         "the positions from the array's shape reach 3.5e+38 along x, beyond a 32-bit float"},
        {"first centre infinite", 1, -1e39, 4,
         "the positions from the array's shape reach -1e+39 along x, beyond a 32-bit float"},
        {"centres on one float", 1, 1e30, 4,
         "the positions from the array's shape reach 1e+30 along x, where voxels 1 apart fall "
         "on one 32-bit float"},
        {"size at the least normal float", 1.1754944e-38, 0, 4, ""},
        {"centres near the float limit", 1e36, 3e38, 4, ""},
        {"one sample far out", 1, 1e30, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleVolume v = uint8Volume(
            c.samples, 1, 1, [](int64_t, int64_t, int64_t) { return 1; }, c.spacing, c.spacing,
            c.spacing);
        v.origin[0] = c.origin;
        VoxelGrid grid;
        std::string error;
        EXPECT_EQ(resampleToCubes(v, ThresholdRule{true, 1}, ColorMode::grey, 1000, grid, error),
                  !*c.error);
        EXPECT_EQ(error, c.error);
        if (!*c.error) {
            ASSERT_EQ(grid.voxels.positions.size(), size_t(3 * c.samples));
            EXPECT_EQ(grid.voxels.positions[0], float(c.origin));
            EXPECT_EQ(grid.voxels.voxelSize, float(c.spacing));
        }
    }
    // An axis longer than 2^24 samples one unit apart: its far centres would
    // fall two to a float (a NumPy array has no spacing of its own).
    SampleVolume longAxis =
        uint8Volume(1, 1, (int64_t(1) << 24) + 2, [](int64_t, int64_t, int64_t) { return 1; });
    VoxelGrid grid;
    std::string error;
    EXPECT_FALSE(resampleToCubes(longAxis, ThresholdRule{true, 1}, ColorMode::grey,
                                 int64_t(1) << 25, grid, error));
    EXPECT_EQ(error, "the positions from the array's shape reach 1.67772e+07 along z, where "
                     "voxels 1 apart fall on one 32-bit float");
}

TEST(VolumeColors, MapEndsLabelsWrapAndThresholdRules) {
    uint8_t rgb[3];
    colorMapColor(0, rgb);
    EXPECT_EQ(rgb[0] << 16 | rgb[1] << 8 | rgb[2], 0x440154);
    colorMapColor(0.5, rgb);
    EXPECT_EQ(rgb[0] << 16 | rgb[1] << 8 | rgb[2], 0x21908c);
    colorMapColor(std::nan(""), rgb);
    EXPECT_EQ(rgb[0] << 16 | rgb[1] << 8 | rgb[2], 0x440154);
    // Label 1 the palette's first colour, 21 the first again, 2 the second,
    // 20 the last.
    const uint8_t first[3] = {0xf3, 0xc3, 0x00}, second[3] = {0x87, 0x56, 0x92},
                  last[3] = {0x2b, 0x3d, 0x26};
    labelColor(1, rgb);
    EXPECT_EQ(memcmp(rgb, first, 3), 0);
    labelColor(1 + labelPaletteSize, rgb);
    EXPECT_EQ(memcmp(rgb, first, 3), 0);
    labelColor(2, rgb);
    EXPECT_EQ(memcmp(rgb, second, 3), 0);
    labelColor(labelPaletteSize, rgb);
    EXPECT_EQ(memcmp(rgb, last, 3), 0);
    greyColor(0, rgb);
    EXPECT_EQ(rgb[0], 64);
    greyColor(1, rgb);
    EXPECT_EQ(rgb[0], 255);

    SampleVolume floats;
    floats.type = SampleType::float32;
    floats.meaning = SampleMeaning::values;
    std::string error;
    EXPECT_FALSE(checkThresholdRule(floats, ThresholdRule(), ColorMode::map, error));
    EXPECT_NE(error.find("--threshold"), std::string::npos);
    EXPECT_TRUE(checkThresholdRule(floats, ThresholdRule{true, 0.5}, ColorMode::map, error));
    EXPECT_FALSE(checkThresholdRule(floats, ThresholdRule{true, 0.5}, ColorMode::labels, error));
    SampleVolume ints;
    ints.type = SampleType::int16;
    ints.meaning = SampleMeaning::values; // a volume of labels
    EXPECT_TRUE(checkThresholdRule(ints, ThresholdRule(), ColorMode::labels, error));
    EXPECT_FALSE(samplePasses(std::nan(""), ThresholdRule{true, -1e300}));
    EXPECT_FALSE(samplePasses(0.0, ThresholdRule()));
}

TEST(VolumeResample, ColourSamplesAreTheirVoxelsColours) {
    // 4 x 1 x 1 RGB samples, channels fastest: black (empty), red, a dark
    // blue of level 10, and green; then as cubes of 2 along x (spacing 1 x
    // 2 x 2), colours averaged.
    const uint8_t rgb[12] = {0, 0, 0, 200, 0, 0, 0, 0, 10, 0, 100, 0};
    auto volume = [&](double spacing) {
        SampleVolume v;
        v.dims[0] = 4, v.dims[1] = v.dims[2] = 1;
        v.spacing[1] = v.spacing[2] = spacing;
        v.storage.assign(rgb, rgb + 12);
        setColorChannels(v, 3, false);
        return v;
    };
    VoxelGrid grid;
    std::string error;
    ASSERT_TRUE(resampleToCubes(volume(1), ThresholdRule(), ColorMode::height, 100, grid, error))
        << error;
    std::vector<Voxel> voxels = voxelsOf(grid);
    ASSERT_EQ(voxels.size(), 3u);
    EXPECT_EQ(voxels[0].x, 1.0f);
    EXPECT_EQ(std::vector<int>(voxels[0].rgb, voxels[0].rgb + 3), (std::vector<int>{200, 0, 0}));
    EXPECT_EQ(std::vector<int>(voxels[2].rgb, voxels[2].rgb + 3), (std::vector<int>{0, 100, 0}));
    // A threshold holds the brightest channel to it: the dark blue goes.
    ASSERT_TRUE(
        resampleToCubes(volume(1), ThresholdRule{true, 50.0}, ColorMode::height, 100, grid, error));
    EXPECT_EQ(voxelsOf(grid).size(), 2u);
    ASSERT_TRUE(
        resampleToCubes(volume(2), ThresholdRule{true, 50.0}, ColorMode::height, 100, grid, error));
    voxels = voxelsOf(grid);
    ASSERT_EQ(voxels.size(), 2u); // cube 0 holds red alone, cube 1 green alone
    EXPECT_EQ(voxels[0].rgb[0], 200);
    ASSERT_TRUE(resampleToCubes(volume(2), ThresholdRule(), ColorMode::height, 100, grid, error));
    voxels = voxelsOf(grid);
    ASSERT_EQ(voxels.size(), 2u);
    EXPECT_EQ(std::vector<int>(voxels[1].rgb, voxels[1].rgb + 3), (std::vector<int>{0, 50, 5}));
}

TEST(VolumeResample, TransparentColourSamplesAreEmptyWhateverTheirColour) {
    // RGBA, channels slowest: white but transparent, then black but opaque.
    const uint8_t rgba[8] = {255, 0, 255, 0, 255, 0, 0, 9};
    SampleVolume v;
    v.dims[0] = 2, v.dims[1] = v.dims[2] = 1;
    v.storage.assign(rgba, rgba + 8);
    setColorChannels(v, 4, true);
    VoxelGrid grid;
    std::string error;
    ASSERT_TRUE(resampleToCubes(v, ThresholdRule(), ColorMode::height, 100, grid, error)) << error;
    std::vector<Voxel> voxels = voxelsOf(grid);
    ASSERT_EQ(voxels.size(), 1u);
    EXPECT_EQ(voxels[0].x, 1.0f);
    EXPECT_EQ(std::vector<int>(voxels[0].rgb, voxels[0].rgb + 3), (std::vector<int>{0, 0, 0}));
}
