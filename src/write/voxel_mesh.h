// A voxel set as one triangle mesh, in any of the three --mesh choices, with
// its colours as vertex colours or as a texture. Every mesh format the
// converter writes (glTF, OBJ, PLY, STL) is written from this.
#pragma once

#include "voxels/voxel_grid.h"
#include "write/mesh_choice.h"
#include "write/texture_atlas.h"

#include <cstdint>
#include <string>
#include <vector>

enum class MeshColors {
    texture, // merged rectangles take their colours from a texture
    vertex,  // every vertex has the colour of its faces (merges keep to one colour)
    none,    // no colour at all
};

struct VoxelMesh {
    std::vector<float> positions;  // x, y, z of each vertex
    std::vector<uint8_t> colors;   // MeshColors::vertex: r, g, b of each vertex, as the voxels'
    std::vector<float> texcoords;  // MeshColors::texture: u, v of each vertex; v = 0 is the top row
    std::vector<uint32_t> indices; // three a triangle, counter-clockwise seen from outside
    TextureAtlas texture;          // MeshColors::texture: the colours
    float low[3] = {0, 0, 0};      // the box of the positions
    float high[3] = {0, 0, 0};
    int64_t looseVoxels = 0; // voxels off the lattice, written as whole cubes
};

// How many vertices and triangles a mesh has.
inline size_t vertexCount(const VoxelMesh& mesh) {
    return mesh.positions.size() / 3;
}
inline size_t triangleCount(const VoxelMesh& mesh) {
    return mesh.indices.size() / 3;
}

// Builds the mesh of the grid's voxels. Faces between voxels that touch on
// the lattice are left out (except with MeshChoice::cubes); vertices lie on
// the lattice's cell corners, origin + (index -+ 0.5) x step. Voxels off the
// lattice become whole cubes as the viewer draws them. Fails when the mesh
// or its texture would be too large to address.
bool buildVoxelMesh(const VoxelGrid& grid, MeshChoice choice, MeshColors colors, VoxelMesh& mesh,
                    std::string& error);

// buildVoxelMesh for an output file: a note on stderr counts the voxels
// written as whole cubes because they lie off the lattice.
bool buildMeshForOutput(const VoxelGrid& grid, MeshChoice choice, MeshColors colors,
                        VoxelMesh& mesh, std::string& error);
