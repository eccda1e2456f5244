// What the converter writes, the viewer's own loader reads back bit for bit.
#include <gtest/gtest.h>

#include "mesh/voxelizer.h"
#include "model/voxel_model.h"
#include "platform/output_file.h"
#include "read/vox_reader.h"
#include "vox_builder.h"
#include "write/vxl_writer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string scratchFile(const char* name) {
    const char* tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/vxlconv-test-" + std::to_string(getpid()) +
           "-" + name;
}

// Writes `list`, loads it with the viewer's loader and compares every bit.
void expectRoundTrip(const VoxelList& list) {
    const std::string path = scratchFile("round.vxl");
    std::string error;
    ASSERT_TRUE(beginOutputFile(path.c_str(), "vxlconv", &error)) << error;
    ASSERT_TRUE(finishVoxelFile(list, error)) << error;
    VoxelModel* m = loadVoxels(path.c_str());
    remove(path.c_str());
    ASSERT_NE(m, nullptr);
    const size_t count = list.colors.size() / 3;
    ASSERT_EQ(size_t(m->count), count);
    EXPECT_EQ(memcmp(&m->voxelSize, &list.voxelSize, sizeof(float)), 0)
        << m->voxelSize << " vs " << list.voxelSize;
    if (count) {
        EXPECT_EQ(memcmp(m->positions, list.positions.data(), 3 * count * sizeof(float)), 0);
        EXPECT_EQ(memcmp(m->colors, list.colors.data(), 3 * count), 0);
    }
    freeVoxelModel(m);
}

TEST(RoundTrip, AwkwardFloatsReadBackExactly) {
    VoxelList list;
    list.voxelSize = 0.1f;
    list.positions = {1.0f / 3,  -0.0f,        3.4028235e38f, -1.17549435e-38f, 123456.789f,
                      1e-7f,     -16777217.0f, 2.5f,          0.1f + 0.2f,      -7.0f,
                      65504.01f, float(M_PI),  1e30f,         -1e-30f,          0.0f};
    list.colors = {0, 255, 128, 1, 2, 3, 254, 127, 0, 9, 99, 199, 255, 255, 255};
    expectRoundTrip(list);
    list.positions.clear();
    list.colors.clear();
    list.voxelSize = 1e-20f;
    expectRoundTrip(list); // no voxels: the header alone
}

TEST(RoundTrip, ConverterOutputLoadsAsWritten) {
    // A turned, odd-sized sphere-ish mesh at an awkward voxel size...
    SourceGeometry g;
    const float corners[4][3] = {
        {0.1f, 0.2f, 0.3f}, {3.3f, -1.7f, 0.9f}, {-2.2f, 4.1f, 1.3f}, {0.7f, 0.4f, -5.9f}};
    for (const auto& c : corners) {
        g.vertices.insert(g.vertices.end(), c, c + 3);
        g.colors.insert(g.colors.end(), {0.25f, 0.5f, 1.0f});
    }
    g.triangles = {0, 1, 2, 0, 3, 1, 1, 3, 2, 2, 3, 0};
    g.hasColors = true;
    GridOptions options;
    options.voxelSize = 0.0731;
    VoxelList list;
    std::string error;
    int64_t skipped = 0;
    ASSERT_TRUE(voxelizeGeometry(g, options, list, skipped, error)) << error;
    EXPECT_GT(list.colors.size(), 300u);
    expectRoundTrip(list);

    // ...and a placed .vox scene.
    Bytes file =
        voxFile({sizeChunk(3, 2, 5), xyziChunk({{0, 0, 0, 1}, {2, 1, 4, 200}}),
                 transformChunk(0, 1, {{"_t", "-7 3 100"}, {"_r", "105"}}), shapeChunk(1, 0)});
    VoxScene scene;
    ASSERT_TRUE(parseVox(file.data(), file.size(), scene, error)) << error;
    ASSERT_TRUE(placeVoxScene(scene, 0.37f, 100, list, error)) << error;
    EXPECT_EQ(list.colors.size(), 6u);
    expectRoundTrip(list);
}

TEST(VoxelWriter, FailedWritesAreReportedAndLeaveNoFile) {
    VoxelList list;
    list.positions = {1, 2, 3};
    list.colors = {4, 5, 6};
    std::string error;
    const std::string missingDir = scratchFile("no-such-dir") + "/out.vxl";
    EXPECT_FALSE(beginOutputFile(missingDir.c_str(), "vxlconv", &error));
    EXPECT_NE(error.find(missingDir), std::string::npos) << error;

    // A full disk: the write fails, the failure is reported, and neither
    // the output nor a temporary file is left.
    const std::string out = scratchFile("full.vxl");
    ASSERT_TRUE(beginOutputFile(out.c_str(), "vxlconv", &error)) << error;
    int full = open("/dev/full", O_WRONLY);
    if (full < 0) {
        abandonOutputFile();
        GTEST_SKIP() << "no /dev/full here";
    }
    ASSERT_GE(dup2(full, fileno(outputFileStream())), 0);
    close(full);
    error.clear();
    EXPECT_FALSE(finishVoxelFile(list, error));
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
    struct stat info;
    EXPECT_NE(stat(out.c_str(), &info), 0);
    // A device is never written to nor replaced: it is refused at once and
    // left alone.
    EXPECT_FALSE(beginOutputFile("/dev/full", "vxlconv", &error));
    EXPECT_EQ(error, "cannot write /dev/full: it is a character device");
    ASSERT_EQ(stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

} // namespace
