// The greedy merge: rectangles that cover every exposed face once and
// nothing else, keep each face's colour, keep to one colour when asked, and
// make a flat side one rectangle.
#include <gtest/gtest.h>

#include "voxel_sets.h"
#include "write/greedy_merge.h"

#include <cstring>

namespace {

struct Covered {
    std::map<Face, Rgb> faces;
    int overlaps = 0;
};

Covered cover(const MergedFaces& merged) {
    Covered covered;
    for (const FaceRect& rect : merged.rects) {
        int u, v;
        faceAxes(rect.face, u, v);
        for (int64_t j = 0; j < rect.height; ++j)
            for (int64_t i = 0; i < rect.width; ++i) {
                Cell cell = {rect.cell[0], rect.cell[1], rect.cell[2]};
                cell[size_t(u)] += i;
                cell[size_t(v)] += j;
                const size_t at =
                    rect.colorOffset + (rect.uniform ? 0 : 3 * size_t(j * rect.width + i));
                Rgb rgb;
                memcpy(rgb.data(), &merged.colors[at], 3);
                const Face face{cell, faceAxis[rect.face], faceSign[rect.face]};
                covered.overlaps += covered.faces.count(face) ? 1 : 0;
                covered.faces[face] = rgb;
            }
    }
    return covered;
}

TEST(GreedyMerge, CoversEveryExposedFaceOnceInItsColour) {
    std::mt19937 random(11);
    for (MergeRule rule : {MergeRule::anyColour, MergeRule::sameColour}) {
        for (int round = 0; round < 12; ++round) {
            const auto cells = randomCells(random, 100 + 150 * round, 5 + round, 1 + round % 4);
            const VoxelGrid grid = gridOf(cells);
            ExposedFaces faces;
            std::string error;
            ASSERT_TRUE(findExposedFaces(grid, faces, error));
            MergedFaces merged;
            int steps = 0;
            static int* seen;
            seen = &steps;
            mergeFaces(grid, faces, rule, merged, [](int done) { *seen = done; });
            EXPECT_EQ(steps, 6);
            const Covered covered = cover(merged);
            EXPECT_EQ(covered.overlaps, 0);
            std::set<Face> shown;
            for (const auto& [face, rgb] : covered.faces) {
                shown.insert(face);
                EXPECT_EQ(rgb, cells.at(face.cell));
            }
            EXPECT_EQ(shown, plainExposedFaces(cells));
            EXPECT_LE(merged.rects.size(), size_t(faces.faceCount));
            for (const FaceRect& rect : merged.rects) {
                if (rule == MergeRule::sameColour) {
                    EXPECT_TRUE(rect.uniform);
                }
                // A rectangle marked uniform is; one that is not has two colours.
                const size_t n = rect.uniform ? 1 : size_t(rect.width) * size_t(rect.height);
                std::set<Rgb> colours;
                for (size_t t = 0; t < n; ++t)
                    colours.insert({merged.colors[rect.colorOffset + 3 * t],
                                    merged.colors[rect.colorOffset + 3 * t + 1],
                                    merged.colors[rect.colorOffset + 3 * t + 2]});
                EXPECT_EQ(colours.size() == 1, rect.uniform);
            }
        }
    }
}

TEST(GreedyMerge, AFlatSideIsOneRectangleWhateverItsColours) {
    // A 5 x 3 x 2 box, its voxels in a chequer of two colours.
    std::map<Cell, Rgb> cells;
    for (int64_t x = 0; x < 5; ++x)
        for (int64_t y = 0; y < 3; ++y)
            for (int64_t z = 0; z < 2; ++z)
                cells[{x, y, z}] = (x + y + z) % 2 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
    const VoxelGrid grid = gridOf(cells);
    ExposedFaces faces;
    std::string error;
    ASSERT_TRUE(findExposedFaces(grid, faces, error));
    MergedFaces merged;
    mergeFaces(grid, faces, MergeRule::anyColour, merged);
    ASSERT_EQ(merged.rects.size(), 6u);
    for (const FaceRect& rect : merged.rects) {
        int u, v;
        faceAxes(rect.face, u, v);
        const int64_t side[3] = {5, 3, 2};
        EXPECT_EQ(rect.width, side[u]);
        EXPECT_EQ(rect.height, side[v]);
        EXPECT_FALSE(rect.uniform);
    }
    // Kept to one colour, no two faces of a chequer merge.
    mergeFaces(grid, faces, MergeRule::sameColour, merged);
    EXPECT_EQ(merged.rects.size(), size_t(faces.faceCount));
}

} // namespace
