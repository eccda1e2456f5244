// Wavefront OBJ: a merged mesh with its material (NAME.mtl, companion 1)
// and texture (NAME.png, companion 2); the other meshes with a colour on
// each vertex ("v x y z r g b", which Blender, MeshLab and the Open Asset
// Import Library read) and a plain material.
#pragma once

#include "voxels/voxel_grid.h"
#include "write/output_format.h"

#include <string>

// Writes the grid to the output begun for options.path and its companions and
// puts them in place; on failure removes them and sets `error`.
bool writeObj(const VoxelGrid& grid, const WriteOptions& options, std::string& error);
