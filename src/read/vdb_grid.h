// The entry point of the OpenVDB module (libvoxscope_vdb.so, built from
// vdb_grid.cpp): libopenvdb brings TBB, Boost and log4cplus, whose worker
// threads start as it loads, so only the reading child loads it, through
// read/vdb_module.h; no program or test links it.
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Reads one grid of the .vdb file held in `data`: the one `options.grid`
// names (a name, or a number counting from 1), else the first float grid,
// else the first. The dense volume is the grid's active bounding box (a
// level set's: the box of its inside); fog grids are float values, level
// sets the voxels whose value is below 0, Vec3 grids colours, bool and mask
// grids occupancy, Int32 and Int64 grids labels. The grid's linear transform
// gives spacing, origin and directions, y up. Refuses with the reason alone;
// `note` names the grids passed over ("holds 3 grids; read ..."), empty when
// the file holds one.
extern "C" bool voxscopeReadVdbGrid(const uint8_t* data, size_t size, const ReadOptions& options,
                                    SampleVolume& out, std::string& reason, std::string& note);

using ReadVdbGridEntry = decltype(&voxscopeReadVdbGrid);
