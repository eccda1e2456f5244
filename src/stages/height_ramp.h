// Colour ramps: the colours of sources that have none, by height, and the
// interpolation that other colour maps share.
#pragma once

#include <cstdint>
#include <vector>

// The colour at `t` (0 to 1, clamped; a t that is not a number counts as 0)
// on the ramp through `count` evenly spaced stops, linear in between.
void rampColor(const double (*stops)[3], int count, double t, uint8_t rgb[3]);

// The colour of height `t` (0 lowest, 1 highest) on the ramp used for sources
// without colours: blue, green, yellow, white.
void heightRampColor(double t, uint8_t rgb[3]);

// Colours voxel n (its red, green, blue at colors[3n]) by heights[n] on the
// height ramp, from the lowest of the heights to the highest.
void colorByHeights(const std::vector<int64_t>& heights, uint8_t* colors);
