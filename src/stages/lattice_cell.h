// Which cell of its grid's lattice a voxel lies in: what every stage that
// looks at neighbours (hollow, shade) asks of a voxel's position.
#pragma once

#include "voxels/voxel_grid.h"

#include <cstdint>

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

// The voxel's cell on the lattice, when floats there are fine enough to tell
// neighbouring cells apart (a 32nd of a step) and its position is near that
// cell's centre on every axis (see latticeTolerance).
bool latticeCell(const VoxelGrid& grid, const float* p, int64_t cell[3]);
