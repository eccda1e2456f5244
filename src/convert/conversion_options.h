// vxlconv's command line: the options a conversion takes, read from argv.
#pragma once

#include "samples/volume_colors.h"
#include "samples/volume_threshold.h"
#include "voxels/voxel_grid.h"
#include "write/mesh_choice.h"

#include <cstdint>
#include <string>
#include <vector>

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
    std::string series;           // inputs of several series: which (a UID or its number)
    std::string grid;             // inputs of several grids: which (a name or its number)
    std::string dataset;          // stores and files of several volumes: which (its path inside)
    int64_t level = -1;           // multiscale pyramids: which level (-1: the reader's choice)
    ColorMode colors = ColorMode::automatic;    // grids of samples: how they are coloured
    ShadeChoice shade = ShadeChoice::automatic; // darken voxels by their surface's light
    MeshChoice mesh = MeshChoice::greedy;       // mesh outputs: which faces become triangles
    bool meshGiven = false;                     // --mesh was on the command line
    bool given = false;                         // any of these options was on the command line
    bool view = false;                      // --view: show the conversion in voxscope, keep no file
    std::vector<std::string> viewerOptions; // GLUT's options for the viewer, in order
};

enum class OptionsResult { convert, help, refused };

// Reads the command line into `options`: INPUT OUTPUT, or --view INPUT
// with GLUT's options (-geometry, -display, -iconic...) for the viewer. On
// a bad command line sets `error` to one sentence and returns refused;
// --help returns help.
OptionsResult parseConversionOptions(int argc, char** argv, ConversionOptions& options,
                                     std::string& error);

enum class OptionTaken { no, yes, refused };

// Reads argv[i] when it is one of the conversion options (with its value
// after '=' or in the next argument, when `i` moves past it); `program`
// names the help to see in a refusal. Returns no, leaving `i` as it was, for
// any other argument.
OptionTaken takeConversionOption(int argc, char** argv, int& i, const char* program,
                                 ConversionOptions& options, std::string& error);

// Refuses options that may not go together.
bool checkConversionOptions(const ConversionOptions& options, std::string& error);

// The help entries of the conversion options, --mesh among them when
// `withMesh`, each wrapped at 78 columns with its text in column 20.
std::string conversionOptionsHelp(bool withMesh);

// What --help prints: the input and output formats from their tables.
std::string vxlconvHelpText();
