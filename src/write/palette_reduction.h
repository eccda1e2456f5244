// A palette of at most so many colours for a voxel set: its own colours
// when it has no more, otherwise colours chosen by median cut (the box of
// colours with the largest squared error split at its weighted median along
// its widest channel) and refined by a few rounds of moving each palette
// colour to the mean of the colours it stands for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ReducedPalette {
    std::vector<uint8_t> colors;  // r, g, b of each palette entry
    std::vector<uint8_t> indexOf; // per voxel: its entry in `colors`
    int64_t distinctColors = 0;   // colours in the voxel set
    double meanError = 0;         // mean over voxels of the RGB distance to its entry
    double largestError = 0;      // the largest such distance
};

// Chooses at most `maxColors` (1 to 256) colours for the `count` voxels whose
// r, g, b bytes are `colors`, and each voxel's entry.
void reducePalette(const uint8_t* colors, size_t count, int maxColors, ReducedPalette& out);
