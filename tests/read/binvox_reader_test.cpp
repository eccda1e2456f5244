#include <gtest/gtest.h>

#include "grid_samples.h"
#include "read/binvox_reader.h"

namespace {

constexpr int64_t plenty = int64_t(1) << 30;

bool parse(const std::string& text, SampleVolume& volume, std::string& error) {
    std::vector<uint8_t> bytes = textBytes(text);
    return parseBinvox(bytes.data(), bytes.size(), plenty, volume, error);
}

} // namespace

TEST(BinvoxReader, RunsFillYFastestThenZThenX) {
    // A 2^3 grid: runs of 1 empty, 1 filled, 5 empty, 1 filled. Stored index
    // n = x * 4 + z * 2 + y, so voxel 1 is (x 0, y 1, z 0) and voxel 7 is
    // (1, 1, 1).
    SampleVolume v;
    std::string error;
    ASSERT_TRUE(parse(std::string("#binvox 1\r\nscale 4\ntranslate 1 2 3\ndim 2 2 2\ndata\n") +
                          std::string("\x00\x01\x01\x01\x00\x05\x01\x01", 8),
                      v, error))
        << error;
    int filled = 0;
    for (int x = 0; x < 2; ++x)
        for (int y = 0; y < 2; ++y)
            for (int z = 0; z < 2; ++z) {
                double value = sampleValue(v, x, y, z);
                filled += value != 0;
                bool expected = (x == 0 && y == 1 && z == 0) || (x == 1 && y == 1 && z == 1);
                EXPECT_EQ(value, expected ? 1.0 : 0.0) << x << y << z;
            }
    EXPECT_EQ(filled, 2);
    // Centres at translate + (index + 0.5) x scale / dim.
    for (int a = 0; a < 3; ++a) {
        EXPECT_DOUBLE_EQ(v.spacing[a], 2.0);
        EXPECT_DOUBLE_EQ(v.origin[a], a + 1 + 1.0);
    }
    EXPECT_EQ(v.meaning, SampleMeaning::occupancy);
}

TEST(BinvoxReader, RefusesDamagedAndHostileHeadersAndRuns) {
    const std::string head = "#binvox 1\ndim 2 2 2\ndata\n";
    expectRefusals(
        {
            {"wrong first line", "#binvox 2\ndim 2 2 2\ndata\n\x01\x08", "version 1"},
            {"no data line", "#binvox 1\ndim 2 2 2\n", "before its \"data\""},
            {"no dim", "#binvox 1\ndata\n\x01\x08", "no \"dim\""},
            {"dim not a number", "#binvox 1\ndim 2 x 2\ndata\n", "three whole numbers"},
            {"dim zero", "#binvox 1\ndim 0 0 0\ndata\n", "three whole numbers"},
            {"not a cube", "#binvox 1\ndim 2 2 4\ndata\n\x01\x10", "not a cube"},
            {"unknown line", "#binvox 1\ndim 2 2 2\ncolour red\ndata\n\x01\x08",
             "not one binvox knows"},
            {"scale not positive", "#binvox 1\ndim 2 2 2\nscale -1\ndata\n\x01\x08", "positive"},
            {"translate not finite", "#binvox 1\ndim 2 2 2\ntranslate 0 nan 0\ndata\n\x01\x08",
             "three numbers"},
            {"run past the grid", head + "\x01\x09", "passes the end"},
            {"runs short of the grid", head + "\x01\x07", "ends before the grid is full"},
            {"odd byte at the end", head + "\x01\x07\x01", "ends before the grid is full"},
            {"value not 0 or 1", head + "\x02\x08", "0 or 1"},
            // 2^60 voxels would need 4.5e18 bytes of runs: refused before the
            // grid is allocated, from the header and the file's size alone.
            {"claims far more than the runs cover", "#binvox 1\ndim 1000 1000 1000\ndata\n\x01\xff",
             "too short"},
            {"grid larger than allowed", "#binvox 1\ndim 1048576 1048576 1048576\ndata\n\x01\xff",
             "larger than the memory"},
        },
        parse);
}

TEST(BinvoxReader, GeneratedBallHasItsCountAndBounds) {
    std::vector<uint8_t> bytes = fileBytes(gridSample("ball.binvox"));
    SampleVolume v;
    std::string error;
    ASSERT_TRUE(parseBinvox(bytes.data(), bytes.size(), plenty, v, error)) << error;
    // A ball of radius 5 about (8, 8, 8) in 16^3, and the voxel (0, 15, 0).
    int count = 0;
    for (int x = 0; x < 16; ++x)
        for (int y = 0; y < 16; ++y)
            for (int z = 0; z < 16; ++z) {
                bool inside = (x - 8) * (x - 8) + (y - 8) * (y - 8) + (z - 8) * (z - 8) <= 25 ||
                              (x == 0 && y == 15 && z == 0);
                ASSERT_EQ(sampleValue(v, x, y, z) != 0, inside) << x << " " << y << " " << z;
                count += inside;
            }
    EXPECT_EQ(count, 516);
}
