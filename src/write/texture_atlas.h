// The texture of a merged mesh: each rectangle's colours as a block of
// texels, the blocks packed in rows (shelves) into one picture whose sides
// are powers of two, which every viewer and engine takes as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The most texels along a side: what graphics hardware commonly takes.
constexpr int32_t maxTextureSide = 16384;

struct AtlasBlock {
    int32_t width = 1, height = 1; // in texels
    int32_t x = 0, y = 0;          // where it was placed (left, top)
};

struct TextureAtlas {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels; // RGB, rows from the top
};

// Places every block without overlap and sizes the atlas to hold them, its
// pixels black. False, with the size it would need in `error`, when a side
// would pass maxTextureSide.
bool packAtlas(std::vector<AtlasBlock>& blocks, TextureAtlas& atlas, std::string& error);

// Copies a block's colours (rows from the top, three bytes a texel) into
// the atlas where the block was placed.
void fillBlock(TextureAtlas& atlas, const AtlasBlock& block, const uint8_t* colors);
