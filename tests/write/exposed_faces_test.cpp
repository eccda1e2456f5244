// The exposed faces: exactly those between a voxel and an empty cell, in
// the viewer's face order, with voxels off the lattice set aside.
#include <gtest/gtest.h>

#include "render/voxel_geometry.h"
#include "voxel_sets.h"
#include "write/exposed_faces.h"

namespace {

std::set<Face> facesFound(const ExposedFaces& found) {
    std::set<Face> faces;
    for (size_t e = 0; e < found.keys.entries.size(); ++e) {
        int64_t cell[3];
        keyCell(found.keys, found.keys.entries[e].key, cell);
        for (int f = 0; f < 6; ++f)
            if (found.faces[e] & (1u << f))
                faces.insert({{cell[0], cell[1], cell[2]}, faceAxis[f], faceSign[f]});
    }
    return faces;
}

TEST(ExposedFaces, AreTheFacesBetweenAVoxelAndAnEmptyCell) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        const auto cells = randomCells(random, 40 + 60 * round, 6 + round, 3);
        ExposedFaces found;
        std::string error;
        ASSERT_TRUE(findExposedFaces(gridOf(cells, 0.25, {-3.0, 1.5, 100.0}), found, error));
        const std::set<Face> expected = plainExposedFaces(cells);
        EXPECT_EQ(facesFound(found), expected);
        EXPECT_EQ(found.faceCount, int64_t(expected.size()));
        EXPECT_TRUE(found.loose.empty());
    }
}

TEST(ExposedFaces, FollowTheViewersFaceOrderAndSetLooseVoxelsAside) {
    // Face f of the viewer's cube lies on the side faceAxis/faceSign say.
    for (int f = 0; f < 6; ++f)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(unitCubeVertices[4 * f + c][faceAxis[f]] > 0 ? 1 : -1, faceSign[f])
                << "face " << f;
    VoxelGrid grid = gridOf({{{0, 0, 0}, {1, 2, 3}}, {{1, 0, 0}, {1, 2, 3}}});
    // Half a step off the lattice: not a neighbour of anything.
    grid.voxels.positions.insert(grid.voxels.positions.end(), {1.0f, 0.5f, 0.5f});
    grid.voxels.colors.insert(grid.voxels.colors.end(), {9, 9, 9});
    ExposedFaces found;
    std::string error;
    ASSERT_TRUE(findExposedFaces(grid, found, error));
    EXPECT_EQ(found.loose, std::vector<uint32_t>{2});
    EXPECT_EQ(found.faceCount, 10);
    grid.hasLattice = false;
    ASSERT_TRUE(findExposedFaces(grid, found, error));
    EXPECT_EQ(found.loose.size(), 3u);
    EXPECT_EQ(found.faceCount, 0);
}

} // namespace
