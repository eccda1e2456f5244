#include <gtest/gtest.h>

#include "convert/grid_readers.h"
#include "convert/gzip_grid.h"
#include "grid_samples.h"

namespace {

// The format the reader table picks for `bytes`, and what it reads them as.
std::string readAs(const std::vector<uint8_t>& bytes, VoxelGrid& grid, std::string& error) {
    const GridFormat* format =
        findGridFormat(bytes.data(), std::min(bytes.size(), gridSniffBytes), "labels");
    if (!format)
        return "none";
    GridReadOptions options;
    options.path = "labels";
    if (!format->read(bytes.data(), bytes.size(), options, grid, error))
        return std::string(format->name) + ", refused";
    return format->name;
}

} // namespace

TEST(GzipGrid, GzipWithinGzipIsClaimedAndRefusedAsSuch) {
    const std::vector<uint8_t> npy = fileBytes(gridSample("labels.npy"));
    const std::vector<uint8_t> once = gzipped(npy), twice = gzipped(once);
    VoxelGrid plain, inflated, nested;
    std::string error;
    ASSERT_EQ(readAs(npy, plain, error), "NumPy .npy") << error;
    ASSERT_EQ(readAs(once, inflated, error), "gzip-compressed grid") << error;
    EXPECT_EQ(inflated.voxels.positions, plain.voxels.positions);
    EXPECT_EQ(inflated.voxels.colors, plain.voxels.colors);
    // Not handed to the mesh importer, which could only say it knows no such
    // format.
    EXPECT_EQ(readAs(twice, nested, error), "gzip-compressed grid, refused");
    EXPECT_EQ(error, "cannot read labels as gzip data: the gzip data holds another gzip stream");
    EXPECT_EQ(readAs(gzipped(twice), nested, error), "gzip-compressed grid, refused");
}
