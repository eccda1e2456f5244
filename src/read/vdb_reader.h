// OpenVDB grids (film and simulation volumes) through libopenvdb, read from
// the bytes of a .vdb file: the row, and the reading child that loads the
// OpenVDB module (read/vdb_grid.h) to read them.
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Whether a file starts with the VDB magic number (0x56444220, least
// significant byte first).
bool startsWithVdb(const uint8_t* head, size_t size);

// Reads one grid of the .vdb file held in `data` as voxscopeReadVdbGrid
// does (read/vdb_grid.h), in a child process held to `options.maxBytes`
// that loads the module, so that a crash, or a module that cannot be
// loaded, is a refusal. Refuses with the reason alone; notes the grids it
// passed over.
bool readVdbGrid(const uint8_t* data, size_t size, const ReadOptions& options, SampleVolume& out,
                 std::string& reason);
