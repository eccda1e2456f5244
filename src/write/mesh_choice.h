// How a voxel set becomes a mesh when the output is one (--mesh).
#pragma once

enum class MeshChoice {
    greedy, // coplanar exposed faces merged into rectangles (the default)
    faces,  // every exposed face, vertices shared: closed where the set is
    cubes,  // every voxel as a whole cube, as the viewer draws it
};

// Reads a --mesh value; false when it names no choice.
bool parseMeshChoice(const char* text, MeshChoice& choice);

// The word --mesh takes for `choice`.
const char* meshChoiceName(MeshChoice choice);
