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
