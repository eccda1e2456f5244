#include "stages/height_ramp.h"

#include <algorithm>
#include <cmath>

void rampColor(const double (*stops)[3], int count, double t, uint8_t rgb[3]) {
    t = std::isfinite(t) ? std::clamp(t, 0.0, 1.0) : 0.0;
    double scaled = t * (count - 1);
    int segment = std::min(count - 2, int(scaled));
    double f = scaled - segment;
    for (int k = 0; k < 3; ++k)
        rgb[k] = uint8_t(
            std::lround(stops[segment][k] + (stops[segment + 1][k] - stops[segment][k]) * f));
}

void colorByHeights(const std::vector<int64_t>& heights, uint8_t* colors) {
    if (heights.empty())
        return;
    auto [low, high] = std::minmax_element(heights.begin(), heights.end());
    const int64_t range = *high - *low;
    for (size_t v = 0; v < heights.size(); ++v)
        heightRampColor(range > 0 ? double(heights[v] - *low) / double(range) : 0.0,
                        &colors[3 * v]);
}

void heightRampColor(double t, uint8_t rgb[3]) {
    static const double stops[4][3] = {
        {40, 70, 200}, {40, 170, 70}, {230, 200, 60}, {245, 245, 245}};
    rampColor(stops, 4, t, rgb);
}
