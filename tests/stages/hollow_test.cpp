// The hollow stage against a direct count of neighbours, on lattices of
// awkward origins and steps, with voxels off the lattice and repeated ones.
#include <gtest/gtest.h>

#include "lattice_grid.h"
#include "stages/hollow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <tuple>

namespace {

using Cell = std::tuple<int, int, int>;

void addVoxel(VoxelGrid& grid, const Cell& c, uint8_t tag) {
    const int cell[3] = {std::get<0>(c), std::get<1>(c), std::get<2>(c)};
    for (int k = 0; k < 3; ++k)
        grid.voxels.positions.push_back(float(grid.origin[k] + double(cell[k]) * grid.step));
    grid.voxels.colors.insert(grid.voxels.colors.end(), {tag, uint8_t(tag + 1), uint8_t(tag + 2)});
}

// Voxel i of `from` as a tuple of its bits, to compare sets exactly.
std::vector<uint32_t> bitsOf(const VoxelList& list, size_t i) {
    std::vector<uint32_t> bits(6);
    memcpy(bits.data(), &list.positions[3 * i], 12);
    for (int k = 0; k < 3; ++k)
        bits[3 + size_t(k)] = list.colors[3 * i + size_t(k)];
    return bits;
}

// Checks that `after` is `before` with exactly the voxels `removed` says
// taken out, in the same order and bit for bit.
void expectSubsequence(const VoxelList& before, const VoxelList& after,
                       const std::vector<bool>& removed) {
    size_t j = 0;
    for (size_t i = 0; i < removed.size(); ++i) {
        if (removed[i])
            continue;
        ASSERT_LT(j, after.colors.size() / 3);
        EXPECT_EQ(bitsOf(before, i), bitsOf(after, j)) << "voxel " << i;
        ++j;
    }
    EXPECT_EQ(j, after.colors.size() / 3);
    EXPECT_EQ(memcmp(&before.voxelSize, &after.voxelSize, 4), 0);
}

} // namespace

TEST(Hollow, SolidBoxKeepsExactlyItsShellAndItsBox) {
    // 5 x 6 x 7 voxels on a lattice whose steps do not add up exactly in
    // float: the interior (3 x 4 x 5) goes, the rest stays as it was.
    VoxelGrid grid = latticeGrid(-3.7, 0.3);
    std::vector<bool> removed;
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < 6; ++y)
            for (int z = 0; z < 7; ++z) {
                addVoxel(grid, Cell(x, y, z), uint8_t(x * 40 + y * 5 + z));
                removed.push_back(x > 0 && x < 4 && y > 0 && y < 5 && z > 0 && z < 6);
            }
    const VoxelList before = grid.voxels;
    int64_t offLattice = -1;
    std::string error;
    ASSERT_TRUE(hollowGrid(grid, offLattice, error)) << error;
    EXPECT_EQ(offLattice, 0);
    EXPECT_EQ(grid.voxels.colors.size() / 3, size_t(5 * 6 * 7 - 3 * 4 * 5));
    expectSubsequence(before, grid.voxels, removed);
    for (int k = 0; k < 3; ++k) {
        float lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
        const VoxelList* lists[2] = {&before, &grid.voxels};
        for (int l = 0; l < 2; ++l)
            for (size_t i = k; i < lists[l]->positions.size(); i += 3) {
                lo[l] = std::min(lo[l], lists[l]->positions[i]);
                hi[l] = std::max(hi[l], lists[l]->positions[i]);
            }
        EXPECT_EQ(lo[0], lo[1]);
        EXPECT_EQ(hi[0], hi[1]);
    }
}

TEST(Hollow, AgreesWithCountingNeighboursOnRandomSets) {
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        const double step = std::ldexp(1.0 + random() % 1000 / 1000.0, int(random() % 9) - 4);
        VoxelGrid grid = latticeGrid(double(int(random() % 2001) - 1000) / 7.0, step);
        std::set<Cell> occupied;
        std::vector<Cell> order;
        const int side = 3 + int(random() % 8);
        const int fill = 50 + int(random() % 50);
        for (int x = 0; x < side; ++x)
            for (int y = 0; y < side; ++y)
                for (int z = 0; z < side; ++z)
                    if (int(random() % 100) < fill)
                        order.push_back(Cell(x, y, z));
        std::shuffle(order.begin(), order.end(), random);
        // Some voxels twice: both copies share the fate of their cell.
        for (size_t i = 0; i < order.size() / 10; ++i)
            order.push_back(order[random() % order.size()]);
        occupied.insert(order.begin(), order.end());
        std::vector<bool> removed;
        for (const Cell& c : order) {
            addVoxel(grid, c, uint8_t(removed.size()));
            const auto [x, y, z] = c;
            removed.push_back(
                occupied.count(Cell(x - 1, y, z)) && occupied.count(Cell(x + 1, y, z)) &&
                occupied.count(Cell(x, y - 1, z)) && occupied.count(Cell(x, y + 1, z)) &&
                occupied.count(Cell(x, y, z - 1)) && occupied.count(Cell(x, y, z + 1)));
        }
        // Voxels a hundredth of a step off their cell, and one with no
        // position, are kept and counted; they fill no neighbour's face
        // either (the cell they are near keeps its own voxel).
        int64_t expectedOff = 0;
        for (int extra = 0; extra < 3; ++extra) {
            const size_t base = random() % order.size();
            float p[3];
            memcpy(p, &grid.voxels.positions[3 * base], 12);
            if (extra == 2)
                p[1] = NAN;
            else
                p[extra] = float(double(p[extra]) + step / 100);
            grid.voxels.positions.insert(grid.voxels.positions.end(), p, p + 3);
            grid.voxels.colors.insert(grid.voxels.colors.end(), {1, 2, 3});
            removed.push_back(false);
            ++expectedOff;
        }
        const VoxelList before = grid.voxels;
        int64_t offLattice = 0;
        std::string error;
        ASSERT_TRUE(hollowGrid(grid, offLattice, error)) << error;
        EXPECT_EQ(offLattice, expectedOff);
        SCOPED_TRACE("round " + std::to_string(round));
        expectSubsequence(before, grid.voxels, removed);
    }
}

TEST(Hollow, PositionsAFewFloatUnitsOffTheLatticeCountAsOnIt) {
    // A 6 x 6 x 6 block whose positions were computed as another program
    // might: x0 + i * dx in float, with dx the float voxel size, each then
    // moved up to two float units either way. The lattice through the first
    // voxel still finds every cell, and the 4 x 4 x 4 interior goes.
    std::mt19937 random(11);
    VoxelGrid grid = latticeGrid(0, 1);
    const float x0 = 1234.567f, dx = 0.0129828f;
    grid.voxels.voxelSize = dx;
    for (int x = 0; x < 6; ++x)
        for (int y = 0; y < 6; ++y)
            for (int z = 0; z < 6; ++z) {
                for (int i : {x, y, z}) {
                    float p = x0 + float(i) * dx;
                    for (int n = int(random() % 5) - 2; n != 0; n += n > 0 ? -1 : 1)
                        p = std::nextafter(p, n > 0 ? INFINITY : -INFINITY);
                    grid.voxels.positions.push_back(p);
                }
                grid.voxels.colors.insert(grid.voxels.colors.end(), {1, 2, 3});
            }
    for (int k = 0; k < 3; ++k)
        grid.origin[k] = double(grid.voxels.positions[size_t(k)]);
    grid.step = double(dx);
    int64_t offLattice = -1;
    std::string error;
    ASSERT_TRUE(hollowGrid(grid, offLattice, error)) << error;
    EXPECT_EQ(offLattice, 0);
    EXPECT_EQ(grid.voxels.colors.size() / 3, size_t(216 - 64));

    // Where floats are coarser than a 32nd of a step, neighbouring
    // cells cannot be told apart: such voxels are off the lattice.
    VoxelGrid coarse = latticeGrid(1 << 21, 1.0);
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y)
            for (int z = 0; z < 3; ++z)
                addVoxel(coarse, Cell(x, y, z), 5);
    ASSERT_TRUE(hollowGrid(coarse, offLattice, error)) << error;
    EXPECT_EQ(offLattice, 27);
    EXPECT_EQ(coarse.voxels.colors.size() / 3, size_t(27));
}

TEST(Hollow, FarApartClustersAndGridsWithoutALattice) {
    // Two solid 3 x 3 x 3 clusters half a million cells apart along x, as
    // far as floats tell cells of a unit step apart: each
    // loses its centre voxel.
    VoxelGrid grid = latticeGrid(0.0, 1.0);
    for (int base : {-(1 << 18), 1 << 18})
        for (int x = 0; x < 3; ++x)
            for (int y = 0; y < 3; ++y)
                for (int z = 0; z < 3; ++z)
                    addVoxel(grid, Cell(base + x, y, z), 9);
    int64_t offLattice = 0;
    std::string error;
    ASSERT_TRUE(hollowGrid(grid, offLattice, error)) << error;
    EXPECT_EQ(grid.voxels.colors.size() / 3, size_t(52));

    // Without a lattice nothing is known to be hidden: all stay.
    VoxelGrid loose = latticeGrid(0.5, 1.0);
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y)
            for (int z = 0; z < 3; ++z)
                addVoxel(loose, Cell(x, y, z), 3);
    loose.hasLattice = false;
    ASSERT_TRUE(hollowGrid(loose, offLattice, error));
    EXPECT_EQ(offLattice, 27);
    EXPECT_EQ(loose.voxels.colors.size(), size_t(81));
}
