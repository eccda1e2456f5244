// glTF files as the format lays them out: the .glb container's header and
// chunks, accessors that match the data, linear vertex colours, and a
// .gltf with its buffer and texture beside it under escaped names.
#include <gtest/gtest.h>

#include "platform/output_file.h"
#include "scratch_dir.h"
#include "voxel_sets.h"
#include "write/gltf_writer.h"

#include <cmath>
#include <cstring>

namespace {

struct GltfWriter : ScratchDirTest {
    void TearDown() override {
        abandonOutputFile();
        ScratchDirTest::TearDown();
    }
    static uint32_t word(const std::string& bytes, size_t at) {
        uint32_t value;
        memcpy(&value, bytes.data() + at, 4);
        return value;
    }
};

const std::map<Cell, Rgb> twoVoxels = {{{0, 0, 0}, {255, 128, 0}}, {{0, 1, 0}, {0, 10, 255}}};

TEST_F(GltfWriter, AGlbHoldsItsJsonAndBufferInAlignedChunks) {
    for (MeshChoice choice : {MeshChoice::greedy, MeshChoice::faces, MeshChoice::cubes}) {
        SCOPED_TRACE(meshChoiceName(choice));
        const std::string out = dir + "/two.glb";
        std::string error;
        ASSERT_TRUE(beginOutputFile(out.c_str(), "vxltest", &error)) << error;
        ASSERT_TRUE(writeGlb(gridOf(twoVoxels, 0.5, {1, 2, 3}), {out.c_str(), choice}, error))
            << error;
        const std::string bytes = contents(out);
        ASSERT_GE(bytes.size(), 28u);
        EXPECT_EQ(bytes.substr(0, 4), "glTF");
        EXPECT_EQ(word(bytes, 4), 2u);
        EXPECT_EQ(word(bytes, 8), bytes.size());
        const uint32_t jsonLength = word(bytes, 12);
        EXPECT_EQ(bytes.substr(16, 4), "JSON");
        EXPECT_EQ(jsonLength % 4, 0u);
        const std::string json = bytes.substr(20, jsonLength);
        const uint32_t binLength = word(bytes, 20 + jsonLength);
        EXPECT_EQ(bytes.substr(24 + jsonLength, 4), std::string("BIN\0", 4));
        EXPECT_EQ(28 + jsonLength + binLength, bytes.size());
        EXPECT_EQ(binLength % 4, 0u);
        EXPECT_NE(json.find("\"KHR_materials_unlit\":{}"), std::string::npos);
        EXPECT_NE(json.find("\"byteLength\":" + std::to_string(binLength)), std::string::npos);
        // The positions' box, as the format requires, is the cells' corners.
        EXPECT_NE(json.find("\"min\":[0.75,1.75,2.75],\"max\":[1.25,2.75,3.25]"), std::string::npos)
            << json;
        const bool textured = choice == MeshChoice::greedy;
        EXPECT_EQ(json.find("\"TEXCOORD_0\"") != std::string::npos, textured);
        EXPECT_EQ(json.find("\"COLOR_0\"") != std::string::npos, !textured);
        EXPECT_EQ(json.find("\"mimeType\":\"image/png\"") != std::string::npos, textured);
        if (!textured) {
            // Colours follow positions in the buffer, as linear floats.
            const size_t vertices = choice == MeshChoice::cubes ? 48 : 16;
            float first[3];
            memcpy(first, bytes.data() + 28 + jsonLength + 12 * vertices, 12);
            const float expected[2][3] = {{1.0f, linearFromSrgb(128), 0.0f},
                                          {0.0f, linearFromSrgb(10), 1.0f}};
            EXPECT_TRUE(memcmp(first, expected[0], 12) == 0 || memcmp(first, expected[1], 12) == 0);
        }
    }
}

TEST_F(GltfWriter, LinearColoursFollowTheSrgbCurve) {
    EXPECT_EQ(linearFromSrgb(0), 0.0f);
    EXPECT_EQ(linearFromSrgb(255), 1.0f);
    EXPECT_NEAR(linearFromSrgb(10), 10 / 255.0 / 12.92, 1e-9);
    EXPECT_NEAR(linearFromSrgb(128), 0.2158605, 1e-6);
    // Every byte stays apart from its neighbours, so the colours come back.
    for (int c = 1; c < 256; ++c)
        EXPECT_GT(linearFromSrgb(uint8_t(c)), linearFromSrgb(uint8_t(c - 1)));
}

TEST_F(GltfWriter, AGltfNamesItsBufferAndTextureBesideIt) {
    const std::string out = dir + "/my model.gltf";
    std::string error;
    ASSERT_TRUE(beginOutputFile(out.c_str(), "vxltest", &error)) << error;
    ASSERT_TRUE(beginCompanionFile((dir + "/my model.bin").c_str(), &error)) << error;
    ASSERT_TRUE(beginCompanionFile((dir + "/my model.png").c_str(), &error)) << error;
    ASSERT_TRUE(writeGltf(gridOf(twoVoxels), {out.c_str(), MeshChoice::greedy}, error)) << error;
    const std::string json = contents(out);
    EXPECT_NE(json.find("\"uri\":\"my%20model.bin\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"images\":[{\"uri\":\"my%20model.png\"}]"), std::string::npos);
    const std::string buffer = contents(dir + "/my model.bin");
    EXPECT_NE(json.find("\"byteLength\":" + std::to_string(buffer.size()) + ",\"uri\""),
              std::string::npos);
    EXPECT_EQ(contents(dir + "/my model.png").substr(1, 3), "PNG");
    EXPECT_TRUE(others("my model.gltf").size() == 2);
}

} // namespace
