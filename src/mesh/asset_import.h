// Meshes and point clouds from any file the Open Asset Import Library reads.
// The only part of the program that knows that library.
#pragma once

#include "mesh/voxelizer.h"

#include <string>

struct ImportNotes {
    bool texturesIgnored = false; // some material has a texture, not sampled
};

// Reads the file at `path` into one frame (every node's transform applied):
// triangles (polygons split), line segments and points, with per-vertex
// colours from the mesh's first colour set, else from its material's diffuse
// colour. Textures are not sampled; a textured surface takes its material's
// diffuse colour, and `notes` says so. `hasColors` is false when no mesh has
// vertex colours or a diffuse colour of its own (not the library's stand-in
// material). On failure sets `error` and returns false.
bool importAsset(const char* path, SourceGeometry& out, ImportNotes& notes, std::string& error);
