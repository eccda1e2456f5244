// The faces of a voxel set that can be seen: those between a voxel and an
// empty cell of its lattice. Every mesh the converter writes starts here.
#pragma once

#include "stages/lattice_cells.h"
#include "voxels/voxel_grid.h"

#include <cstdint>
#include <string>
#include <vector>

// The six faces of a cube in the viewer's order (render/voxel_geometry.h):
// top, right, bottom, left, front, back. Face f looks along axis
// faceAxis[f], towards increasing coordinates when faceSign[f] is +1.
constexpr int faceAxis[6] = {1, 0, 1, 0, 2, 2};
constexpr int faceSign[6] = {1, 1, -1, -1, 1, -1};

struct ExposedFaces {
    LatticeKeys keys;            // the voxels on the lattice, sorted by cell
    std::vector<uint8_t> faces;  // per entry of keys: bit f set when face f is exposed
    std::vector<uint32_t> loose; // voxels off the lattice: drawn as whole cubes
    int64_t faceCount = 0;       // exposed faces in all
};

// Finds the exposed faces of the grid's voxels. Fails only when the cells
// are spread too far to pack (see sortLatticeKeys).
bool findExposedFaces(const VoxelGrid& grid, ExposedFaces& out, std::string& error);
