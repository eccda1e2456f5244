// Samples read from their file slab by slab, never whole: the threshold,
// the colours, the cubes, the coarser grid and the hollowing run on a few
// slices at a time, so that a volume of any size converts in memory bounded
// by a slab and what is written. Gives the grid that samplesToGrid and the
// grid stages give for the same samples, bit for bit.
#pragma once

#include "samples/sample_volume.h"
#include "samples/volume_colors.h"
#include "samples/volume_threshold.h"
#include "voxels/voxel_grid.h"

#include <cstdint>
#include <string>

// Where the samples lie: an open file, the byte of the file's sample (0, 0,
// 0) (a volume's `offset` counts from there, as orientToDisplay moves it),
// and their byte order.
struct SampleSource {
    int fd = -1;
    int64_t start = 0;
    bool bigEndian = false;
    // Slices read at a time (0: as many as fill slabBytes), so that tests
    // can put a slab's edge everywhere.
    int64_t slabSlices = 0;
};

// The bytes a slab holds when slabSlices is 0.
constexpr int64_t slabBytes = int64_t(32) << 20;

// Whether `volume` (turned to the display frame, its samples left in the
// file) can be streamed: plain samples of equal spacings, packed with no
// gap between slices.
bool streamableVolume(const SampleVolume& volume);

// What the first pass finds among the samples that pass `rule`: how many,
// the box of their indices and the range of their values.
struct SampleBox {
    int64_t count = 0;
    int64_t low[3] = {0, 0, 0}, high[3] = {-1, -1, -1};
    double lowest = 0, highest = 0;
};

// The first pass: reads every sample once. Fails when the file cannot be
// read as far as the volume reaches.
bool scanSampleBox(const SampleVolume& volume, const SampleSource& source,
                   const ThresholdRule& rule, SampleBox& box, std::string& error);

// What the slab pass makes of the samples that pass.
struct StreamPlan {
    ThresholdRule threshold;
    ColorMode mode = ColorMode::height; // resolved, as samplesToGrid resolves it
    // Merge into cells of this edge (cellSize), or of the longest side over
    // `resolution`, as the coarser grid does; neither: one voxel a sample.
    double cellSize = 0;
    int64_t resolution = 0;
    // Without a coarser grid: leave out what the hollow stage would.
    bool hollow = false;
    // The most voxels kept (without a coarser grid) or cells made (with
    // one); `kept` still counts beyond it.
    int64_t maxVoxels = 0;
};

// Where the cubes of the volume lie: cube (0, 0, 0)'s centre and their edge,
// as resampleToCubes places them.
void cubePlacement(const SampleVolume& volume, double corner[3], double& edge);

// The cells of the coarser grid `plan` asks for, from the box alone: false
// when the grid would be finer than the samples, or cannot be made (the
// in-memory path then decides).
bool coarseCellsFit(const SampleVolume& volume, const SampleBox& box, const StreamPlan& plan);

// The slab pass over the box's slices: `out` is the grid samplesToGrid
// gives, then coarsened (marked atAskedSize) or hollowed as `plan` says;
// `kept` is how many voxels that makes. When more than plan.maxVoxels
// result, `out` is left empty and `kept` passes the limit (by one, for a
// coarser grid, whose cells are not all counted). Fails with the reason
// only when the file cannot be read (or coarseCellsFit was not asked).
bool streamSamples(const SampleVolume& volume, const SampleSource& source, const StreamPlan& plan,
                   const SampleBox& box, VoxelGrid& out, int64_t& kept, std::string& error);
