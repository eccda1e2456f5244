// Colours for voxels made from samples: a fixed categorical palette for
// labels, a perceptual colour map (viridis) or grey for measured values.
#pragma once

#include "samples/sample_volume.h"

#include <cstdint>
#include <string>

// automatic: occupancy by height, labels from the palette, values as the
// input format says: grey for volumes, the map for arrays (defaultColorMode).
enum class ColorMode { automatic, height, labels, grey, map };

// Whether samples are coloured by their height: asked for, or the mode left
// to the input, which is resolved to height where colours cannot come from
// values.
inline bool colorsByHeight(ColorMode mode) {
    return mode == ColorMode::height || mode == ColorMode::automatic;
}

// Parses the value of --colors ("height", "labels", "grey", "map").
bool parseColorMode(const std::string& text, ColorMode& mode);

// The mode used when none is asked for: `valueColors` is the input format's
// for measured values.
ColorMode defaultColorMode(SampleMeaning meaning, ColorMode valueColors);

// Label 1 takes the palette's first colour, 2 the second, and so on,
// repeating after the palette's 20 colours (Kelly's colours of maximum
// contrast, without white and black); any 64-bit label has a colour.
void labelColor(uint64_t label, uint8_t rgb[3]);

// The label a sample's value stands for: the integer it holds, whether it
// came from a signed or an unsigned array (negative labels wrap as they
// would in two's complement). Values no integer type holds (NaN, infinities,
// a scaled value beyond 64 bits) saturate rather than being converted, which
// would be undefined.
uint64_t labelOfValue(double value);
constexpr int labelPaletteSize = 20;

// viridis at t from 0 (dark violet) to 1 (yellow), clamped; from the map's
// published values at nine evenly spaced points, in between linearly.
void colorMapColor(double t, uint8_t rgb[3]);

// Grey from dark grey at t = 0 to white at t = 1, so that the lowest values
// still stand out from the viewer's black background.
void greyColor(double t, uint8_t rgb[3]);
