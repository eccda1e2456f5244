// From samples to voxels finer than the samples: a thick-slice scan made
// into smaller cubes, each valued by linear interpolation between the
// samples around its centre, then thresholded.
#pragma once

#include "samples/sample_volume.h"
#include "samples/volume_colors.h"
#include "samples/volume_threshold.h"
#include "voxels/voxel_grid.h"

#include <cstdint>
#include <string>

// Turns `volume` into voxels on cubes of edge `size`, from the volume's
// lowest edge (half a sample before sample 0's centre) to past its highest
// edge. A cube's value is the trilinear interpolation of the eight samples
// around its centre (beyond the outermost centres, the outermost value).
// With --threshold the cube is a voxel when that value passes, coloured by
// it; without, when the samples that pass weigh at least half, coloured by
// their weighted mean. Labels come from the sample that weighs most among
// those that pass, never from a mean. Height colours and the lattice are
// as in resampleToCubes. Fails, with nothing in `out`, when more than
// `maxVoxels` voxels result or a grid would be longer than maxGridCells.
bool resampleFiner(const SampleVolume& volume, const ThresholdRule& rule, ColorMode mode,
                   double size, int64_t maxVoxels, VoxelGrid& out, std::string& error);
