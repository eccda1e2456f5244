// The step from a grid of samples to the voxel grid the stages take: the
// threshold checked against what the samples mean, the colours chosen, the
// samples gathered into cubes.
#pragma once

#include "samples/sample_volume.h"
#include "samples/volume_colors.h"
#include "samples/volume_threshold.h"
#include "voxels/voxel_grid.h"

#include <cstdint>
#include <string>

// What the command line says of samples: which are voxels (--threshold) and
// how they are coloured (--colors).
struct SampleRules {
    ThresholdRule threshold;
    ColorMode colors = ColorMode::automatic;
};

// Turns `volume` into voxels on cubes of its largest spacing. Measured values
// take `valueColors` unless the rules choose colours. Fails with the reason
// (see checkThresholdRule and resampleToCubes); the caller names the input.
bool samplesToGrid(const SampleVolume& volume, ColorMode valueColors, const SampleRules& rules,
                   int64_t maxVoxels, VoxelGrid& out, std::string& reason);
