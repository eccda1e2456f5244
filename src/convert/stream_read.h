// Volumes whose samples lie as one raw block in a file (NRRD, NIfTI, .npy):
// read slab by slab rather than whole, when nothing asked of them needs
// them all at once, so that a volume of any size converts in bounded memory.
#pragma once

#include "convert/conversion_options.h"
#include "read/input_format.h"
#include "voxels/voxel_grid.h"

#include <string>

enum class StreamOutcome { notStreamed, done, failed };

// Converts the input `format` reads as its samples stream: `grid` is what
// reading the input whole and the grid stages up to the hollowing would
// make. notStreamed when the samples are not one raw block in a regular
// file, or when the options need them whole: a grid finer than the
// samples, unequal spacings, colour samples, labels without a threshold
// (whose border is looked at), or hollowing without a coarser grid where
// shading is on. failed sets `error` to one sentence naming the input.
StreamOutcome streamInput(const ConversionOptions& options, const InputFormat& format,
                          VoxelGrid& grid, std::string& error);

// Whether the input's samples lie so that they would stream (judged from
// its header alone): its memory cap then need not grow with its size.
bool inputStreams(const ConversionOptions& options);
