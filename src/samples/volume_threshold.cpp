#include "samples/volume_threshold.h"

#include "samples/volume_scan.h"

#include <algorithm>

bool checkThresholdRule(const SampleVolume& volume, const ThresholdRule& rule, ColorMode mode,
                        std::string& error) {
    bool scaled = volume.slope != 1.0 || volume.intercept != 0.0;
    if (mode == ColorMode::labels && (sampleTypeIsFloat(volume.type) || scaled)) {
        error = "--colors labels needs integer samples; these are " +
                std::string(scaled ? "scaled values" : sampleTypeName(volume.type));
        return false;
    }
    if (!rule.given && volume.meaning == SampleMeaning::values && mode != ColorMode::labels) {
        error = std::string("these are ") + sampleTypeName(volume.type) +
                " values with no empty value: give --threshold T (voxels where the value is at "
                "least T)";
        return false;
    }
    return true;
}

bool passingValueRange(const SampleVolume& volume, const ThresholdRule& rule, double& lowest,
                       double& highest) {
    bool any = false;
    lowest = highest = 0;
    forEachSampleRow(volume, [&](const auto* row, int64_t count, int64_t stride, int64_t, int64_t) {
        for (int64_t n = 0; n < count; ++n) {
            double v = volume.slope * double(row[n * stride]) + volume.intercept;
            if (!samplePasses(v, rule))
                continue;
            if (!any) {
                lowest = highest = v;
                any = true;
            } else {
                lowest = std::min(lowest, v);
                highest = std::max(highest, v);
            }
        }
    });
    return any;
}

bool startValueColoring(const SampleVolume& volume, const ThresholdRule& rule, ColorMode mode,
                        ValueColoring& coloring) {
    coloring = ValueColoring();
    coloring.mode = mode;
    if (mode != ColorMode::grey && mode != ColorMode::map)
        return true;
    double highest = 0;
    if (!passingValueRange(volume, rule, coloring.lowest, highest))
        return false;
    coloring.span = highest - coloring.lowest;
    return true;
}

void valueColor(const ValueColoring& coloring, double value, uint8_t rgb[3]) {
    const double t = coloring.span > 0 ? (value - coloring.lowest) / coloring.span : 1.0;
    switch (coloring.mode) {
    case ColorMode::labels:
        labelColor(labelOfValue(value), rgb);
        break;
    case ColorMode::grey:
        greyColor(t, rgb);
        break;
    case ColorMode::map:
        colorMapColor(t, rgb);
        break;
    case ColorMode::height:
    case ColorMode::automatic:
        rgb[0] = rgb[1] = rgb[2] = 0;
        break;
    }
}
