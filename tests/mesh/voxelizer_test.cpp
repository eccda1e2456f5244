// Voxelising meshes, lines and point clouds: where the voxels go, their
// colours, closed surfaces staying closed at any orientation, and refusals.
#include <gtest/gtest.h>

#include "mesh/voxelizer.h"
#include "stages/height_ramp.h"

#include <array>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <vector>

namespace {

using P = std::array<double, 3>;

void addVertex(SourceGeometry& g, P p, P color = {1, 1, 1}) {
    for (int k = 0; k < 3; ++k) {
        g.vertices.push_back(float(p[k]));
        g.colors.push_back(float(color[k]));
    }
}

// The closed surface of the box [lo, hi], twelve triangles.
SourceGeometry boxMesh(P lo, P hi) {
    SourceGeometry g;
    for (int i = 0; i < 8; ++i)
        addVertex(g, {i & 1 ? hi[0] : lo[0], i & 2 ? hi[1] : lo[1], i & 4 ? hi[2] : lo[2]});
    const uint32_t faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                                  {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
    for (const auto& f : faces)
        g.triangles.insert(g.triangles.end(), {f[0], f[1], f[2], f[0], f[2], f[3]});
    g.hasColors = true;
    return g;
}

// A closed sphere of radius 1 about the origin: an octahedron subdivided
// `levels` times, vertices pushed onto the sphere and shared between faces.
SourceGeometry sphereMesh(int levels) {
    std::vector<P> v = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    std::vector<std::array<uint32_t, 3>> t = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4},
                                              {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
    for (int l = 0; l < levels; ++l) {
        std::map<std::pair<uint32_t, uint32_t>, uint32_t> middles;
        auto middle = [&](uint32_t a, uint32_t b) {
            auto key = std::minmax(a, b);
            auto found = middles.find(key);
            if (found != middles.end())
                return found->second;
            P m;
            for (int k = 0; k < 3; ++k)
                m[k] = (v[a][k] + v[b][k]) / 2;
            double length = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
            for (double& x : m)
                x /= length;
            v.push_back(m);
            return middles[key] = uint32_t(v.size() - 1);
        };
        std::vector<std::array<uint32_t, 3>> next;
        for (const auto& f : t) {
            uint32_t ab = middle(f[0], f[1]), bc = middle(f[1], f[2]), ca = middle(f[2], f[0]);
            next.insert(next.end(), {{f[0], ab, ca}, {ab, f[1], bc}, {ca, bc, f[2]}, {ab, bc, ca}});
        }
        t = next;
    }
    SourceGeometry g;
    for (const P& p : v)
        addVertex(g, p);
    for (const auto& f : t)
        g.triangles.insert(g.triangles.end(), f.begin(), f.end());
    g.hasColors = true;
    return g;
}

// Turns (a random rotation, when `turn`), scales and moves every vertex.
void transform(SourceGeometry& g, std::mt19937_64& random, double scale, P offset,
               bool turn = true) {
    std::normal_distribution<double> normal;
    double q[4], length = 0;
    for (double& x : q) {
        x = normal(random);
        length += x * x;
    }
    for (double& x : q)
        x /= std::sqrt(length);
    if (!turn)
        q[0] = 1, q[1] = q[2] = q[3] = 0;
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                            {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                            {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
    for (size_t i = 0; i < g.vertices.size(); i += 3) {
        P p = {g.vertices[i], g.vertices[i + 1], g.vertices[i + 2]};
        for (int k = 0; k < 3; ++k)
            g.vertices[i + k] =
                float(scale * (r[k][0] * p[0] + r[k][1] * p[1] + r[k][2] * p[2]) + offset[k]);
    }
}

VoxelList voxelize(const SourceGeometry& g, GridOptions options) {
    VoxelList out;
    std::string error;
    int64_t skipped = 0;
    EXPECT_TRUE(voxelizeGeometry(g, options, out, skipped, error)) << error;
    EXPECT_EQ(skipped, 0);
    return out;
}

GridOptions ofSize(double size) {
    GridOptions options;
    options.voxelSize = size;
    return options;
}

std::set<std::array<float, 3>> positions(const VoxelList& list) {
    std::set<std::array<float, 3>> out;
    for (size_t i = 0; i < list.positions.size(); i += 3)
        out.insert({list.positions[i], list.positions[i + 1], list.positions[i + 2]});
    EXPECT_EQ(out.size(), list.positions.size() / 3) << "a voxel was written twice";
    return out;
}

TEST(Voxelizer, BoxSurfaceFillsExactlyItsShellOfCells) {
    // Voxel centres lie on the lattice through the lowest corner, so the box
    // [0, 10]^3 with voxels of 1 is the shell of integer points: 11^3 - 9^3.
    VoxelList list = voxelize(boxMesh({0, 0, 0}, {10, 10, 10}), ofSize(1.0));
    EXPECT_EQ(list.voxelSize, 1.0f);
    std::set<std::array<float, 3>> expected;
    for (int x = 0; x <= 10; ++x)
        for (int y = 0; y <= 10; ++y)
            for (int z = 0; z <= 10; ++z)
                if (std::min({x, y, z}) == 0 || std::max({x, y, z}) == 10)
                    expected.insert({float(x), float(y), float(z)});
    EXPECT_EQ(positions(list), expected);
    EXPECT_EQ(expected.size(), 602u);

    // Large enough (1.5 million voxels) that contributions are summed in
    // several rounds; each cell must still come out once.
    list = voxelize(boxMesh({0, 0, 0}, {500, 500, 500}), ofSize(1.0));
    EXPECT_EQ(list.colors.size() / 3, size_t(501 * 501 * 501 - 499 * 499 * 499));
}

TEST(Voxelizer, ResolutionCountsVoxelsAlongTheLongestSide) {
    for (int n : {2, 6, 37}) {
        GridOptions options;
        options.resolution = n;
        VoxelList list = voxelize(boxMesh({-1, 2, 3}, {9, 4, 5}), options);
        std::set<float> xs;
        for (size_t i = 0; i < list.positions.size(); i += 3)
            xs.insert(list.positions[i]);
        EXPECT_EQ(int(xs.size()), n);
        EXPECT_EQ(*xs.begin(), -1.0f);
        EXPECT_FLOAT_EQ(*xs.rbegin(), 9.0f);
        EXPECT_FLOAT_EQ(list.voxelSize, float(10.0 / (n - 1)));
    }
}

// Flood-fills the cells outside the voxels from a corner of the grid grown
// by one cell; true when the cell at `inside` is reached (the surface leaks).
bool leaks(const VoxelList& list, P inside) {
    const int n = int(list.positions.size() / 3);
    double lo[3] = {INFINITY, INFINITY, INFINITY};
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k)
            lo[k] = std::min(lo[k], double(list.positions[3 * i + k]));
    int dims[3] = {0, 0, 0};
    std::vector<std::array<int, 3>> cells;
    for (int i = 0; i < n; ++i) {
        std::array<int, 3> c;
        for (int k = 0; k < 3; ++k) {
            c[k] = int(std::lround((list.positions[3 * i + k] - lo[k]) / list.voxelSize)) + 1;
            dims[k] = std::max(dims[k], c[k] + 2);
        }
        cells.push_back(c);
    }
    auto index = [&](int x, int y, int z) { return (size_t(z) * dims[1] + y) * dims[0] + x; };
    std::vector<char> state(size_t(dims[0]) * dims[1] * dims[2], 0); // 1 voxel, 2 outside
    for (const auto& c : cells)
        state[index(c[0], c[1], c[2])] = 1;
    std::array<int, 3> target;
    for (int k = 0; k < 3; ++k)
        target[k] = int(std::lround((inside[k] - lo[k]) / list.voxelSize)) + 1;
    EXPECT_EQ(state[index(target[0], target[1], target[2])], 0) << "the inside is a voxel";
    std::vector<std::array<int, 3>> stack = {{0, 0, 0}};
    state[0] = 2;
    while (!stack.empty()) {
        auto c = stack.back();
        stack.pop_back();
        if (c == target)
            return true;
        for (int k = 0; k < 3; ++k)
            for (int step : {-1, 1}) {
                auto d = c;
                d[k] += step;
                if (d[k] < 0 || d[k] >= dims[k] || state[index(d[0], d[1], d[2])])
                    continue;
                state[index(d[0], d[1], d[2])] = 2;
                stack.push_back(d);
            }
    }
    return false;
}

TEST(Voxelizer, ClosedSurfacesStayClosedAtAnyOrientation) {
    std::mt19937_64 random(6);
    std::uniform_real_distribution<double> offset(-50, 50);
    std::uniform_int_distribution<int> resolution(6, 48);
    for (int n = 0; n < 120; ++n) {
        const bool sphere = n % 2 == 0;
        SourceGeometry g = sphere ? sphereMesh(n % 3 + 1) : boxMesh({-1, -1, -1}, {1, 1, 1});
        P center = {offset(random), offset(random), offset(random)};
        GridOptions options;
        options.resolution = resolution(random);
        // Some boxes stay unturned, with their far faces on cell borders.
        const bool unturned = n % 10 == 1;
        if (unturned)
            options.voxelSize = 7.4 / 14.5;
        transform(g, random, 3.7, center, !unturned);
        SCOPED_TRACE(testing::Message() << "case " << n << (sphere ? " sphere" : " box")
                                        << " resolution " << options.resolution);
        EXPECT_FALSE(leaks(voxelize(g, options), center));
    }
}

TEST(Voxelizer, ColorsComeFromTheNearestPointAndAreAveragedPerVoxel) {
    SourceGeometry g;
    addVertex(g, {0, 0, 0}, {1, 0, 0});
    addVertex(g, {10, 0, 0}, {0, 1, 0});
    addVertex(g, {0, 10, 0}, {0, 0, 1});
    g.triangles = {0, 1, 2};
    g.hasColors = true;
    VoxelList list = voxelize(g, ofSize(1.0));
    std::map<std::array<float, 3>, std::array<int, 3>> color;
    for (size_t i = 0; i < list.positions.size(); i += 3)
        color[{list.positions[i], list.positions[i + 1], list.positions[i + 2]}] = {
            list.colors[i], list.colors[i + 1], list.colors[i + 2]};
    EXPECT_EQ((color[{0, 0, 0}]), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ((color[{10, 0, 0}]), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ((color[{5, 5, 0}]), (std::array<int, 3>{0, 128, 128}));
    EXPECT_EQ((color[{2, 0, 0}]), (std::array<int, 3>{204, 51, 0}));

    // Points: one voxel per occupied cell, the mean of its points' colours.
    SourceGeometry cloud;
    addVertex(cloud, {0, 0, 0}, {1, 0, 0});
    addVertex(cloud, {0.4, 0.2, -0.3}, {0, 0, 1});
    addVertex(cloud, {1, 0, 0}, {0, 1, 0});
    addVertex(cloud, {3, 0, 0}, {0.5, 0.5, 0.5}); // unused vertex: not in the box
    cloud.points = {0, 1, 2};
    cloud.hasColors = true;
    list = voxelize(cloud, ofSize(1.0));
    // The grid runs through the lowest corner of the points' box.
    EXPECT_EQ(list.positions, (std::vector<float>{0, 0, -0.3f, 1, 0, -0.3f}));
    EXPECT_EQ(list.colors, (std::vector<uint8_t>{128, 0, 128, 0, 255, 0}));
}

TEST(Voxelizer, LinesAndSourcesWithoutColors) {
    SourceGeometry g;
    addVertex(g, {0, 0, 0});
    addVertex(g, {0, 4, 0});
    addVertex(g, {3, 0, 0});
    g.lines = {0, 1, 0, 2};
    g.hasColors = false;
    VoxelList list = voxelize(g, ofSize(1.0));
    // The segments pass through cell centres, so each fills one row of cells.
    EXPECT_EQ(list.colors.size() / 3, 8u);
    uint8_t low[3], high[3];
    heightRampColor(0, low);
    heightRampColor(1, high);
    for (size_t i = 0; i < list.positions.size(); i += 3) {
        const uint8_t* expected = list.positions[i + 1] == 0 ? low : nullptr;
        if (list.positions[i + 1] == 4)
            expected = high;
        if (expected) {
            EXPECT_EQ(std::vector<uint8_t>(&list.colors[i], &list.colors[i] + 3),
                      std::vector<uint8_t>(expected, expected + 3));
        }
    }
    EXPECT_NE(std::vector<uint8_t>(low, low + 3), std::vector<uint8_t>(high, high + 3));
}

TEST(Voxelizer, RefusesWhatCannotBeVoxelised) {
    SourceGeometry empty;
    SourceGeometry nan;
    addVertex(nan, {NAN, 0, 0});
    nan.points = {0};
    SourceGeometry box = boxMesh({0, 0, 0}, {1, 1, 1});
    GridOptions tiny = ofSize(1e-7), capped = ofSize(0.01), fine = ofSize(0.0025), coarse, huge;
    capped.maxVoxels = 1000;
    huge.resolution = maxGridCells; // trillions of cells on the faces: refused before marking
    fine.maxVoxels = 500000;        // exceeded while contributions are still coming
    coarse.resolution = 1;
    const std::tuple<const char*, const SourceGeometry*, GridOptions> cases[] = {
        {"no triangles, lines or points", &empty, GridOptions()},
        {"finite coordinates", &nan, GridOptions()},
        {"voxels long (at most 2097152)", &box, tiny},
        {"more than 1000 voxels", &box, capped},
        {"more than 500000 voxels", &box, fine},
        {"more than 10000000 voxels; choose a larger --voxel-size", &box, huge},
        {"resolution must be between 2", &box, coarse},
    };
    for (const auto& [reason, geometry, options] : cases) {
        SCOPED_TRACE(reason);
        VoxelList list;
        std::string error;
        int64_t skipped = 0;
        EXPECT_FALSE(voxelizeGeometry(*geometry, options, list, skipped, error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

// A grid is refused before voxelising only when one element alone needs more
// voxels than allowed: single triangles and segments at every orientation,
// flat on the axes or across them, convert with the limit set to exactly the
// voxels they give, and are refused one voxel below it.
TEST(Voxelizer, TheLimitNeverRefusesWhatFits) {
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int n = 0; n < 60; ++n) {
        SourceGeometry g;
        const double length = 40 + 8 * n;
        P corner[3] = {{0, 0, 0}, {length, 0, 0}, {0.3 * length, 0.7 * length, 0}};
        if (n % 3 == 1)
            corner[2] = {0.5 * length, 0.5 * length, length}; // across the axes
        for (const P& p : corner)
            addVertex(g, p);
        if (n % 4 == 3)
            g.lines = {0, 1, 1, 2};
        else
            g.triangles = {0, 1, 2};
        g.hasColors = true;
        if (n % 3 == 2)
            transform(g, random, 1.0, {unit(random), unit(random), unit(random)});
        SCOPED_TRACE(n);
        const int64_t count = int64_t(voxelize(g, ofSize(1.0)).colors.size() / 3);
        GridOptions exact = ofSize(1.0);
        exact.maxVoxels = count;
        EXPECT_EQ(int64_t(voxelize(g, exact).colors.size() / 3), count);
        VoxelList list;
        std::string error;
        int64_t skipped = 0;
        exact.maxVoxels = count - 1;
        EXPECT_FALSE(voxelizeGeometry(g, exact, list, skipped, error));
        EXPECT_NE(error.find("more than " + std::to_string(count - 1) + " voxels"),
                  std::string::npos)
            << error;
    }
}

TEST(Voxelizer, LeavesOutWhatUsesAVertexThatIsNotFinite) {
    SourceGeometry g = boxMesh({0, 0, 0}, {2, 2, 2});
    addVertex(g, {INFINITY, 0, 0});
    addVertex(g, {1, NAN, 1});
    const uint32_t bad = uint32_t(g.vertices.size() / 3 - 2);
    g.triangles.insert(g.triangles.end(), {0, 1, bad});
    g.lines = {bad + 1, 0};
    g.points = {0, bad};
    VoxelList list;
    std::string error;
    int64_t skipped = 0;
    ASSERT_TRUE(voxelizeGeometry(g, ofSize(1.0), list, skipped, error)) << error;
    EXPECT_EQ(skipped, 3);
    EXPECT_EQ(list.colors.size() / 3, 26u); // the 3 x 3 x 3 shell, as without them
}

} // namespace
