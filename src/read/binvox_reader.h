// binvox files: a short text header, then the occupancy of a cube of voxels
// as run-length byte pairs.
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Whether a file starts as binvox does, with "#binvox".
bool startsWithBinvox(const uint8_t* head, size_t size);

// Reads a whole binvox file: "#binvox 1", then "dim", "translate" and
// "scale" lines in any order, then "data" and the run-length pairs (a value,
// then how many voxels it covers). Voxels come y fastest, then z, then x; the
// voxel at index (x, y, z) is centred on translate + (index + 0.5) x scale /
// dim. `out` is an occupancy grid of 0 and 1 indexed (x, y, z). A header
// whose grid could not be covered by the bytes present is refused before the
// grid is allocated, and so is a grid of more than `maxBytes` voxels, runs
// that pass the end of the grid, and data that ends before it is full.
bool parseBinvox(const uint8_t* data, size_t size, int64_t maxBytes, SampleVolume& out,
                 std::string& error);
