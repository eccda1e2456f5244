#include "samples/volume_colors.h"

#include "stages/height_ramp.h"

#include <algorithm>
#include <cmath>

bool parseColorMode(const std::string& text, ColorMode& mode) {
    if (text == "height")
        mode = ColorMode::height;
    else if (text == "labels")
        mode = ColorMode::labels;
    else if (text == "grey" || text == "gray")
        mode = ColorMode::grey;
    else if (text == "map")
        mode = ColorMode::map;
    else
        return false;
    return true;
}

ColorMode defaultColorMode(SampleMeaning meaning, ColorMode valueColors) {
    switch (meaning) {
    case SampleMeaning::occupancy:
        return ColorMode::height;
    case SampleMeaning::labels:
        return ColorMode::labels;
    case SampleMeaning::values:
        break;
    }
    return valueColors;
}

void labelColor(uint64_t label, uint8_t rgb[3]) {
    static const uint8_t palette[labelPaletteSize][3] = {
        {0xf3, 0xc3, 0x00}, {0x87, 0x56, 0x92}, {0xf3, 0x84, 0x00}, {0xa1, 0xca, 0xf1},
        {0xbe, 0x00, 0x32}, {0xc2, 0xb2, 0x80}, {0x84, 0x84, 0x82}, {0x00, 0x88, 0x56},
        {0xe6, 0x8f, 0xac}, {0x00, 0x67, 0xa5}, {0xf9, 0x93, 0x79}, {0x60, 0x4e, 0x97},
        {0xf6, 0xa6, 0x00}, {0xb3, 0x44, 0x6c}, {0xdc, 0xd3, 0x00}, {0x88, 0x2d, 0x17},
        {0x8d, 0xb6, 0x00}, {0x65, 0x45, 0x22}, {0xe2, 0x58, 0x22}, {0x2b, 0x3d, 0x26},
    };
    const uint8_t* c = palette[(label - 1) % labelPaletteSize];
    rgb[0] = c[0], rgb[1] = c[1], rgb[2] = c[2];
}

uint64_t labelOfValue(double value) {
    if (value >= 0x1p63)
        return value < 0x1p64 ? uint64_t(value) : UINT64_MAX;
    if (value >= -0x1p63)
        return uint64_t(int64_t(value));
    return value < 0 ? uint64_t(INT64_MIN) : 0; // far below, or NaN
}

void colorMapColor(double t, uint8_t rgb[3]) {
    static const double stops[9][3] = {
        {0x44, 0x01, 0x54}, {0x47, 0x2d, 0x7b}, {0x3b, 0x52, 0x8b},
        {0x2c, 0x72, 0x8e}, {0x21, 0x90, 0x8c}, {0x27, 0xad, 0x81},
        {0x5d, 0xc8, 0x63}, {0xaa, 0xdc, 0x32}, {0xfd, 0xe7, 0x25},
    };
    rampColor(stops, 9, t, rgb);
}

void greyColor(double t, uint8_t rgb[3]) {
    static const double stops[2][3] = {{64, 64, 64}, {255, 255, 255}};
    rampColor(stops, 2, t, rgb);
}
