// The texture atlas: blocks placed without overlap inside sides that are
// powers of two, their colours where the blocks are, and a refusal beyond
// what graphics hardware takes.
#include <gtest/gtest.h>

#include "write/texture_atlas.h"

#include <random>

namespace {

TEST(TextureAtlas, PlacesEveryBlockApartInsideSidesOfPowersOfTwo) {
    std::mt19937 random(3);
    for (int round = 0; round < 10; ++round) {
        std::vector<AtlasBlock> blocks(size_t(1 + 300 * round));
        std::uniform_int_distribution<int32_t> side(1, round % 3 == 0 ? 1 : 40);
        int64_t area = 0;
        for (AtlasBlock& b : blocks) {
            b.width = side(random);
            b.height = side(random);
            area += int64_t(b.width) * b.height;
        }
        TextureAtlas atlas;
        std::string error;
        ASSERT_TRUE(packAtlas(blocks, atlas, error)) << error;
        EXPECT_EQ(atlas.width & (atlas.width - 1), 0);
        EXPECT_EQ(atlas.height & (atlas.height - 1), 0);
        EXPECT_LE(atlas.height, 2 * atlas.width);
        // Not wasteful: within eight times the blocks' own area.
        EXPECT_LE(int64_t(atlas.width) * atlas.height, 8 * area + 64);
        std::vector<int> owner(size_t(atlas.width) * size_t(atlas.height), -1);
        for (size_t i = 0; i < blocks.size(); ++i) {
            const AtlasBlock& b = blocks[i];
            ASSERT_GE(b.x, 0);
            ASSERT_GE(b.y, 0);
            ASSERT_LE(b.x + b.width, atlas.width);
            ASSERT_LE(b.y + b.height, atlas.height);
            for (int32_t y = b.y; y < b.y + b.height; ++y)
                for (int32_t x = b.x; x < b.x + b.width; ++x) {
                    int& o = owner[size_t(y) * size_t(atlas.width) + size_t(x)];
                    ASSERT_EQ(o, -1) << "blocks " << o << " and " << i << " overlap";
                    o = int(i);
                }
        }
    }
}

TEST(TextureAtlas, FillsBlocksWhereTheyLieAndRefusesTooLargeAPicture) {
    std::vector<AtlasBlock> blocks(2);
    blocks[0].width = 3;
    blocks[0].height = 2;
    TextureAtlas atlas;
    std::string error;
    ASSERT_TRUE(packAtlas(blocks, atlas, error));
    std::vector<uint8_t> colours(18);
    for (size_t i = 0; i < colours.size(); ++i)
        colours[i] = uint8_t(10 + i);
    fillBlock(atlas, blocks[0], colours.data());
    const uint8_t one[3] = {7, 8, 9};
    fillBlock(atlas, blocks[1], one);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(atlas.pixels[(size_t(blocks[0].y + y) * size_t(atlas.width) +
                                        size_t(blocks[0].x + x)) *
                                           3 +
                                       size_t(k)],
                          colours[size_t(3 * (3 * y + x) + k)]);
    const size_t at = (size_t(blocks[1].y) * size_t(atlas.width) + size_t(blocks[1].x)) * 3;
    EXPECT_EQ(
        std::vector<uint8_t>(atlas.pixels.begin() + long(at), atlas.pixels.begin() + long(at) + 3),
        std::vector<uint8_t>(one, one + 3));

    std::vector<AtlasBlock> huge(3);
    for (AtlasBlock& b : huge) {
        b.width = maxTextureSide;
        b.height = maxTextureSide / 2 + 1;
    }
    EXPECT_FALSE(packAtlas(huge, atlas, error));
    EXPECT_EQ(error.rfind("its texture would be ", 0), 0u) << error;
    EXPECT_NE(error.find(" texels, more than 16384 a side"), std::string::npos) << error;
}

} // namespace
