// The formats vxlconv writes, chosen by the output file's extension: one
// row each, naming its writer and the files it brings along.
#pragma once

#include "convert/mesh_choice.h"
#include "convert/voxel_grid.h"

#include <string>
#include <vector>

// Writes the grid to the output begun for `path` (and its companions, begun
// in the order companionFiles gives), puts them in place, and on failure
// removes them with one sentence in `error`.
using OutputWriter = bool (*)(const VoxelGrid& grid, const MeshChoice& mesh, const char* path,
                              std::string& error);

struct OutputFormat {
    const char* extension; // with its dot, lower case
    OutputWriter write;
    const char* sideFile; // a companion always written beside it (".bin", ".mtl"), or null
    bool textureFile;     // a NAME.png beside it for a merged mesh
    bool takesMesh;       // whether --mesh applies
};

// The format of `path` by its extension, in any case; a name without an
// extension is a voxel file. Null when the extension is not one of ours.
const OutputFormat* findOutputFormat(const std::string& path);

// The extensions written, for messages: ".vxl, .glb, .gltf, ...".
std::string outputExtensionList();

// The companion files the output brings along, in the order they are begun.
std::vector<std::string> companionFiles(const OutputFormat& format, const std::string& path,
                                        MeshChoice mesh);

// The voxel file writer as a table row's writer.
bool writeVxl(const VoxelGrid& grid, const MeshChoice& mesh, const char* path, std::string& error);
