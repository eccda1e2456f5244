// OpenVDB grids (film and simulation volumes) through libopenvdb, read from
// the bytes of a .vdb file: every OpenVDB header is included by
// vdb_reader.cpp alone, which keeps the library's heavy templates out of
// the rest of the build.
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Whether a file starts with the VDB magic number (0x56444220, least
// significant byte first).
bool startsWithVdb(const uint8_t* head, size_t size);

// Reads one grid of the .vdb file held in `data`: the one `options.grid`
// names (a name, or a number counting from 1), else the first float grid,
// else the first. The dense volume is the grid's active bounding box (a
// level set's: the box of its inside); fog grids are float values, level
// sets the voxels whose value is below 0, Vec3 grids colours, bool and mask
// grids occupancy, Int32 and Int64 grids labels. The grid's linear transform
// gives spacing, origin and directions, y up. libopenvdb runs in a child
// process held to `options.maxBytes`, so that a crash is a refusal. Refuses
// with the reason alone; notes the grids it passed over.
bool readVdbGrid(const uint8_t* data, size_t size, const ReadOptions& options, SampleVolume& out,
                 std::string& reason);
