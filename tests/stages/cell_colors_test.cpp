// Colours summed per cell and the cells turned into voxels: the one loop the
// voxelizer, the coarser grid and unequally spaced samples share.
#include <gtest/gtest.h>

#include "stages/cell_colors.h"

TEST(CellColors, EachCellIsOneVoxelOfItsMeanOnTheLattice) {
    CellColorSums sums;
    sums.maxCells = 10;
    const uint8_t red[3] = {255, 0, 0}, blue[3] = {0, 0, 255}, grey[3] = {10, 20, 31};
    addCellColor(sums, packCell(2, 0, 5), red);
    addCellColor(sums, packCell(0, 7, 1), grey);
    addCellColor(sums, packCell(2, 0, 5), blue);
    addCellColor(sums, packCell(2, 0, 5), blue);
    mergeCellColors(sums);
    ASSERT_FALSE(sums.overflowed);
    ASSERT_EQ(sums.cells.size(), 2u);

    VoxelGrid grid;
    grid.voxels.positions = {9, 9, 9};
    grid.voxels.colors = {9, 9, 9};
    const double origin[3] = {-1.5, 0.25, 1e6};
    cellsToVoxels(sums, origin, 0.1, grid);
    EXPECT_TRUE(grid.hasLattice);
    EXPECT_EQ(grid.step, 0.1);
    EXPECT_EQ(grid.origin[2], 1e6);
    EXPECT_EQ(grid.voxels.voxelSize, 0.1f);
    // In key order (x highest), each centre computed in double and rounded
    // once; colours the rounded mean: (255 + 0 + 0) / 3 = 85, (0 + 255 + 255)
    // / 3 = 170.
    const std::vector<float> positions = {float(-1.5 + 0 * 0.1), float(0.25 + 7 * 0.1),
                                          float(1e6 + 1 * 0.1),  float(-1.5 + 2 * 0.1),
                                          float(0.25 + 0 * 0.1), float(1e6 + 5 * 0.1)};
    EXPECT_EQ(grid.voxels.positions, positions);
    EXPECT_EQ(grid.voxels.colors, (std::vector<uint8_t>{10, 20, 31, 85, 0, 170}));
}

TEST(CellColors, MoreCellsThanAllowedIsAnOverflow) {
    CellColorSums sums;
    sums.maxCells = 2;
    const uint8_t white[3] = {255, 255, 255};
    for (int i = 0; i < 3; ++i)
        addCellColor(sums, packCell(i, i, i), white);
    addCellColor(sums, packCell(0, 0, 0), white);
    mergeCellColors(sums);
    EXPECT_TRUE(sums.overflowed);
    int64_t cell[3];
    unpackCell(packCell(2097151, 5, 2097150), cell);
    EXPECT_EQ(cell[0], 2097151);
    EXPECT_EQ(cell[1], 5);
    EXPECT_EQ(cell[2], 2097150);
}
