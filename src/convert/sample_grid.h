// The step from a grid of samples (binvox, NumPy, NRRD, NIfTI) to the voxel
// grid the stages take: the threshold checked against what the samples mean,
// the colours chosen, the samples gathered into cubes.
#pragma once

#include "convert/voxel_grid.h"
#include "samples/sample_volume.h"

#include <string>

// `isVolume`: NRRD and NIfTI, whose values are grey by default; NumPy values
// take the colour map. Fails with a sentence that names the input (see
// checkThresholdRule and resampleToCubes).
bool samplesToGrid(const SampleVolume& volume, bool isVolume, const GridReadOptions& options,
                   VoxelGrid& out, std::string& error);

// Prefixes `error` with "cannot read PATH as FORMAT: " and returns false:
// how the sample readers refuse a file.
bool refuseFile(const GridReadOptions& options, const char* format, std::string& error);

// "WHAT is larger than the memory allowed: it needs N MiB, more than the M
// MiB allowed (raise --max-memory)": how a reader refuses a header whose
// claim would not fit, before it allocates anything for it. `neededBytes`
// may be far beyond what 64 bits count.
std::string memoryRefusal(const std::string& what, long double neededBytes, int64_t allowedBytes);

// Whether a file of this name and first bytes goes by its name: when it
// ends in `extension` and its content is not recognisably another format
// (no magic number of a grid format at its start), so that content wins
// over names.
bool namedAs(const uint8_t* head, size_t size, const char* path, const char* extension);

// The size of the data file that a detached NRRD header or a NIfTI .hdr at
// `path` names (0 for any other file, and for an input that is not a regular
// file, which only its reader reads), so that the memory cap, which grows
// with the input's size, counts the data too.
int64_t detachedDataBytes(const char* path);

// Whether `reader` reads a grid of samples, and so takes --threshold and
// --colors.
bool readsSamples(GridReader reader);
