// One row of the converter's table of output formats (convert/output_table):
// the extensions that choose it, its writer and the files it writes beside
// the output. Each writer's file ends with
// its row, `extern const OutputFormat xxxOutput = {...};`, and the table
// names it in one line.
#pragma once

#include "voxels/voxel_grid.h"
#include "write/mesh_choice.h"

#include <string>
#include <vector>

// What a writer is told besides the grid: where it goes, and what the
// command line chose for the output.
struct WriteOptions {
    const char* path = "";                // the output as named on the command line
    MeshChoice mesh = MeshChoice::greedy; // for the rows that write meshes
};

// Writes the grid into the output begun for options.path (see
// platform/output_file.h), and into the files the format writes beside it,
// begun as companions 1, 2, ... in the order the row's CompanionFiles gives
// them, and puts them in place. On failure sets `error` to one sentence naming the
// file and removes what it wrote.
using WriteGrid = bool (*)(const VoxelGrid& grid, const WriteOptions& options, std::string& error);

// The other files a format writes beside the output (a mesh's buffer or
// texture), so that they are held to the same rules as the output before
// anything is read.
using CompanionFiles = void (*)(const WriteOptions& options, std::vector<std::string>& files);

struct OutputFormat {
    const char* name;          // in messages and --help: "voxel file"
    const char* extensions[3]; // lower case, with the dot; unused entries null
    WriteGrid write;
    CompanionFiles companions; // optional: null when the output is one file
    bool takesMesh;            // whether --mesh applies
    const char* helpText;      // its --help entry, after its extensions and name
};
