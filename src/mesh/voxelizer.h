// Meshes and point clouds to voxels on a regular grid.
#pragma once

#include "voxels/voxel_grid.h"

#include <cstdint>
#include <string>
#include <vector>

// Geometry gathered from a source file, already in one coordinate frame.
struct SourceGeometry {
    std::vector<float> vertices;     // x, y, z per vertex
    std::vector<float> colors;       // red, green, blue in 0..1 per vertex
    std::vector<uint32_t> triangles; // three vertex indices per triangle
    std::vector<uint32_t> lines;     // two vertex indices per segment
    std::vector<uint32_t> points;    // one vertex index per point of a cloud
    bool hasColors = false;          // false: colour the voxels by height instead
};

struct GridOptions {
    double voxelSize = 0.0;   // edge of a voxel; 0 means derive it from `resolution`
    int64_t resolution = 128; // voxels along the longest side of the model's box
    int64_t maxVoxels = defaultMaxVoxels;
};

// Voxelises `source`: a voxel for every grid cell that a triangle or segment
// touches (closed cells, tested with a small margin so a closed surface never
// leaks), and one for every cell that holds a point. The grid's cell centres
// lie on the lattice through the lowest corner of the model's box, one voxel
// size apart. A voxel's colour is the mean over what touches it: for a
// triangle, the colour interpolated at its point nearest to the cell centre.
// Without colours in the source, voxels are coloured by their height (y).
// Triangles, segments and points with a vertex that is not finite are left
// out and counted in `skipped`. Fails with a sentence in `error` for empty
// geometry (or none that is finite), a grid with more than maxGridCells along
// an axis, or more than maxVoxels voxels.
bool voxelizeGeometry(const SourceGeometry& source, const GridOptions& options, VoxelList& out,
                      int64_t& skipped, std::string& error);

// The same, giving the voxels with the lattice they lie on (origin the
// model's lowest corner, step the voxel size), for the grid stages.
bool voxelizeGeometry(const SourceGeometry& source, const GridOptions& options, VoxelGrid& out,
                      int64_t& skipped, std::string& error);
