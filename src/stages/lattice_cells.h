// The voxels of a grid as cells of its lattice: which cell each voxel is in,
// their packed keys in sorted order, and which face neighbours each has. The
// hollow stage and the mesh writers find neighbours this way.
#pragma once

#include "voxels/voxel_grid.h"

#include <cstdint>
#include <string>
#include <vector>

// How far from a lattice point, in steps, a voxel may lie and still count as
// on it; or eight float spacings at its position, where that is more. Files
// written by other programs compute positions in their own arithmetic (a
// float step, a double step rounded to the float voxel size, x0 + i dx in
// float) and land a few float spacings from where this program would put
// them. Lattice points closer than 32 float spacings are not told apart
// (such voxels are off the lattice), so a voxel's neighbours always lie at
// least half a step beyond it and the set's box cannot change; the
// gaps the tolerance allows between neighbours are as fine as the floats
// the viewer draws with.
constexpr double latticeTolerance = 1.0 / 1024;

// The voxel's cell on the grid's lattice, when floats there are fine enough
// to tell neighbouring cells apart (a 32nd of a step) and its position is
// near that cell's centre on every axis (latticeTolerance).
bool latticeCell(const VoxelGrid& grid, const float* position, int64_t cell[3]);

// A voxel on the lattice: its cell packed into one key, and where it is in
// the grid's list.
struct CellEntry {
    uint64_t key;
    uint32_t index;
};

// Sorts entries by their keys' lowest `keyBits` bits (radix sort, 16 bits
// a pass, linear in the count), keeping the order of equal keys.
void sortCellEntries(std::vector<CellEntry>& entries, int keyBits);

// The voxels on the lattice as packed keys, sorted. Axis k of a cell takes
// bits[k] bits, x highest; each axis has a free value either side of its
// range, so a neighbour's key is the key plus or minus unit[k] and never
// carries into the next axis. Cell c packs as sum (c[k] - low[k] + 1) x unit[k].
struct LatticeKeys {
    std::vector<CellEntry> entries; // sorted by key
    int64_t low[3] = {0, 0, 0};     // the smallest cell on each axis
    int64_t high[3] = {0, 0, 0};    // the largest
    int bits[3] = {0, 0, 0};
    uint64_t unit[3] = {0, 0, 0};
};

// Fills `keys` with the grid's voxels that lie on its lattice; `offLattice`
// gets the indices of the others (all of them when the grid has no lattice).
// Fails only when the cells are spread too far to pack into 64 bits.
bool sortLatticeKeys(const VoxelGrid& grid, LatticeKeys& keys, std::vector<uint32_t>& offLattice,
                     std::string& error);

// The cell a key stands for.
void keyCell(const LatticeKeys& keys, uint64_t key, int64_t cell[3]);

// Bit 2k of entry e's mask is set when the cell below it along axis k is
// occupied, bit 2k + 1 when the cell above it is; one mask per entry, in the
// entries' order.
void faceNeighbourMasks(const LatticeKeys& keys, std::vector<uint8_t>& masks);
