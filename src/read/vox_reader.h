// MagicaVoxel .vox files: the chunked binary format read into a scene of
// models, palette and scene graph, and the placement of that scene as voxels.
// This part needs nothing but the standard library, so the fuzzer can link it
// alone.
#pragma once

#include "read/input_format.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One model: its box size and its voxels as x, y, z, colour index (one byte
// each, four per voxel).
struct VoxModelData {
    int32_t size[3] = {0, 0, 0};
    std::vector<uint8_t> voxels;
};

enum class VoxNodeKind { transform, group, shape };

// A node of the scene graph. A transform places its one child; a group lists
// children; a shape lists the models it shows.
struct VoxNode {
    VoxNodeKind kind = VoxNodeKind::group;
    bool hidden = false;
    int32_t layer = -1;                 // transform: its layer, -1 for none
    int32_t child = -1;                 // transform: the node it places
    uint8_t rotation = 4;               // transform: the packed rotation (4 = none)
    int64_t translation[3] = {0, 0, 0}; // transform: where the child's centre goes
    std::vector<int32_t> children;      // group: child node ids; shape: model ids
};

struct VoxScene {
    std::vector<VoxModelData> models;
    uint8_t palette[256][4] = {}; // colour index -> r, g, b, a; index 0 means empty
    std::map<int32_t, VoxNode> nodes;
    std::map<int32_t, bool> hiddenLayers;
};

// Fills `palette` with the table the format prescribes for files that carry
// no palette of their own.
void defaultVoxPalette(uint8_t palette[256][4]);

// Unpacks a rotation byte into a matrix of 0 and +-1 entries; false when the
// byte does not describe a rotation (two rows pointing at one axis, or an
// index of 3).
bool decodeVoxRotation(uint8_t packed, int32_t matrix[3][3]);

// Reads a whole .vox file from memory. Checks every size and count against
// the bytes present; on failure sets `error` to a sentence and returns false.
bool parseVox(const uint8_t* data, size_t size, VoxScene& scene, std::string& error);

// Turns the scene into voxels of edge `voxelSize`: every shown model placed by
// its transforms (or, in a file without a scene graph, the models side by side
// along x), coloured from the palette, turned so that the format's upward z
// axis becomes y. A later model overwrites an earlier one where they overlap.
// Fails when more than `maxVoxels` voxels would result or the scene graph is
// unusable.
bool placeVoxScene(const VoxScene& scene, float voxelSize, int64_t maxVoxels, VoxelList& out,
                   std::string& error);

// Whether a file starts as a .vox file does, with "VOX ".
bool startsWithVox(const uint8_t* head, size_t size);

// The grid reader of .vox files: the scene placed at one unit per voxel, on
// the lattice of whole cells (centres at half units), z-up turned to y-up.
bool readVoxGrid(const uint8_t* data, size_t size, const ReadOptions& options, VoxelGrid& out,
                 std::string& error);
