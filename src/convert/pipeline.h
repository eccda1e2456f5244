// The conversion from input file to voxel file, stage by stage:
//
//   INPUT ─┬─ a voxel format (grid_readers.h) ─> read into a VoxelGrid ──┐
//          └─ anything else ─> importAsset ─> voxelizeGeometry ──────────┤
//                                                                        v
//   grid stages: coarser grid (voxel inputs) ─> hollow ─> voxel limit
//                                                                        v
//                                               OUTPUT.vxl <─ writeVoxelFile
#pragma once

#include "convert/conversion_options.h"
#include "convert/voxel_grid.h"

#include <string>

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

// The whole conversion: read, stages, write. On failure sets `error` to one
// sentence and leaves no output file.
bool convertFile(const ConversionOptions& options, std::string& error);
