// Binary STL, for slicers and 3D printing: triangles with their normals, no
// colour (the format has none that tools agree on). With --mesh faces the
// surface is closed wherever the voxel set is.
#pragma once

#include "convert/mesh_choice.h"
#include "convert/voxel_grid.h"

#include <string>

// Writes the grid to the output begun for `path` and puts it in place; on
// failure removes it and sets `error`.
bool writeStl(const VoxelGrid& grid, const MeshChoice& mesh, const char* path, std::string& error);
