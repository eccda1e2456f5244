// A voxel set cut into the models a .vox file holds: at most 256 voxels a
// side each, in blocks of 256 from the set's lowest cell, every block that
// holds voxels one model, placed in the scene by its own transform.
#pragma once

#include <cstdint>
#include <vector>

// The largest model a .vox file holds along each side.
constexpr int64_t maxVoxModelSide = 256;

struct VoxBlockModel {
    int64_t corner[3] = {0, 0, 0}; // the scene cell of the model's voxel (0, 0, 0)
    int32_t size[3] = {0, 0, 0};   // its box, from that corner to its highest voxel
    std::vector<uint8_t> voxels;   // x, y, z, colour index, relative to the corner
};

// Cuts voxels at scene cells `cells` (x, y, z each, z up as in the file),
// with colour indices `colorIndex` (1 to 255), into models. Each cell must
// appear once.
void splitIntoModels(const std::vector<int64_t>& cells, const std::vector<uint8_t>& colorIndex,
                     std::vector<VoxBlockModel>& models);

// Where a model's transform puts its centre so that the .vox reading of
// the scene (voxel centre relative to the model's centre, floored to cells)
// brings voxel (0, 0, 0) back to `corner`.
int64_t voxTranslation(int64_t corner, int32_t size);
