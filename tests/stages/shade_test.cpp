// The shade stage against a direct look at every cell of each voxel's
// neighbourhood, on random sets spread over many blocks of the lattice, and
// what the light must show on a plain box.
#include <gtest/gtest.h>

#include "lattice_grid.h"
#include "stages/shade.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <tuple>
#include <vector>

namespace {

using Cell = std::tuple<int, int, int>;

void addVoxel(VoxelGrid& grid, const Cell& c, uint8_t grey) {
    const int cell[3] = {std::get<0>(c), std::get<1>(c), std::get<2>(c)};
    for (int k = 0; k < 3; ++k)
        grid.voxels.positions.push_back(float(grid.origin[k] + double(cell[k]) * grid.step));
    grid.voxels.colors.insert(grid.voxels.colors.end(), {grey, grey, grey});
}

// The empty cells reachable through empty face neighbours from beyond the
// box of `cells` grown by `margin`: a flood fill over a set.
std::set<Cell> outsideOf(const std::set<Cell>& cells, int margin) {
    int lo[3] = {INT_MAX, INT_MAX, INT_MAX}, hi[3] = {INT_MIN, INT_MIN, INT_MIN};
    for (const Cell& c : cells) {
        const int at[3] = {std::get<0>(c), std::get<1>(c), std::get<2>(c)};
        for (int k = 0; k < 3; ++k)
            lo[k] = std::min(lo[k], at[k] - margin), hi[k] = std::max(hi[k], at[k] + margin);
    }
    std::set<Cell> outside = {Cell{lo[0], lo[1], lo[2]}};
    std::vector<Cell> todo = {Cell{lo[0], lo[1], lo[2]}};
    while (!todo.empty()) {
        const Cell c = todo.back();
        todo.pop_back();
        for (int k = 0; k < 6; ++k) {
            int at[3] = {std::get<0>(c), std::get<1>(c), std::get<2>(c)};
            at[k / 2] += k % 2 ? 1 : -1;
            const Cell next{at[0], at[1], at[2]};
            if (at[k / 2] < lo[k / 2] || at[k / 2] > hi[k / 2] || cells.count(next) ||
                outside.count(next))
                continue;
            outside.insert(next);
            todo.push_back(next);
        }
    }
    return outside;
}

// The factor a voxel at `c` must take among `cells`, looked up cell by cell;
// empty cells count when `outside` holds them, or all when it is null.
double expectedFactor(const std::set<Cell>& cells, const Cell& c,
                      const std::set<Cell>* outside = nullptr) {
    auto has = [&](int x, int y, int z) {
        return cells.count(Cell{std::get<0>(c) + x, std::get<1>(c) + y, std::get<2>(c) + z}) != 0;
    };
    if (has(-1, 0, 0) && has(1, 0, 0) && has(0, -1, 0) && has(0, 1, 0) && has(0, 0, -1) &&
        has(0, 0, 1))
        return shadeFloor;
    const int r = shadeRadius;
    double toEmpty[3] = {0, 0, 0};
    int empty = 0, above = 0;
    for (int z = -r; z <= r; ++z)
        for (int y = -r; y <= r; ++y)
            for (int x = -r; x <= r; ++x) {
                if (!(x || y || z) || x * x + y * y + z * z > r * r)
                    continue;
                above += y > 0;
                if (has(x, y, z))
                    continue;
                if (outside && !outside->count(Cell{std::get<0>(c) + x, std::get<1>(c) + y,
                                                    std::get<2>(c) + z}))
                    continue;
                ++empty;
                toEmpty[0] += x, toEmpty[1] += y, toEmpty[2] += z;
            }
    const double length =
        std::sqrt(toEmpty[0] * toEmpty[0] + toEmpty[1] * toEmpty[1] + toEmpty[2] * toEmpty[2]);
    double normal[3] = {0, 0, 0};
    for (int k = 0; k < 3 && length > 0; ++k)
        normal[k] = toEmpty[k] / length;
    return shadeFactor(normal, double(empty) / double(above));
}

} // namespace

TEST(Shade, EveryVoxelTakesTheLightOfItsOwnNeighbourhood) {
    std::mt19937 random(7);
    // Dense clumps and scattered cells, negative cells, and over a thousand
    // blocks, so that the block table grows.
    for (int trial = 0; trial < 3; ++trial) {
        VoxelGrid grid = latticeGrid(trial == 0 ? 0.0 : -3.7 + trial, 0.25 * (trial + 1));
        std::set<Cell> cells;
        std::uniform_int_distribution<int> wide(-30, 30), near(-6, 6);
        for (int n = 0; n < 4000; ++n)
            cells.insert(n % 2 ? Cell{wide(random), wide(random), wide(random)}
                               : Cell{near(random), near(random), near(random)});
        std::vector<Cell> order(cells.begin(), cells.end());
        std::shuffle(order.begin(), order.end(), random);
        for (const Cell& c : order)
            addVoxel(grid, c, 200);
        const std::set<Cell> outside = outsideOf(cells, shadeRadius);
        // With the outside found, and without it (a box too large for it).
        for (int64_t limit : {int64_t(-1), int64_t(0)}) {
            VoxelGrid shaded = grid;
            int64_t offLattice = -1;
            std::string error;
            ASSERT_TRUE(shadeGrid(shaded, offLattice, error, limit)) << error;
            EXPECT_EQ(offLattice, 0);
            EXPECT_EQ(memcmp(grid.voxels.positions.data(), shaded.voxels.positions.data(),
                             grid.voxels.positions.size() * 4),
                      0);
            for (size_t i = 0; i < order.size(); ++i) {
                const double factor =
                    expectedFactor(cells, order[i], limit < 0 ? &outside : nullptr);
                const uint8_t want = uint8_t(std::lround(200 * factor));
                ASSERT_EQ(shaded.voxels.colors[3 * i], want)
                    << "trial " << trial << " limit " << limit << " voxel " << i;
                ASSERT_EQ(shaded.voxels.colors[3 * i + 2], want);
            }
        }
    }
}

TEST(Shade, ABoxIsLitFromAboveAndDarkInsideAndBelow) {
    VoxelGrid grid = latticeGrid(0.5, 1.0);
    std::vector<Cell> order;
    for (int x = 0; x < 12; ++x)
        for (int y = 0; y < 12; ++y)
            for (int z = 0; z < 12; ++z)
                order.push_back(Cell{x, y, z});
    for (const Cell& c : order)
        addVoxel(grid, c, 250);
    int64_t offLattice = 0;
    std::string error;
    ASSERT_TRUE(shadeGrid(grid, offLattice, error)) << error;
    auto grey = [&](int x, int y, int z) {
        return int(grid.voxels.colors[3 * ((x * 12 + y) * 12 + z)]);
    };
    const int top = grey(6, 11, 6), bottom = grey(6, 0, 6), front = grey(6, 6, 11),
              back = grey(6, 6, 0), left = grey(0, 6, 6), right = grey(11, 6, 6),
              inside = grey(6, 6, 6);
    EXPECT_GT(top, front);
    EXPECT_GT(front, back);
    EXPECT_GT(left, right);
    EXPECT_GT(back, bottom);
    EXPECT_GT(bottom, inside);
    EXPECT_EQ(inside, int(std::lround(250 * shadeFloor)));
    EXPECT_LE(top, 250);
    // A face's middle is open as a flat surface; its edge more so, its
    // crease with a wall standing on it less.
    const double up[3] = {0, 1, 0};
    EXPECT_LT(shadeFactor(up, 0.5), shadeFactor(up, 1.0));
    EXPECT_EQ(shadeFactor(up, 1.0), shadeFactor(up, 2.0));
}

TEST(Shade, AClosedShellIsLitFromOutsideAsTheSolidIs) {
    // A mesh voxelised as a closed surface: its inside is empty but dark, so
    // every voxel of it takes the light of the solid box's voxel there.
    VoxelGrid solid = latticeGrid(0.5, 1.0), shell = latticeGrid(0.5, 1.0);
    for (int x = 0; x < 10; ++x)
        for (int y = 0; y < 10; ++y)
            for (int z = 0; z < 10; ++z) {
                addVoxel(solid, Cell{x, y, z}, 240);
                if (x % 9 == 0 || y % 9 == 0 || z % 9 == 0)
                    addVoxel(shell, Cell{x, y, z}, 240);
            }
    int64_t offLattice = 0;
    std::string error;
    ASSERT_TRUE(shadeGrid(solid, offLattice, error)) << error;
    VoxelGrid open = shell;
    ASSERT_TRUE(shadeGrid(shell, offLattice, error)) << error;
    size_t s = 0;
    for (int x = 0; x < 10; ++x)
        for (int y = 0; y < 10; ++y)
            for (int z = 0; z < 10; ++z)
                if (x % 9 == 0 || y % 9 == 0 || z % 9 == 0) {
                    const size_t v = size_t((x * 10 + y) * 10 + z);
                    ASSERT_EQ(shell.voxels.colors[3 * s], solid.voxels.colors[3 * v])
                        << x << " " << y << " " << z;
                    ++s;
                }
    // Counting the inside as open instead turns the top's normal to the
    // side it came from only by the shell's curvature: the top is lit less.
    ASSERT_TRUE(shadeGrid(open, offLattice, error, 0)) << error;
    int found = 0;
    for (size_t n = 0; n < open.voxels.colors.size() / 3; ++n)
        if (open.voxels.positions[3 * n] == 5.5f && open.voxels.positions[3 * n + 1] == 9.5f &&
            open.voxels.positions[3 * n + 2] == 5.5f) {
            EXPECT_LT(open.voxels.colors[3 * n], shell.voxels.colors[3 * n]);
            ++found;
        }
    EXPECT_EQ(found, 1);
}

TEST(Shade, VoxelsOffTheLatticeAndGridsWithoutOneKeepTheirColours) {
    VoxelGrid grid = latticeGrid(0.0, 1.0);
    addVoxel(grid, Cell{0, 0, 0}, 100);
    addVoxel(grid, Cell{1, 0, 0}, 100);
    grid.voxels.positions.insert(grid.voxels.positions.end(), {0.5f, 0.0f, 0.0f});
    grid.voxels.colors.insert(grid.voxels.colors.end(), {100, 101, 102});
    int64_t offLattice = 0;
    std::string error;
    ASSERT_TRUE(shadeGrid(grid, offLattice, error)) << error;
    EXPECT_EQ(offLattice, 1);
    EXPECT_NE(grid.voxels.colors[0], 100);
    EXPECT_EQ(std::vector<uint8_t>(grid.voxels.colors.begin() + 6, grid.voxels.colors.end()),
              (std::vector<uint8_t>{100, 101, 102}));

    grid.hasLattice = false;
    const std::vector<uint8_t> before = grid.voxels.colors;
    ASSERT_TRUE(shadeGrid(grid, offLattice, error));
    EXPECT_EQ(offLattice, 3);
    EXPECT_EQ(grid.voxels.colors, before);
}

TEST(Shade, OnlyOneColourOrMadeUpColoursCarryNoShape) {
    VoxelGrid grid = latticeGrid(0.0, 1.0);
    EXPECT_TRUE(colorsCarryNoShape(grid));
    addVoxel(grid, Cell{0, 0, 0}, 90);
    addVoxel(grid, Cell{1, 0, 0}, 90);
    EXPECT_TRUE(colorsCarryNoShape(grid));
    grid.voxels.colors[5] = 91; // the second voxel's blue
    EXPECT_FALSE(colorsCarryNoShape(grid));
    grid.voxels.colors[5] = 90;
    grid.voxels.colors[0] = 89; // the first voxel alone no longer grey
    EXPECT_FALSE(colorsCarryNoShape(grid));
    grid.voxels.colors[3] = 89;
    EXPECT_TRUE(colorsCarryNoShape(grid));
    grid.voxels.colors[3] = 1;
    grid.madeUpColors = true;
    EXPECT_TRUE(colorsCarryNoShape(grid));
}
