// Binary STL, for slicers and 3D printing: triangles with their normals, no
// colour (the format has none that tools agree on). With --mesh faces the
// surface is closed wherever the voxel set is.
#pragma once

#include "voxels/voxel_grid.h"
#include "write/output_format.h"

#include <string>

// Writes the grid to the output begun for options.path and puts it in place; on
// failure removes it and sets `error`.
bool writeStl(const VoxelGrid& grid, const WriteOptions& options, std::string& error);
