// vxlrender's conversion in memory: the model it hands the drawing is the one
// loading the converted voxel file would give, bit for bit, and which inputs
// keep the viewer's loader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <unistd.h>

#include "app/converted_input.h"
#include "write/vxl_writer.h"

namespace {

// Floats whose decimals are awkward: not exact in decimal, tiny, huge,
// subnormal, negative zero, and next to one another.
VoxelList awkwardVoxels() {
    VoxelList v;
    v.voxelSize = 0.1f;
    const float values[] = {0.1f,
                            -0.0f,
                            1e-7f,
                            3.4028235e38f,
                            std::numeric_limits<float>::denorm_min(),
                            std::nextafter(1.0f, 2.0f),
                            -123456.789f,
                            1.0f / 3.0f,
                            16777217.0f};
    const int n = int(sizeof values / sizeof values[0]);
    for (int i = 0; i < n; ++i) {
        v.positions.push_back(values[i]);
        v.positions.push_back(values[(i + 3) % n]);
        v.positions.push_back(values[(i + 5) % n]);
        v.colors.push_back(uint8_t(i * 29));
        v.colors.push_back(uint8_t(255 - i));
        v.colors.push_back(uint8_t(i % 2 ? 0 : 255));
    }
    return v;
}

// What the viewer loads from the voxel file vxlconv writes of `voxels`.
VoxelModel* loadedThroughFile(const VoxelList& voxels) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    EXPECT_NE(out, nullptr);
    EXPECT_TRUE(writeVoxelStream(out, voxels));
    fclose(out);
    VoxelModel* m = readVoxelText(text, size, "written.vxl");
    free(text);
    return m;
}

TEST(ConvertedInput, ModelIsWhatTheWrittenFileLoadsAs) {
    VoxelList voxels = awkwardVoxels();
    VoxelModel* loaded = loadedThroughFile(voxels);
    ASSERT_NE(loaded, nullptr);
    VoxelModel* direct = modelOfVoxels(voxels);
    ASSERT_NE(direct, nullptr);
    ASSERT_EQ(direct->count, loaded->count);
    EXPECT_EQ(direct->count, 9);
    // Bit for bit, sign of zero included: the picture must be the same.
    EXPECT_EQ(memcmp(&direct->voxelSize, &loaded->voxelSize, sizeof(float)), 0);
    EXPECT_EQ(memcmp(direct->positions, loaded->positions, sizeof(float) * 3 * direct->count), 0);
    EXPECT_EQ(memcmp(direct->colors, loaded->colors, 3 * size_t(direct->count)), 0);
    // The grid's copies are given up as the model takes them.
    EXPECT_EQ(voxels.positions.capacity(), 0u);
    EXPECT_EQ(voxels.colors.capacity(), 0u);
    freeVoxelModel(direct);
    freeVoxelModel(loaded);

    VoxelList none;
    none.voxelSize = 2.5f;
    VoxelModel* empty = modelOfVoxels(none);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->count, 0);
    EXPECT_EQ(empty->voxelSize, 2.5f);
    freeVoxelModel(empty);
}

struct TempFile {
    std::string path;
    TempFile(const char* name, const std::string& contents) {
        path = testing::TempDir() + "/converted_input_" + std::to_string(getpid()) + "_" + name;
        FILE* f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        fwrite(contents.data(), 1, contents.size(), f);
        fclose(f);
    }
    ~TempFile() {
        unlink(path.c_str());
    }
};

TEST(ConvertedInput, WhichInputsTheViewersLoaderReads) {
    TempFile text("voxels.txt", "2 0.5\n0 0 0 1 2 3\n1 0 0 4 5 6\n");
    TempFile mesh("cube.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    TempFile garbage("garbage.vxl", "\x01\x02 not voxels");
    EXPECT_TRUE(drawnAsVoxelText(text.path.c_str())) << "voxel text by its contents";
    EXPECT_TRUE(drawnAsVoxelText(garbage.path.c_str())) << "by its name: the loader refuses it";
    EXPECT_TRUE(drawnAsVoxelText("/nonexistent/missing.obj")) << "the loader says it is missing";
    EXPECT_FALSE(drawnAsVoxelText(mesh.path.c_str()));
    EXPECT_FALSE(drawnAsVoxelText(VOXSCOPE_EXAMPLES "/scene.vox"));
    EXPECT_TRUE(drawnAsVoxelText(VOXSCOPE_EXAMPLES "/terrain.vxl"));
}

TEST(ConvertedInput, ConversionGivesTheStagedVoxelsOrOneSentence) {
    // A mesh read and hollowed as vxlconv would, into a model.
    TempFile mesh("tri.obj", "v 0 0 0\nv 4 0 0\nv 0 4 0\nf 1 2 3\n");
    ConversionOptions options;
    options.input = mesh.path;
    options.output = mesh.path + ".png";
    options.resolution = 8;
    std::string error;
    VoxelModel* m = convertToModel(options, error);
    ASSERT_NE(m, nullptr) << error;
    EXPECT_GT(m->count, 0);
    // The voxels cover the triangle's box and no more.
    for (int i = 0; i < 3 * m->count; ++i) {
        EXPECT_GE(m->positions[i], -m->voxelSize);
        EXPECT_LE(m->positions[i], 4.0f + m->voxelSize);
    }
    freeVoxelModel(m);

    // Refusals name the input and are the converter's.
    options.threshold.given = true;
    EXPECT_EQ(convertToModel(options, error), nullptr);
    EXPECT_NE(error.find("--threshold and --colors apply to"), std::string::npos) << error;

    ConversionOptions missing;
    missing.input = "/nonexistent/missing.obj";
    EXPECT_EQ(convertToModel(missing, error), nullptr);
    EXPECT_NE(error.find("/nonexistent/missing.obj"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

} // namespace
