// Voxel files as the converter's input: recognised by name or header, read
// exactly as the viewer reads them, refused in one sentence of the viewer's
// own words.
#include <gtest/gtest.h>

#include "convert/input_table.h"
#include "read/vxl_reader.h"

#include <cmath>
#include <cstring>
#include <string>

namespace {

// Whether the converter's table reads `text` under `path` as a voxel file.
bool sniff(const std::string& text, const char* path = "input") {
    const InputFormat* format =
        findInputFormat(reinterpret_cast<const uint8_t*>(text.data()), text.size(), path);
    return format && format->readVoxels == readVxlGrid;
}

bool readText(const std::string& text, VoxelGrid& grid, std::string& error) {
    ReadOptions options;
    options.path = "in.vxl";
    return readVxlGrid(reinterpret_cast<const uint8_t*>(text.data()), text.size(), options, grid,
                       error);
}

} // namespace

TEST(VxlReader, RecognisesVoxelFilesByHeaderOrName) {
    EXPECT_TRUE(sniff("3 1.0\n0 0 0 1 2 3\n"));
    EXPECT_TRUE(sniff("  \r\n12\t0.25"));
    EXPECT_TRUE(sniff("-1 2e-3 "));
    EXPECT_TRUE(sniff("anything at all", "model.VXL"));
    EXPECT_FALSE(sniff("1.5 2 3\n"));    // a point list starts with a fraction
    EXPECT_FALSE(sniff("v 1 2 3\n"));    // OBJ
    EXPECT_FALSE(sniff("ply\nformat"));  // PLY
    EXPECT_FALSE(sniff("OFF\n3 1 0\n")); // OFF
    EXPECT_FALSE(sniff("12"));           // no voxel size
    EXPECT_FALSE(sniff("12 x"));
    EXPECT_FALSE(sniff("12 .\n"));
    EXPECT_FALSE(sniff(""));
}

TEST(VxlReader, ReadsWhatTheViewerReadsWithTheLatticeOfTheFirstVoxel) {
    VoxelGrid grid;
    std::string error;
    // Awkward numbers, a colour that wraps, a count below the data.
    ASSERT_TRUE(readText("3 0.1\n0.3 -0.0 1e-3 256 -1 7\n0.4 0 1e-3 1 2 3\n 1e30 5 5 9 9 9 "
                         "4 4 4 4 4 4\n",
                         grid, error))
        << error;
    const VoxelList& v = grid.voxels;
    ASSERT_EQ(v.colors.size(), size_t(9));
    EXPECT_EQ(v.voxelSize, 0.1f);
    const float expected[9] = {0.3f, -0.0f, 1e-3f, 0.4f, 0.0f, 1e-3f, 1e30f, 5.0f, 5.0f};
    EXPECT_EQ(memcmp(v.positions.data(), expected, sizeof expected), 0);
    EXPECT_EQ(v.colors, (std::vector<uint8_t>{0, 255, 7, 1, 2, 3, 9, 9, 9}));
    EXPECT_TRUE(grid.hasLattice);
    EXPECT_EQ(grid.origin[0], double(0.3f));
    EXPECT_EQ(grid.origin[1], 0.0);
    EXPECT_EQ(grid.step, double(0.1f));

    // No voxels, or a first voxel with no position: no lattice to go by.
    ASSERT_TRUE(readText("0 1", grid, error)) << error;
    EXPECT_FALSE(grid.hasLattice);
    ASSERT_TRUE(readText("1 1 nan 0 0 1 1 1", grid, error)) << error;
    EXPECT_FALSE(grid.hasLattice);
    ASSERT_TRUE(readText("1 -2 0 0 0 1 1 1", grid, error)) << error;
    EXPECT_FALSE(grid.hasLattice);
}

TEST(VxlReader, RefusalsAreOneSentenceWithTheViewersMessage) {
    const struct {
        const char* text;
        const char* says;
    } cases[] = {
        {"", "Error reading in.vxl"},
        {"2 1.0\n0 0 0 1 1 1\n", "Error reading in.vxl"},
        {"-4 1.0\n", "Negative voxel count -4 in in.vxl"},
        // A count beyond the draw limit in a text too short for it: the data
        // would run out first, and the loader says so before the limit.
        {"59652324 1.0\n", "Error reading in.vxl"},
        {"1 1.0\n0 0 0 0.5 1 1\n", "Error reading in.vxl"},
    };
    for (const auto& c : cases) {
        VoxelGrid grid;
        std::string error;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(readText(c.text, grid, error)) << c.text;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the loader's line leaked";
        EXPECT_EQ(error, std::string("cannot read in.vxl (the viewer would say: ") + c.says + ")");
    }
    VoxelGrid grid;
    std::string error;
    ReadOptions options;
    options.path = "in.vxl";
    options.maxVoxels = 1;
    const std::string two = "2 1\n0 0 0 1 1 1\n1 0 0 1 1 1\n";
    EXPECT_FALSE(readVxlGrid(reinterpret_cast<const uint8_t*>(two.data()), two.size(), options,
                             grid, error));
    EXPECT_NE(error.find("raise --max-voxels"), std::string::npos) << error;
}
