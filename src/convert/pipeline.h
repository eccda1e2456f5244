// The conversion from input file to voxel file, stage by stage:
//
//   INPUT ─┬─ a voxel format (grid_readers.h) ─> read into a VoxelGrid ──┐
//          └─ anything else ─> importAsset ─> voxelizeGeometry ──────────┤
//                                                                        v
//   grid stages: coarser grid (voxel inputs) ─> hollow ─> voxel limit
//                                                                        v
//                                  OUTPUT <─ the writer of its format
#pragma once

#include "convert/conversion_options.h"
#include "convert/voxel_grid.h"

#include <functional>
#include <string>
#include <vector>

// Writes the finished grid into the output begun (and its companions) and
// puts them in place; on failure removes them and sets `error`.
using GridWriter = std::function<bool(const VoxelGrid& grid, std::string& error)>;

// Reads the input into a grid: by its format's reader when a voxel format
// claims it, else through the mesh and point importer and the voxelizer.
// `voxelInput` tells which of the two it was. Notes go to stderr.
bool readInput(const ConversionOptions& options, VoxelGrid& grid, bool& voxelInput,
               std::string& error);

// The grid stages the options ask for, in order: the coarser grid (voxel
// inputs only: for meshes --voxel-size and --resolution choose the
// voxelizer's grid), then hollowing; then the voxel limit.
bool runGridStages(const ConversionOptions& options, bool voxelInput, VoxelGrid& grid,
                   std::string& error);

// Refuses an output (or a companion file it brings along) that names the
// input, or that is not a regular file, and begins them
// (platform/output_file.h): before any work, so that nothing is read for an
// output that could not be written.
bool beginConversionOutput(const ConversionOptions& options,
                           const std::vector<std::string>& companions, std::string& error);

// The whole conversion, once the output is begun: read, stages, then
// `write`. On failure sets `error` to one sentence; the temporary files are
// removed and existing outputs left as they were.
bool convertFile(const ConversionOptions& options, const GridWriter& write, std::string& error);
