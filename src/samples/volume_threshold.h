// Which samples of a grid are voxels: nonzero ones (or, with --background B,
// those other than B), or with --threshold T those whose value (scaled, for
// NIfTI) is at least T.
#pragma once

#include "samples/sample_volume.h"
#include "samples/volume_colors.h"

#include <string>

struct ThresholdRule {
    bool given = false;
    double value = 0.0;
    double background = 0.0; // without a threshold: the value of empty space
};

inline bool samplePasses(double value, const ThresholdRule& rule) {
    return rule.given ? value >= rule.value : value != rule.background;
}

// Measured values (floating-point arrays, NRRD and NIfTI volumes) have no
// natural "empty", so they need a threshold; integer volumes coloured as
// labels do not. Labels need integer samples. Fails with a sentence naming
// the option to give.
bool checkThresholdRule(const SampleVolume& volume, const ThresholdRule& rule, ColorMode mode,
                        std::string& error);

// The lowest and highest value among the samples that pass; false when none
// does.
bool passingValueRange(const SampleVolume& volume, const ThresholdRule& rule, double& lowest,
                       double& highest);

// How values become colours in a mode: grey and the map span the lowest to
// the highest value that passes.
struct ValueColoring {
    ColorMode mode = ColorMode::height;
    double lowest = 0, span = 0;
};

// Sets up `coloring` for `mode`; false when grey or the map is asked for
// and no sample passes.
bool startValueColoring(const SampleVolume& volume, const ThresholdRule& rule, ColorMode mode,
                        ValueColoring& coloring);

// The colour of `value`: the palette for labels, grey or the map by value
// (clamped to the range that passes); black for height colours, which are
// given once every voxel is known.
void valueColor(const ValueColoring& coloring, double value, uint8_t rgb[3]);
