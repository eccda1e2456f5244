// The currency of the converter: what every reader of voxels, the step from
// samples and the mesh voxelizer produce, what every grid stage (coarser
// grid, hollow) takes and gives back, and what every writer writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Voxels ready to be written: one shared edge length, a centre and an 8-bit
// colour per voxel.
struct VoxelList {
    float voxelSize = 1.0f;
    std::vector<float> positions; // x, y, z of each centre
    std::vector<uint8_t> colors;  // red, green, blue of each voxel
};

// Voxels and the lattice they lie on. Whoever makes a grid computes cell (i,
// j, k)'s centre as origin + (i, j, k) x step in double, rounded to float,
// and its voxels' positions that way too, so that the stages find a voxel's
// cell from its position alone (see stages/lattice_cells.h for how near a position
// must be to count as on the lattice).
struct VoxelGrid {
    VoxelList voxels; // centres (written bit for bit as they are) and colours

    // The lattice the voxels lie on: cell centres at origin + index x step.
    // Without one, stages that need neighbours leave every voxel as it is.
    bool hasLattice = false;
    double origin[3] = {0.0, 0.0, 0.0};
    double step = 1.0;

    // The reader made the colours up (by height): they say nothing of the
    // source, so the shade stage is on for them unless asked otherwise.
    bool madeUpColors = false;

    // Samples were resampled finer, to the size --voxel-size or
    // --resolution asked for: no coarser grid is to follow.
    bool atAskedSize = false;

    // The hollow stage has already run, as the samples streamed (where no
    // shading was to come before it): neither stage runs again.
    bool hollowed = false;

    // The input file as named on the command line, for outputs that name it.
    std::string source;
};

// The most cells along one axis of any grid: cell indices are packed into
// 21 bits each.
constexpr int64_t maxGridCells = int64_t(1) << 21;

// The most voxels a conversion makes unless --max-voxels says otherwise (the
// --help text states it too).
constexpr int64_t defaultMaxVoxels = 10000000;
