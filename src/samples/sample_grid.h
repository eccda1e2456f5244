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

// What the command line says of samples: which are voxels (--threshold), how
// they are coloured (--colors), and the grid asked for (--voxel-size or
// --resolution), which the samples are resampled to when it is finer than
// they are.
struct SampleRules {
    ThresholdRule threshold;
    ColorMode colors = ColorMode::automatic;
    double voxelSize = 0;   // 0: not asked
    int64_t resolution = 0; // 0: not asked
    // The most voxels a finer grid may give (0: the reader's limit): no
    // stage that leaves voxels out follows it unless --hollow does.
    int64_t finerMaxVoxels = 0;
};

// Turns `volume` into voxels on cubes of its largest spacing, or on the
// finer cubes the rules ask for (resampleFiner; `out.atAskedSize` is then
// set, and no coarser grid is to follow). A --resolution is measured on the
// box of the voxels of the largest spacing, as the coarser grid measures
// it. Measured values take `valueColors` unless the rules choose colours;
// integer labels with a threshold are values and are grey. Fails with the
// reason (see checkThresholdRule and resampleToCubes); the caller names the
// input. When a label that is not empty fills most of the volume's border,
// as a background would, `note` (when given) says so and names the option
// that leaves it out.
bool samplesToGrid(const SampleVolume& volume, ColorMode valueColors, const SampleRules& rules,
                   int64_t maxVoxels, VoxelGrid& out, std::string& reason,
                   std::string* note = nullptr);
