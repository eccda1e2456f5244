#include "read/slice_stack.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace {

double dot(const double a[3], const double b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

std::string millimetres(double value) {
    char text[32];
    snprintf(text, sizeof text, "%.4g", value);
    return text;
}

} // namespace

bool stackSlices(const std::vector<SlicePlace>& slices, const double row[3], const double column[3],
                 double fallbackSpacing, int64_t maxDepth, SliceStack& stack, std::string& error) {
    stack = SliceStack();
    double* n = stack.normal;
    n[0] = row[1] * column[2] - row[2] * column[1];
    n[1] = row[2] * column[0] - row[0] * column[2];
    n[2] = row[0] * column[1] - row[1] * column[0];
    const double length = std::sqrt(dot(n, n));
    if (slices.empty() || !std::isfinite(length) || length < 1e-6) {
        error = "its Image Orientation (Patient) gives no slice normal";
        return false;
    }
    for (double& c : stack.normal)
        c /= length;
    std::vector<double> along(slices.size());
    for (size_t s = 0; s < slices.size(); ++s) {
        along[s] = dot(slices[s].position, n);
        if (!std::isfinite(along[s])) {
            error = "an Image Position (Patient) is not a finite number";
            return false;
        }
    }
    std::vector<int> order(slices.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return along[a] < along[b]; });
    // The step is the most common gap between distinct positions (to a
    // micrometre), so that a missing slice or two does not widen it.
    const double same = 1e-3;
    std::vector<double> gaps;
    for (size_t s = 1; s < order.size(); ++s) {
        const double gap = along[order[s]] - along[order[s - 1]];
        if (gap > same)
            gaps.push_back(gap);
    }
    stack.spacing = fallbackSpacing > 0 && std::isfinite(fallbackSpacing) ? fallbackSpacing : 1.0;
    if (!gaps.empty()) {
        std::vector<double> sorted = gaps;
        std::sort(sorted.begin(), sorted.end());
        size_t best = 0, bestCount = 0;
        for (size_t a = 0, b = 0; a < sorted.size(); a = b) {
            while (b < sorted.size() && sorted[b] - sorted[a] <= same)
                ++b;
            if (b - a > bestCount)
                best = a, bestCount = b - a;
        }
        stack.spacing = sorted[best];
        const double low = sorted.front(), high = sorted.back();
        bool uneven = false;
        int64_t missing = 0;
        for (double gap : gaps) {
            const double steps = gap / stack.spacing;
            const double whole = std::round(steps);
            if (std::fabs(steps - whole) > 0.01 || whole < 1)
                uneven = true;
            else if (whole > 1)
                missing += int64_t(whole) - 1;
        }
        if (uneven)
            stack.notes.push_back("has unevenly spaced slices (steps from " + millimetres(low) +
                                  " to " + millimetres(high) +
                                  "); each is placed at the nearest whole step of " +
                                  millimetres(stack.spacing));
        if (missing > 0)
            stack.notes.push_back("is missing " + std::to_string(missing) +
                                  " slices between its positions; their places stay empty");
    }
    const double span = (along[order.back()] - along[order.front()]) / stack.spacing;
    if (!(span < double(maxDepth))) {
        error = "its slice positions span more than " + std::to_string(maxDepth) + " steps of " +
                millimetres(stack.spacing);
        return false;
    }
    stack.depth = int64_t(std::llround(span)) + 1;
    stack.first = order.front();
    stack.index.assign(slices.size(), -1);
    std::vector<bool> taken(size_t(stack.depth), false);
    int64_t shared = 0;
    for (int s : order) {
        const int64_t k = std::llround((along[s] - along[order.front()]) / stack.spacing);
        if (taken[size_t(k)]) {
            ++shared;
            continue;
        }
        taken[size_t(k)] = true;
        stack.index[size_t(s)] = k;
    }
    if (shared > 0)
        stack.notes.push_back(std::to_string(shared) +
                              " of its slices share a place with another; the first is kept");
    // A tilted gantry moves each slice off the normal through the first:
    // the slices keep their places along it, not their sideways shift. Half
    // a degree passes for the rounding of positions written as text.
    double tilt = 0;
    const double* origin = slices[size_t(order.front())].position;
    for (int s : order) {
        double offset[3];
        for (int c = 0; c < 3; ++c)
            offset[c] = slices[size_t(s)].position[c] - origin[c];
        const double d = dot(offset, n);
        double sideways = 0;
        for (int c = 0; c < 3; ++c)
            sideways += (offset[c] - d * n[c]) * (offset[c] - d * n[c]);
        if (d > same)
            tilt = std::max(tilt, std::atan2(std::sqrt(sideways), d));
    }
    const double degrees = tilt * 180 / M_PI;
    if (degrees > 0.5)
        stack.notes.push_back("has slices tilted by " + millimetres(degrees) +
                              " degrees from their normal (a tilted gantry); each is placed "
                              "along the normal, not shifted sideways");
    return true;
}
