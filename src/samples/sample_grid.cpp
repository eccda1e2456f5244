#include "samples/sample_grid.h"

#include "samples/border_label.h"
#include "samples/volume_finer.h"
#include "samples/volume_resample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The edge of the cubes --resolution asks for: the longest side of the box
// of the voxels' cubes over the resolution; 0 without voxels.
double resolutionSize(const VoxelList& voxels, int64_t resolution) {
    const size_t count = voxels.colors.size() / 3;
    if (count == 0)
        return 0;
    double longest = 0;
    for (int k = 0; k < 3; ++k) {
        double lo = INFINITY, hi = -INFINITY;
        for (size_t i = 0; i < count; ++i) {
            lo = std::min(lo, double(voxels.positions[3 * i + size_t(k)]));
            hi = std::max(hi, double(voxels.positions[3 * i + size_t(k)]));
        }
        longest = std::max(longest, hi - lo + double(voxels.voxelSize));
    }
    return longest / double(resolution);
}

} // namespace

bool samplesToGrid(const SampleVolume& volume, ColorMode valueColors, const SampleRules& rules,
                   int64_t maxVoxels, VoxelGrid& out, std::string& reason, std::string* note) {
    if (volume.channels > 1 && rules.colors != ColorMode::automatic) {
        reason = "these are colour samples, each its voxel's colour: --colors does not apply";
        return false;
    }
    ColorMode mode = rules.colors;
    if (mode == ColorMode::automatic)
        mode = volume.meaning == SampleMeaning::labels && rules.threshold.given
                   ? ColorMode::grey
                   : defaultColorMode(volume.meaning, valueColors);
    if (!checkThresholdRule(volume, rules.threshold, mode, reason))
        return false;
    double label = 0;
    if (note && mode == ColorMode::labels && !rules.threshold.given &&
        borderLabel(volume, rules.threshold, label)) {
        char text[32];
        snprintf(text, sizeof text, "%.17g", label);
        *note = std::string("label ") + text +
                " fills most of the volume's border, as a background would; --background " + text +
                " leaves it out";
    }
    const double edge = std::max({volume.spacing[0], volume.spacing[1], volume.spacing[2]});
    const int64_t finerMax = rules.finerMaxVoxels > 0 ? rules.finerMaxVoxels : maxVoxels;
    // Compared as the floats voxel sizes are written as, as the coarser grid
    // compares them.
    double size = rules.voxelSize > 0 && float(rules.voxelSize) < float(edge) ? rules.voxelSize : 0;
    if (size == 0) {
        if (!resampleToCubes(volume, rules.threshold, mode, maxVoxels, out, reason))
            return false;
        if (rules.resolution <= 0)
            return true;
        size = resolutionSize(out.voxels, rules.resolution);
        if (!(float(size) < out.voxels.voxelSize))
            return true;
    }
    // Interpolating colours would make colours no sample has; colour
    // volumes keep cubes of their largest spacing or coarser.
    if (volume.channels > 1) {
        reason = "these are colour samples: they can be made coarser, not finer than their "
                 "largest spacing";
        out = VoxelGrid();
        return false;
    }
    if (!resampleFiner(volume, rules.threshold, mode, size, finerMax, out, reason))
        return false;
    out.atAskedSize = true;
    return true;
}
