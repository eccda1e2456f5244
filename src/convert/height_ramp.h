// The colours of sources that have none: by height.
#pragma once

#include <cstdint>

// The colour of height `t` (0 lowest, 1 highest) on the ramp used for sources
// without colours: blue, green, yellow, white.
void heightRampColor(double t, uint8_t rgb[3]);
