#include "samples/border_label.h"

#include <algorithm>
#include <vector>

bool borderLabel(const SampleVolume& volume, const ThresholdRule& rule, double& label) {
    const int64_t* n = volume.dims;
    std::vector<double> values;
    for (int64_t k = 0; k < n[2]; ++k)
        for (int64_t j = 0; j < n[1]; ++j) {
            const bool face = k == 0 || k == n[2] - 1 || j == 0 || j == n[1] - 1;
            // Inside the faces of j and k, only the two ends of the row.
            const int64_t step = face || n[0] < 2 ? 1 : n[0] - 1;
            for (int64_t i = 0; i < n[0]; i += step)
                values.push_back(sampleValue(volume, i, j, k));
        }
    if (values.empty())
        return false;
    std::sort(values.begin(), values.end());
    size_t best = 0, bestCount = 0;
    for (size_t at = 0; at < values.size();) {
        size_t end = at;
        while (end < values.size() && values[end] == values[at])
            ++end;
        if (end - at > bestCount) {
            best = at;
            bestCount = end - at;
        }
        at = end;
    }
    if (!(2 * bestCount > values.size()) || !samplePasses(values[best], rule))
        return false;
    label = values[best];
    ThresholdRule without = rule;
    without.background = label;
    for (int64_t k = 0; k < n[2]; ++k)
        for (int64_t j = 0; j < n[1]; ++j)
            for (int64_t i = 0; i < n[0]; ++i) {
                const double value = sampleValue(volume, i, j, k);
                if (samplePasses(value, without) && samplePasses(value, rule))
                    return true;
            }
    return false;
}
