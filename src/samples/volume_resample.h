// From samples to voxels: the samples that pass the threshold, gathered into
// cubes whose edge is the volume's largest spacing, and coloured.
#pragma once

#include "samples/sample_volume.h"
#include "samples/volume_colors.h"
#include "samples/volume_threshold.h"
#include "voxels/voxel_grid.h"

#include <cstdint>
#include <string>
#include <vector>

// The cube each sample along one axis falls in: sample i (its centre at
// (i + 0.5) x spacing from the volume's edge) goes to the cube of edge
// `edge` that holds that point. `cubes` is set to how many cubes the axis
// spans. With spacing == edge, sample i is cube i.
std::vector<int64_t> cubeOfSample(int64_t samples, double spacing, double edge, int64_t& cubes);

// The voxel size and the cube centres as the 32-bit floats the voxel file
// holds them in. A header's spacing or origin that makes the size 0,
// subnormal or infinite, takes a centre out of float range, or puts
// neighbouring centres on one float (every voxel at one place) is refused,
// naming the header fields it came from. Centres run evenly from the first
// cube to the last, so their ends are the ones to check.
bool checkFloatPlacement(const SampleVolume& volume, double edge, const double corner[3],
                         const int64_t cubes[3], std::string& error);

// The refusal of a volume that makes more than `maxVoxels` voxels.
std::string tooManyVoxelsReason(int64_t maxVoxels);

// The refusal of `count` voxels left after every stage, more than
// `maxVoxels`.
std::string voxelLimitReason(int64_t count, int64_t maxVoxels);

// Turns `volume` into voxels on cubes of the largest spacing: a cube is a
// voxel when any of its samples passes `rule`, and its colour is the mean of
// those samples' colours in `mode` (height: by the cube's height among the
// voxels, blue low to white high; labels: the palette; grey and map: by value
// from the lowest to the highest value that passes; colour samples: their
// own colours, where the alpha (RGBA) or the brightest channel (RGB) is
// not 0, or passes `rule` when given). With equal spacings each
// sample is a cube of its own. The cubes are the grid's lattice: cube (0, 0,
// 0) is the one that holds sample (0, 0, 0), the step is the cube edge and
// the voxel size. Fails, with nothing in `out`, when more than `maxVoxels`
// voxels result, or when the spacings are so unequal that a cube would
// gather more than 2^24 samples. Memory beyond the volume is the voxels (and,
// with unequal spacings, the colour sums of the cubes met so far).
bool resampleToCubes(const SampleVolume& volume, const ThresholdRule& rule, ColorMode mode,
                     int64_t maxVoxels, VoxelGrid& out, std::string& error);
