#include "samples/sample_grid.h"

#include "samples/volume_resample.h"

bool samplesToGrid(const SampleVolume& volume, ColorMode valueColors, const SampleRules& rules,
                   int64_t maxVoxels, VoxelGrid& out, std::string& reason) {
    if (volume.channels > 1 && rules.colors != ColorMode::automatic) {
        reason = "these are colour samples, each its voxel's colour: --colors does not apply";
        return false;
    }
    const ColorMode mode = rules.colors != ColorMode::automatic
                               ? rules.colors
                               : defaultColorMode(volume.meaning, valueColors);
    return checkThresholdRule(volume, rules.threshold, mode, reason) &&
           resampleToCubes(volume, rules.threshold, mode, maxVoxels, out, reason);
}
