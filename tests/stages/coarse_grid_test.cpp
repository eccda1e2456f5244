// The coarser grid: which voxels share a cell, the cells' mean colours, the
// new lattice, and what it refuses.
#include <gtest/gtest.h>

#include "stages/coarse_grid.h"
#include "stages/hollow.h"

#include <cmath>
#include <map>
#include <tuple>

namespace {

// A block of nx x ny x nz unit voxels centred on half units from (0, 0, 0),
// voxel (x, y, z) coloured (x * 10 + z, y * 20, 7).
VoxelGrid unitBlock(int nx, int ny, int nz) {
    VoxelGrid grid;
    grid.hasLattice = true;
    std::fill(grid.origin, grid.origin + 3, 0.5);
    for (int x = 0; x < nx; ++x)
        for (int y = 0; y < ny; ++y)
            for (int z = 0; z < nz; ++z) {
                grid.voxels.positions.insert(grid.voxels.positions.end(),
                                             {x + 0.5f, y + 0.5f, z + 0.5f});
                grid.voxels.colors.insert(grid.voxels.colors.end(),
                                          {uint8_t(x * 10 + z), uint8_t(y * 20), 7});
            }
    return grid;
}

} // namespace

TEST(CoarseGrid, CellsTakeTheRoundedMeanOfTheirVoxels) {
    VoxelGrid grid = unitBlock(4, 4, 3);
    int64_t skipped = -1;
    std::string error;
    ASSERT_TRUE(coarsenGrid(grid, 2.0, 0, 1000, skipped, error)) << error;
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(grid.voxels.voxelSize, 2.0f);
    // 2 x 2 x 2 cells; the top layer in z holds one layer of voxels.
    ASSERT_EQ(grid.voxels.colors.size() / 3, size_t(8));
    std::map<std::tuple<float, float, float>, std::vector<int>> byCenter;
    for (size_t i = 0; i < 8; ++i) {
        const float* p = &grid.voxels.positions[3 * i];
        const uint8_t* c = &grid.voxels.colors[3 * i];
        byCenter[{p[0], p[1], p[2]}] = {c[0], c[1], c[2]};
    }
    // Cell (0, 0, 0): x, z in {0, 1}: red mean of 0, 1, 10, 11 = 5.5 -> 6;
    // green of 0 and 20 = 10. Cell (1, 1, 1): x in {2, 3}, z = 2:
    // red mean of 22, 32 = 27; green of 40, 60 = 50.
    EXPECT_EQ((byCenter[{1.0f, 1.0f, 1.0f}]), (std::vector<int>{6, 10, 7}));
    EXPECT_EQ((byCenter[{3.0f, 3.0f, 3.0f}]), (std::vector<int>{27, 50, 7}));
    EXPECT_EQ(byCenter.size(), size_t(8));

    // The result lies on its own lattice: a solid 6^3 block made 3^3 and
    // hollowed keeps the 26 outer cells.
    VoxelGrid solid = unitBlock(6, 6, 6);
    ASSERT_TRUE(coarsenGrid(solid, 2.0, 0, 1000, skipped, error)) << error;
    int64_t offLattice = -1;
    ASSERT_TRUE(hollowGrid(solid, offLattice, error)) << error;
    EXPECT_EQ(offLattice, 0);
    EXPECT_EQ(solid.voxels.colors.size() / 3, size_t(26));
}

TEST(CoarseGrid, ResolutionCountsCellsAlongTheLongestSide) {
    for (int n : {1, 2, 3, 5, 10}) {
        VoxelGrid grid = unitBlock(10, 4, 2);
        int64_t skipped = 0;
        std::string error;
        ASSERT_TRUE(coarsenGrid(grid, 0, n, 1000, skipped, error)) << error;
        EXPECT_FLOAT_EQ(grid.voxels.voxelSize, 10.0f / float(n));
        float lo = INFINITY, hi = -INFINITY;
        for (size_t i = 0; i < grid.voxels.positions.size(); i += 3) {
            lo = std::min(lo, grid.voxels.positions[i]);
            hi = std::max(hi, grid.voxels.positions[i]);
        }
        // Cell centres from half a cell in to half a cell from the far end.
        EXPECT_FLOAT_EQ(lo, 5.0f / float(n)) << n;
        EXPECT_FLOAT_EQ(hi, 10.0f - 5.0f / float(n)) << n;
    }
}

TEST(CoarseGrid, RefusesFinerGridsAndTooManyCellsAndSkipsLostVoxels) {
    std::string error;
    int64_t skipped = 0;
    VoxelGrid grid = unitBlock(4, 4, 4);
    EXPECT_FALSE(coarsenGrid(grid, 0.5, 0, 1000, skipped, error));
    EXPECT_NE(error.find("can only be made coarser"), std::string::npos) << error;
    EXPECT_FALSE(coarsenGrid(grid, 0, 5, 1000, skipped, error));
    EXPECT_NE(error.find("at most 4 along its longest side"), std::string::npos) << error;
    EXPECT_FALSE(coarsenGrid(grid, 1.0, 0, 63, skipped, error));
    EXPECT_NE(error.find("more than 63 voxels"), std::string::npos) << error;
    EXPECT_EQ(grid.voxels.colors.size(), size_t(3 * 64)) << "a refusal changed the grid";

    // Voxels 1e4 apart at an edge of 1e-3: ten million cells along x.
    VoxelGrid sparse;
    sparse.voxels.voxelSize = 1e-3f;
    sparse.voxels.positions = {0, 0, 0, 1e4f, 0, 0};
    sparse.voxels.colors = {1, 1, 1, 2, 2, 2};
    EXPECT_FALSE(coarsenGrid(sparse, 1e-3, 0, 1000, skipped, error)); // 1e-3 < float(1e-3)
    EXPECT_NE(error.find("choose a larger --voxel-size"), std::string::npos) << error;

    VoxelGrid bad = unitBlock(2, 1, 1);
    bad.voxels.voxelSize = NAN;
    EXPECT_FALSE(coarsenGrid(bad, 2.0, 0, 1000, skipped, error));
    EXPECT_NE(error.find("not a positive number"), std::string::npos) << error;

    // A voxel with an infinite coordinate is not drawn and is left out.
    VoxelGrid lost = unitBlock(2, 2, 2);
    lost.voxels.positions[4] = INFINITY;
    ASSERT_TRUE(coarsenGrid(lost, 2.0, 0, 1000, skipped, error)) << error;
    EXPECT_EQ(skipped, 1);
    ASSERT_EQ(lost.voxels.colors.size(), size_t(3));
    lost.voxels.positions[0] = NAN;
    lost.voxels.positions[1] = NAN;
    EXPECT_FALSE(coarsenGrid(lost, 2.0, 0, 1000, skipped, error));
    EXPECT_NE(error.find("no voxel has a finite position"), std::string::npos) << error;
}
