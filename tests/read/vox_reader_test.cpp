// The .vox reader: the format's chunks, palettes and scene graph, and the
// refusal of damaged files.
#include <gtest/gtest.h>

#include "read/vox_reader.h"
#include "vox_builder.h"

#include <array>
#include <set>
#include <tuple>

namespace {

using Voxel = std::tuple<float, float, float, int, int, int>;

// Reads and places `file`; fails the test when either step refuses it.
std::set<Voxel> convert(const Bytes& file, float voxelSize = 1.0f) {
    VoxScene scene;
    std::string error;
    VoxelList list;
    EXPECT_TRUE(parseVox(file.data(), file.size(), scene, error)) << error;
    EXPECT_TRUE(placeVoxScene(scene, voxelSize, 1000, list, error)) << error;
    std::set<Voxel> out;
    for (size_t i = 0; i < list.colors.size() / 3; ++i)
        out.insert({list.positions[3 * i], list.positions[3 * i + 1], list.positions[3 * i + 2],
                    list.colors[3 * i], list.colors[3 * i + 1], list.colors[3 * i + 2]});
    EXPECT_EQ(out.size(), list.colors.size() / 3) << "a cell was written twice";
    return out;
}

// Where the voxel in scene cell (x, y, z) lands: the file's z is up, the
// viewer's y is.
Voxel at(int x, int y, int z, int r, int g, int b) {
    return {x + 0.5f, z + 0.5f, -y - 0.5f, r, g, b};
}

TEST(VoxPalette, DefaultTableMatchesThePublishedEntries) {
    uint8_t palette[256][4];
    defaultVoxPalette(palette);
    // (index, 0xAABBGGRR as published)
    const std::pair<int, uint32_t> published[] = {
        {0, 0x00000000},   {1, 0xffffffff},   {2, 0xffccffff},   {7, 0xffffccff},
        {37, 0xffffffcc},  {100, 0xff663399}, {214, 0xff660000}, {215, 0xff330000},
        {216, 0xff0000ee}, {225, 0xff000011}, {226, 0xff00ee00}, {236, 0xffee0000},
        {246, 0xffeeeeee}, {255, 0xff111111}};
    for (const auto& [index, abgr] : published) {
        SCOPED_TRACE(index);
        EXPECT_EQ(palette[index][0], abgr & 0xff);
        EXPECT_EQ(palette[index][1], (abgr >> 8) & 0xff);
        EXPECT_EQ(palette[index][2], (abgr >> 16) & 0xff);
        EXPECT_EQ(palette[index][3], abgr >> 24);
    }
}

TEST(VoxRotation, DecodesRowsAndSignsAndRefusesNonRotations) {
    int32_t m[3][3];
    // The format's own example: rows (0 1 0), (0 0 -1), (-1 0 0).
    ASSERT_TRUE(decodeVoxRotation((1 << 0) | (2 << 2) | (0 << 4) | (1 << 5) | (1 << 6), m));
    const int32_t expected[3][3] = {{0, 1, 0}, {0, 0, -1}, {-1, 0, 0}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(m[r][c], expected[r][c]) << r << "," << c;
    ASSERT_TRUE(decodeVoxRotation(4, m)); // identity
    EXPECT_EQ(m[0][0] + m[1][1] + m[2][2], 3);
    for (uint8_t bad : {0, 3, 5, 12, 15})
        EXPECT_FALSE(decodeVoxRotation(bad, m)) << int(bad);
}

TEST(VoxReader, OneModelWithTheDefaultPalette) {
    Bytes file =
        voxFile({sizeChunk(4, 4, 4), xyziChunk({{0, 0, 0, 1}, {2, 1, 3, 216}, {3, 3, 3, 0}})});
    // Colour index 0 is an empty cell.
    EXPECT_EQ(convert(file),
              (std::set<Voxel>{at(0, 0, 0, 255, 255, 255), at(2, 1, 3, 0xee, 0, 0)}));
}

TEST(VoxReader, PaletteChunkMapsStoredColorIToIndexIPlusOne) {
    Bytes palette;
    for (int i = 0; i < 256; ++i)
        palette.insert(palette.end(), {uint8_t(i), uint8_t(255 - i), 7, 255});
    Bytes file = voxFile(
        {sizeChunk(1, 1, 2), xyziChunk({{0, 0, 0, 5}, {0, 0, 1, 255}}), chunk("RGBA", palette)});
    EXPECT_EQ(convert(file, 2.0f), (std::set<Voxel>{{1, 1, -1, 4, 251, 7}, {1, 3, -1, 254, 1, 7}}));
}

TEST(VoxReader, SkipsPackUnknownChunksAndChildrenBySize) {
    Bytes pack;
    putU32(pack, 1);
    Bytes file = voxFile({chunk("PACK", pack), chunk("MATL", Bytes(13, 0xab)),
                          chunk("XTRA", Bytes{1, 2, 3}, sizeChunk(9, 9, 9)), sizeChunk(2, 2, 2),
                          xyziChunk({{1, 1, 1, 2}}), chunk("rOBJ", Bytes(3, 0))});
    EXPECT_EQ(convert(file), (std::set<Voxel>{at(1, 1, 1, 255, 255, 0xcc)}));
}

TEST(VoxReader, ModelsWithoutASceneStandSideBySide) {
    Bytes file = voxFile({sizeChunk(2, 1, 1), xyziChunk({{0, 0, 0, 1}, {1, 0, 0, 1}}),
                          sizeChunk(1, 1, 1), xyziChunk({{0, 0, 0, 216}})});
    EXPECT_EQ(convert(file),
              (std::set<Voxel>{at(0, 0, 0, 255, 255, 255), at(1, 0, 0, 255, 255, 255),
                               at(3, 0, 0, 0xee, 0, 0)}));
}

// Scene: transform 0 -> group 1 -> {transform 2 -> shape 3 (model 0),
// transform 4 -> shape 5 (model 1)}.
Bytes twoModelScene(const std::map<std::string, std::string>& secondAttributes = {},
                    int32_t secondLayer = -1, std::vector<Bytes> extra = {}) {
    std::vector<Bytes> chunks = {
        sizeChunk(3, 3, 3), xyziChunk({{0, 0, 0, 1}, {1, 1, 1, 216}}), sizeChunk(2, 1, 1),
        xyziChunk({{0, 0, 0, 226}, {1, 0, 0, 236}}), transformChunk(0, 1, {}),
        groupChunk(1, {2, 4}), transformChunk(2, 3, {{"_t", "10 0 0"}}), shapeChunk(3, 0),
        // A quarter turn about z: x goes to y.
        transformChunk(4, 5, {{"_t", "0 0 5"}, {"_r", "17"}}, secondAttributes, secondLayer),
        shapeChunk(5, 1)};
    chunks.insert(chunks.end(), extra.begin(), extra.end());
    return voxFile(chunks);
}

TEST(VoxScene, PlacesEveryModelByItsTransform) {
    // Model 0 (3 wide, odd) is centred on its middle voxel; model 1 (2 wide,
    // even) on the corner between its voxels, then turned to run along y.
    EXPECT_EQ(convert(twoModelScene()),
              (std::set<Voxel>{at(9, -1, -1, 255, 255, 255), at(10, 0, 0, 0xee, 0, 0),
                               at(0, -1, 5, 0, 0xee, 0), at(0, 0, 5, 0, 0, 0xee)}));
}

TEST(VoxScene, HiddenNodesAndLayersAreLeftOut) {
    const std::set<Voxel> firstOnly = {at(9, -1, -1, 255, 255, 255), at(10, 0, 0, 0xee, 0, 0)};
    EXPECT_EQ(convert(twoModelScene({{"_hidden", "1"}})), firstOnly);
    Bytes layer;
    putU32(layer, 3);
    putDict(layer, {{"_hidden", "1"}});
    putU32(layer, uint32_t(-1));
    EXPECT_EQ(convert(twoModelScene({}, 3, {chunk("LAYR", layer)})), firstOnly);
}

TEST(VoxScene, ParentRotationTurnsTheChildTranslation) {
    Bytes file = voxFile({sizeChunk(1, 1, 1), xyziChunk({{0, 0, 0, 1}}),
                          transformChunk(0, 1, {{"_r", "17"}}),
                          transformChunk(1, 2, {{"_t", "4 0 0"}}), shapeChunk(2, 0)});
    EXPECT_EQ(convert(file), (std::set<Voxel>{at(0, 4, 0, 255, 255, 255)}));
}

TEST(VoxScene, TheModelPlacedLastShowsWhereModelsOverlap) {
    Bytes file = voxFile({sizeChunk(1, 1, 1), xyziChunk({{0, 0, 0, 216}}), sizeChunk(1, 1, 1),
                          xyziChunk({{0, 0, 0, 226}}), transformChunk(0, 1, {}),
                          groupChunk(1, {2, 4}), transformChunk(2, 3, {}), shapeChunk(3, 0),
                          transformChunk(4, 5, {}), shapeChunk(5, 1)});
    EXPECT_EQ(convert(file), (std::set<Voxel>{at(0, 0, 0, 0, 0xee, 0)}));
}

// A model placed again by the same rotation and translation (through the
// same transform or another) is placed once, and still only its last
// placement shows: the order of what overlaps is kept exactly, down to a
// cell listed twice within one model.
TEST(VoxScene, RepeatedPlacementsShowAsTheLastOfThem) {
    auto scene = [](const std::vector<int32_t>& children) {
        return voxFile({sizeChunk(1, 1, 1), xyziChunk({{0, 0, 0, 216}, {0, 0, 0, 236}}),
                        sizeChunk(1, 1, 1), xyziChunk({{0, 0, 0, 226}}), transformChunk(0, 1, {}),
                        groupChunk(1, children), transformChunk(2, 3, {}), shapeChunk(3, 0),
                        transformChunk(4, 5, {}), shapeChunk(5, 1), transformChunk(6, 3, {})});
    };
    const std::set<Voxel> first = {at(0, 0, 0, 0, 0, 0xee)}, second = {at(0, 0, 0, 0, 0xee, 0)};
    EXPECT_EQ(convert(scene({2, 4, 2})), first);
    EXPECT_EQ(convert(scene({2, 2, 4})), second);
    EXPECT_EQ(convert(scene({4, 2, 4, 2, 2})), first);
    EXPECT_EQ(convert(scene({2, 4, 6})), first);
    EXPECT_EQ(convert(scene({6, 4, 2, 4})), second);
}

// The voxel limit counts each distinct placement once, before placing.
TEST(VoxScene, TheLimitCountsDistinctPlacements) {
    std::vector<std::array<uint8_t, 4>> cube;
    for (uint8_t n = 0; n < 8; ++n)
        cube.push_back({uint8_t(n & 1), uint8_t(n >> 1 & 1), uint8_t(n >> 2), uint8_t(1 + n)});
    auto place = [&](const std::vector<int32_t>& children, int64_t maxVoxels, size_t& count,
                     std::string& error) {
        Bytes file = voxFile({sizeChunk(2, 2, 2), xyziChunk(cube), transformChunk(0, 1, {}),
                              groupChunk(1, children), transformChunk(2, 3, {{"_t", "1 2 3"}}),
                              shapeChunk(3, 0), transformChunk(4, 3, {{"_t", "9 2 3"}})});
        VoxScene scene;
        VoxelList list;
        bool placed = parseVox(file.data(), file.size(), scene, error) &&
                      placeVoxScene(scene, 1.0f, maxVoxels, list, error);
        count = list.colors.size() / 3;
        return placed;
    };
    size_t count = 0;
    std::string error;
    EXPECT_TRUE(place(std::vector<int32_t>(20000, 2), 8, count, error)) << error;
    EXPECT_EQ(count, 8u);
    EXPECT_TRUE(place({2, 4, 2, 4}, 16, count, error)) << error;
    EXPECT_EQ(count, 16u);
    EXPECT_FALSE(place({2, 4, 2, 4}, 15, count, error));
    EXPECT_EQ(error, "the scene has more than 15 voxels (raise --max-voxels)");
}

TEST(VoxReader, RefusesDamagedFilesWithAReason) {
    Bytes good = voxFile({sizeChunk(2, 2, 2), xyziChunk({{0, 0, 0, 1}})});
    Bytes truncated(good.begin(), good.end() - 3);
    Bytes hugeCount = voxFile({sizeChunk(2, 2, 2), xyziChunk({{0, 0, 0, 1}})});
    hugeCount[good.size() - 5] = 0xff; // the XYZI count's top byte
    Bytes oversizedChunk = good;
    oversizedChunk[27] = 0xff; // the top byte of SIZE's content size
    Bytes hugeDict;
    putU32(hugeDict, 0);
    putU32(hugeDict, 0x7fffffff);
    Bytes badString;
    putU32(badString, 0);
    putU32(badString, 1);
    putU32(badString, 0xfffffff0);
    const std::pair<const char*, Bytes> cases[] = {
        {"not a .vox file", Bytes{'V', 'O', 'X'}},
        {"not a .vox file", Bytes{'P', 'L', 'Y', ' ', 1, 0, 0, 0}},
        {"no MAIN chunk",
         Bytes{'V', 'O', 'X', ' ', 150, 0, 0, 0, 'M', 'A', 'I', 'X', 0, 0, 0, 0, 0, 0, 0, 0}},
        {"MAIN chunk claims more", truncated},
        {"truncated SIZE chunk", oversizedChunk},
        {"more voxels than it holds", hugeCount},
        {"without a SIZE", voxFile({xyziChunk({{0, 0, 0, 1}})})},
        {"outside its model", voxFile({sizeChunk(2, 2, 2), xyziChunk({{0, 2, 0, 1}})})},
        {"malformed SIZE", voxFile({sizeChunk(0, 2, 2), xyziChunk({})})},
        {"shorter than 256",
         voxFile({sizeChunk(1, 1, 1), xyziChunk({{0, 0, 0, 1}}), chunk("RGBA", Bytes(1020, 1))})},
        {"malformed rotation", voxFile({sizeChunk(1, 1, 1), transformChunk(0, 1, {{"_r", "0"}})})},
        {"malformed translation",
         voxFile({sizeChunk(1, 1, 1), transformChunk(0, 1, {{"_t", "1 2"}})})},
        {"malformed nGRP", voxFile({chunk("nGRP", hugeDict)})},
        {"malformed nSHP", voxFile({chunk("nSHP", badString)})},
        {"defined twice", voxFile({groupChunk(1, {}), groupChunk(1, {})})},
        {"no models", voxFile({chunk("PACK", Bytes(4, 0))})},
    };
    for (const auto& [reason, file] : cases) {
        SCOPED_TRACE(reason);
        VoxScene scene;
        std::string error;
        EXPECT_FALSE(parseVox(file.data(), file.size(), scene, error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(VoxScene, RefusesUnusableScenesAndTooManyVoxels) {
    const Bytes model[] = {sizeChunk(2, 1, 1), xyziChunk({{0, 0, 0, 1}, {1, 0, 0, 1}})};
    const std::pair<const char*, Bytes> cases[] = {
        {"missing node 7", voxFile({model[0], model[1], transformChunk(0, 7, {})})},
        {"cyclic", voxFile({model[0], model[1], transformChunk(0, 1, {}), groupChunk(1, {0})})},
        {"shows model 3",
         voxFile({model[0], model[1], transformChunk(0, 1, {}), shapeChunk(1, 3)})},
        {"more than 1 voxels", voxFile({model[0], model[1]})},
    };
    for (const auto& [reason, file] : cases) {
        SCOPED_TRACE(reason);
        VoxScene scene;
        std::string error;
        ASSERT_TRUE(parseVox(file.data(), file.size(), scene, error)) << error;
        VoxelList list;
        EXPECT_FALSE(placeVoxScene(scene, 1.0f, 1, list, error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

} // namespace
