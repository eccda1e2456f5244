// The currency of the converter's grid path: what every voxel reader
// produces and every grid stage (threshold, coarser grid, hollow, colours)
// takes and gives back, up to the writer.
//
// How a new reader plugs in
// -------------------------
// 1. Write `bool readXxxGrid(const uint8_t* data, size_t size,
//    const GridReadOptions& options, VoxelGrid& out, std::string& error)` in a
//    file of its own under src/convert/ (see GridReader below). It gets the
//    whole input in memory; `options.path` names the file (for messages and
//    for formats whose data may live in a second file next to it).
// 2. Write a sniffer `bool looksLikeXxx(const uint8_t* head, size_t size,
//    const char* path)` that answers from the first bytes (up to
//    gridSniffBytes) and, where the content cannot tell, the file's name.
// 3. Add one line {"name", looksLikeXxx, readXxxGrid} to the table in
//    grid_readers.cpp. Sniffers are asked in table order; the first that says
//    yes reads the file; when none does, the file goes to the mesh and point
//    importer.
//
// A reader must:
// - fill `voxels` with every voxel's centre and colour (the writer writes
//   them as they are), and `voxels.voxelSize` with the edge of a voxel;
// - say which lattice the voxels lie on when it knows (`hasLattice`,
//   `origin`, `step`): cell (i, j, k) has its centre at origin + (i, j, k) x
//   step, computed in double and rounded to float, which is how its voxels'
//   positions should be computed too; the hollow stage finds each voxel's
//   cell from its position and keeps any voxel that is not within
//   latticeTolerance (lattice_cells.h) of a cell centre;
// - check every size, count and offset the file claims against the bytes
//   present before allocating what it claims, and refuse with one sentence in
//   `error` (no "vxlconv:" prefix and no line break: the caller adds them);
// - refuse more than `options.maxVoxels` voxels ("... (raise --max-voxels)")
//   instead of building them.
#pragma once

#include "convert/volume_colors.h"
#include "convert/volume_threshold.h"
#include "convert/vxl_writer.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct VoxelGrid {
    VoxelList voxels; // centres (written bit for bit as they are) and colours

    // The lattice the voxels lie on: cell centres at origin + index x step.
    // Without one, stages that need neighbours leave every voxel as it is.
    bool hasLattice = false;
    double origin[3] = {0.0, 0.0, 0.0};
    double step = 1.0;

    // The input file as named on the command line, for outputs that name it.
    std::string source;
};

// The most cells along one axis of any grid: cell indices are packed into
// 21 bits each.
constexpr int64_t maxGridCells = int64_t(1) << 21;

// What a reader is told besides the bytes.
struct GridReadOptions {
    const char* path = "";                // the input as named on the command line
    int64_t maxVoxels = defaultMaxVoxels; // refuse to build more voxels than this
    // No size a header claims is taken up beyond this many bytes (the
    // memory cap), nor any compressed data decompressed past it.
    int64_t maxBytes = int64_t(1) << 30;
    // Grids of samples (binvox, NumPy, NRRD, NIfTI): which samples are voxels
    // (--threshold) and how they are coloured (--colors).
    ThresholdRule threshold;
    ColorMode colors = ColorMode::automatic;
    // The conversion's output, which no second file a header names (a data
    // file, a pair's image) may be: empty when there is none to protect.
    const char* output = "";
};

// A reader of one voxel format: the whole file in memory, to a grid.
using GridReader = bool (*)(const uint8_t* data, size_t size, const GridReadOptions& options,
                            VoxelGrid& out, std::string& error);

// Whether a file is of one format, from its first bytes (at most
// gridSniffBytes of them; fewer when the file is shorter) and its name.
using GridSniffer = bool (*)(const uint8_t* head, size_t size, const char* path);

// How many leading bytes the sniffers are shown.
constexpr size_t gridSniffBytes = 512;

// Whether `path` ends in `extension` (given with its dot, lower case),
// ignoring case: the fallback of sniffers whose format has no magic number.
bool hasExtension(const char* path, const char* extension);
