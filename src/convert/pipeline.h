// The conversion from input file to voxel file, stage by stage:
//
//   INPUT ─┬─ a row of the input table (input_read.h) ─> a VoxelGrid ────┐
//          └─ anything else ─> importAsset ─> voxelizeGeometry ──────────┤
//                                                                        v
//   grid stages: coarser grid (voxel inputs) ─> shade ─> hollow ─> voxel limit
//                                                                        v
//                                 OUTPUT <─ its row of the output table
#pragma once

#include "convert/conversion_options.h"
#include "voxels/voxel_grid.h"
#include "write/output_format.h"

#include <string>

// What read an input: the mesh and point importer, a reader of samples, or a
// reader of voxels (.vxl, .vox).
enum class InputKind { mesh, samples, voxels };

// Reads the input into a grid: by its row's reader when a row of the input
// table claims it, else through the mesh and point importer and the voxelizer.
// `kind` tells which it was. Notes go to stderr.
bool readInput(const ConversionOptions& options, VoxelGrid& grid, InputKind& kind,
               std::string& error);

// The grid stages the options ask for, in order: the coarser grid (every
// input but meshes: for those --voxel-size and --resolution choose the
// voxelizer's grid), shading (--shade, or by default where the colours carry
// no shape and the input is not a voxel file), then hollowing; then the
// voxel limit.
bool runGridStages(const ConversionOptions& options, InputKind kind, VoxelGrid& grid,
                   std::string& error);

// readInput then runGridStages, each named on the progress line; an empty
// result is refused ("IN: no voxels to WHAT", WHAT being what the caller
// would do with them).
bool convertToGrid(const ConversionOptions& options, const char* what, VoxelGrid& grid,
                   std::string& error);

// Refuses an output that names the input, or that is not a regular file,
// and begins the output file (platform/output_file.h): before any work, so
// that nothing is read for an output that could not be written. The output's
// extension chooses its row of the output table; an extension no row writes
// is refused, naming those that are written, and so is --mesh for a row
// that writes no mesh.
bool beginConversionOutput(const ConversionOptions& options, std::string& error);

// The same for the output written as `format`: the files it writes beside
// the output may not name the input either, and are begun as its
// companions, each held to the output's rules.
bool beginOutputAs(const OutputFormat& format, const ConversionOptions& options,
                   std::string& error);

// The whole conversion, once the output is begun: read, stages, the
// output's writer, each a phase of the progress line. On failure sets
// `error` to one sentence; the temporary files are removed and existing
// outputs left as they were.
bool convertFile(const ConversionOptions& options, std::string& error);
