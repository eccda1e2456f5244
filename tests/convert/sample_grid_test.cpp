// Every generated grid and volume sample, cut at every length, through the
// converter's reader choice: a cut is refused with a reason, or (when what
// it lost was not needed, as a gzip trailer after the samples) read exactly
// as the whole file. Run under the sanitizers too, so that no cut reads past
// what it holds.
#include <gtest/gtest.h>

#include "convert/grid_readers.h"
#include "convert/sample_grid.h"
#include "grid_samples.h"

namespace {

bool readThroughTable(const std::vector<uint8_t>& bytes, const std::string& path, VoxelGrid& grid,
                      std::string& error, const GridFormat*& format) {
    format = findGridFormat(bytes.data(), std::min(bytes.size(), gridSniffBytes), path.c_str());
    if (!format) {
        error = "no grid reader claims it (the mesh importer then refuses it)";
        return false;
    }
    GridReadOptions options;
    options.path = path.c_str();
    options.maxBytes = int64_t(64) << 20;
    options.threshold = ThresholdRule{true, 1.0};
    return format->read(bytes.data(), bytes.size(), options, grid, error);
}

} // namespace

TEST(SampleGrid, EveryCutOfEverySampleIsRefusedOrReadAsTheWhole) {
    std::vector<std::string> paths;
    for (const char* prefix : {"ball", "labels", "occupancy", "density"})
        for (const std::string& name : filesStartingWith(VOXSCOPE_GRID_SAMPLES, prefix))
            if (name != "density-data.raw" && name != "density.img")
                paths.push_back(gridSample(name));
    for (const std::string& name : filesStartingWith(gridSample("dtypes"), ""))
        if (name[0] != '.')
            paths.push_back(gridSample("dtypes/" + name));
    ASSERT_GE(paths.size(), size_t(80));
    size_t cuts = 0, refused = 0;
    for (const std::string& path : paths) {
        const std::vector<uint8_t> bytes = fileBytes(path);
        VoxelGrid whole;
        std::string error;
        const GridFormat* format = nullptr;
        ASSERT_TRUE(readThroughTable(bytes, path, whole, error, format)) << path << ": " << error;
        ASSERT_TRUE(readsSamples(format->read)) << path << " read as " << format->name;
        for (size_t length = 0; length < bytes.size(); ++length) {
            SCOPED_TRACE(path + " cut to " + std::to_string(length) + " bytes");
            // Exactly the bytes of the cut, so that any read past them shows.
            std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + std::ptrdiff_t(length));
            VoxelGrid grid;
            error.clear();
            ++cuts;
            if (!readThroughTable(cut, path, grid, error, format)) {
                ++refused;
                EXPECT_GT(error.size(), 10u) << "a refusal says why";
                continue;
            }
            EXPECT_EQ(grid.voxels.positions, whole.voxels.positions);
            EXPECT_EQ(grid.voxels.colors, whole.voxels.colors);
        }
    }
    // Only cuts of what follows the samples (a gzip trailer, a header's last
    // line break) can be read at all.
    EXPECT_GT(refused, cuts * 95 / 100) << refused << " of " << cuts;
    EXPECT_GT(cuts, size_t(20000));
}

TEST(SampleGrid, ContentWinsOverTheName) {
    const std::vector<uint8_t> npy = fileBytes(gridSample("labels.npy"));
    const std::vector<uint8_t> binvox = fileBytes(gridSample("ball.binvox"));
    const size_t head = gridSniffBytes;
    auto formatOf = [&](const std::vector<uint8_t>& bytes, const char* path) {
        const GridFormat* f = findGridFormat(bytes.data(), std::min(bytes.size(), head), path);
        return f ? std::string(f->name) : std::string("none");
    };
    EXPECT_EQ(formatOf(npy, "labels.binvox"), "NumPy .npy");
    EXPECT_EQ(formatOf(npy, "labels.vxl"), "NumPy .npy");
    EXPECT_EQ(formatOf(binvox, "ball.npy"), "binvox");
    EXPECT_EQ(formatOf(fileBytes(gridSample("density.nii.gz")), "x"), "gzip-compressed grid");
    // With no magic, the name decides, and the reader then says what is wrong.
    const std::vector<uint8_t> junk = textBytes("not a grid at all");
    EXPECT_EQ(formatOf(junk, "cut.npy"), "NumPy .npy");
    EXPECT_EQ(formatOf(junk, "cut.nhdr"), "NRRD");
    EXPECT_EQ(formatOf(junk, "cut.nii"), "NIfTI-1");
    EXPECT_EQ(formatOf(junk, "cut.stl"), "none");
}
