// The shade stage: gives a voxel set whose colours carry no shape (one
// colour, or colours made up by height) the look of light on its surface,
// so that its form reads in a viewer that draws cubes unlit.
#pragma once

#include "voxels/voxel_grid.h"

#include <cstdint>
#include <string>

// How far, in cells, a voxel's neighbourhood reaches for its surface normal
// and how enclosed it is.
constexpr int shadeRadius = 3;

// The darkest shade: what a voxel's colour is multiplied by at least.
constexpr double shadeFloor = 0.3;

// Darkens each voxel by the light its surface takes: its normal (towards
// the empty cells of its neighbourhood, within shadeRadius) lit from above,
// front and the viewer's left, times how open that neighbourhood is (a flat
// surface fully, a crease less). Empty cells count only when the outside
// reaches them through empty cells, so that a closed shell (a mesh's
// surface) is lit from outside alone; that takes two bits a cell of the
// voxels' box, and is left out (every empty cell counts) when the box has
// more than `outsideBitsLimit` cells: by default 2^27 or 64 a voxel,
// whichever is more. A voxel whose six face neighbours are all
// there (seen only in a cut) takes the darkest shade, shadeFloor. Voxels off the
// lattice (see stages/lattice_cells.h), and every voxel of a grid without
// one, keep their colour and are counted in `offLattice`; positions and
// order never change. Fails only when the voxels spread over more than
// 2^22 cells along an axis, which floats fine enough for the lattice never
// reach (a guard should that test change).
bool shadeGrid(VoxelGrid& grid, int64_t& offLattice, std::string& error,
               int64_t outsideBitsLimit = -1);

// The shade factor, from shadeFloor to 1, of a surface with unit normal `normal`
// (all zero: none) whose neighbourhood is `openness` as open as a flat
// surface's (1 or more: fully lit).
double shadeFactor(const double normal[3], double openness);

// Whether the colours say nothing of the source: made up by the reader
// (by height), or one colour for every voxel.
bool colorsCarryNoShape(const VoxelGrid& grid);
