// vxlconv's command line: the options a conversion takes, read from argv.
#pragma once

#include "samples/volume_colors.h"
#include "samples/volume_threshold.h"
#include "voxels/voxel_grid.h"
#include "write/mesh_choice.h"

#include <cstdint>
#include <string>

// --shade and --no-shade; without either, the grid stages choose.
enum class ShadeChoice { automatic, on, off };

struct ConversionOptions {
    std::string input, output;
    double voxelSize = 0;   // meshes: the voxel edge; voxel inputs: the coarser cell's edge
    int64_t resolution = 0; // voxels along the longest side (0: not given)
    int64_t maxVoxels = defaultMaxVoxels;
    int64_t memoryCap = 0;        // bytes; 0 means the default cap
    bool memoryCapGiven = false;  // --max-memory set the cap
    bool hollow = false;          // leave out voxels whose six face neighbours are all there
    ThresholdRule threshold;      // grids of samples: which are voxels
    bool backgroundGiven = false; // --background set threshold.background
    ColorMode colors = ColorMode::automatic;    // grids of samples: how they are coloured
    ShadeChoice shade = ShadeChoice::automatic; // darken voxels by their surface's light
    MeshChoice mesh = MeshChoice::greedy;       // mesh outputs: which faces become triangles
    bool meshGiven = false;                     // --mesh was on the command line
};

enum class OptionsResult { convert, help, refused };

// Reads the command line into `options`. On a bad command line sets `error`
// to one sentence and returns refused; --help returns help.
OptionsResult parseConversionOptions(int argc, char** argv, ConversionOptions& options,
                                     std::string& error);

// What --help prints: the input and output formats from their tables.
std::string vxlconvHelpText();
