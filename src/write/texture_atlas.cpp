#include "write/texture_atlas.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace {

int64_t powerOfTwoAtLeast(int64_t n) {
    int64_t p = 1;
    while (p < n)
        p *= 2;
    return p;
}

// Shelves of width `width`, tallest blocks first; returns the height used.
int64_t placeOnShelves(std::vector<AtlasBlock>& blocks, const std::vector<uint32_t>& order,
                       int64_t width) {
    int64_t x = 0, y = 0, shelf = 0;
    for (uint32_t i : order) {
        AtlasBlock& b = blocks[i];
        if (x + b.width > width) {
            y += shelf;
            x = 0;
            shelf = 0;
        }
        b.x = int32_t(x);
        b.y = int32_t(y);
        x += b.width;
        shelf = std::max<int64_t>(shelf, b.height);
    }
    return y + shelf;
}

} // namespace

bool packAtlas(std::vector<AtlasBlock>& blocks, TextureAtlas& atlas, std::string& error) {
    atlas = TextureAtlas();
    int64_t area = 0, widest = 1;
    for (const AtlasBlock& b : blocks) {
        area += int64_t(b.width) * b.height;
        widest = std::max<int64_t>(widest, b.width);
    }
    std::vector<uint32_t> order(blocks.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        if (blocks[a].height != blocks[b].height)
            return blocks[a].height > blocks[b].height;
        return blocks[a].width > blocks[b].width;
    });
    int64_t width =
        powerOfTwoAtLeast(std::max(widest, int64_t(std::ceil(std::sqrt(double(area))))));
    int64_t height = powerOfTwoAtLeast(placeOnShelves(blocks, order, width));
    // Shelves waste room under short blocks: a wider atlas keeps it square.
    while (height > 2 * width && width < maxTextureSide) {
        width *= 2;
        height = powerOfTwoAtLeast(placeOnShelves(blocks, order, width));
    }
    if (width > maxTextureSide || height > maxTextureSide) {
        error = "its texture would be " + std::to_string(width) + " x " + std::to_string(height) +
                " texels, more than " + std::to_string(maxTextureSide) + " a side";
        return false;
    }
    atlas.width = int32_t(width);
    atlas.height = int32_t(height);
    atlas.pixels.assign(size_t(width) * size_t(height) * 3, 0);
    return true;
}

void fillBlock(TextureAtlas& atlas, const AtlasBlock& block, const uint8_t* colors) {
    const size_t rowBytes = size_t(block.width) * 3;
    for (int32_t row = 0; row < block.height; ++row)
        memcpy(&atlas.pixels[(size_t(block.y + row) * size_t(atlas.width) + size_t(block.x)) * 3],
               colors + size_t(row) * rowBytes, rowBytes);
}
