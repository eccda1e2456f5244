// The mesh of each --mesh choice: what its triangles cover, what colour
// they show (through the texture or the vertices), that --mesh faces is
// closed, and that cubes are drawn as the viewer draws them.
#include <gtest/gtest.h>

#include "render/voxel_geometry.h"
#include "voxel_sets.h"
#include "write/voxel_mesh.h"

#include <cmath>

namespace {

// Twice the summed area of the triangles, in steps squared.
double doubledArea(const VoxelMesh& mesh, double step) {
    double sum = 0;
    for (size_t t = 0; t < mesh.indices.size(); t += 3) {
        const float* a = &mesh.positions[3 * size_t(mesh.indices[t])];
        const float* b = &mesh.positions[3 * size_t(mesh.indices[t + 1])];
        const float* c = &mesh.positions[3 * size_t(mesh.indices[t + 2])];
        double u[3], v[3];
        for (int k = 0; k < 3; ++k) {
            u[k] = (double(b[k]) - a[k]) / step;
            v[k] = (double(c[k]) - a[k]) / step;
        }
        const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                             u[0] * v[1] - u[1] * v[0]};
        sum += std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    }
    return sum;
}

// Edges not matched by one of opposite direction, vertices by index.
size_t openEdges(const VoxelMesh& mesh) {
    std::map<std::pair<uint32_t, uint32_t>, int> count;
    for (size_t t = 0; t < mesh.indices.size(); t += 3)
        for (int e = 0; e < 3; ++e)
            ++count[{mesh.indices[t + size_t(e)], mesh.indices[t + size_t((e + 1) % 3)]}];
    size_t open = 0;
    for (const auto& [edge, n] : count) {
        auto back = count.find({edge.second, edge.first});
        open += back == count.end() || back->second != n;
    }
    return open;
}

TEST(VoxelMesh, GreedyTexturesShowEachFaceInItsVoxelsColour) {
    std::mt19937 random(5);
    const double step = 0.5;
    const std::array<double, 3> origin = {1.25, -2.0, 0.75};
    for (int round = 0; round < 8; ++round) {
        const auto cells = randomCells(random, 200 + 200 * round, 8 + round, 1 + round);
        const VoxelGrid grid = gridOf(cells, step, origin);
        VoxelMesh mesh;
        std::string error;
        ASSERT_TRUE(buildVoxelMesh(grid, MeshChoice::greedy, MeshColors::texture, mesh, error));
        ASSERT_EQ(mesh.texcoords.size(), 2 * vertexCount(mesh));
        EXPECT_TRUE(mesh.colors.empty());
        const std::set<Face> faces = plainExposedFaces(cells);
        EXPECT_NEAR(doubledArea(mesh, step), 2.0 * double(faces.size()), 1e-6);
        // Each quad: four vertices, its cells sampled at their centres by
        // interpolating the corners' texture coordinates.
        size_t sampled = 0;
        for (size_t q = 0; q < vertexCount(mesh); q += 4) {
            double low[3] = {1e30, 1e30, 1e30}, high[3] = {-1e30, -1e30, -1e30};
            for (size_t c = 0; c < 4; ++c)
                for (int k = 0; k < 3; ++k) {
                    const double l =
                        (mesh.positions[3 * (q + c) + size_t(k)] - origin[size_t(k)]) / step + 0.5;
                    low[k] = std::min(low[k], l);
                    high[k] = std::max(high[k], l);
                }
            int axis = 0;
            for (int k = 0; k < 3; ++k)
                if (high[k] - low[k] < 0.5)
                    axis = k;
            // The quad's normal from its first triangle tells the side.
            const size_t tri = 6 * (q / 4);
            const float* a = &mesh.positions[3 * size_t(mesh.indices[tri])];
            const float* b = &mesh.positions[3 * size_t(mesh.indices[tri + 1])];
            const float* c = &mesh.positions[3 * size_t(mesh.indices[tri + 2])];
            const int u = (axis + 1) % 3, w = (axis + 2) % 3;
            const double normal = (double(b[u]) - a[u]) * (double(c[w]) - a[w]) -
                                  (double(b[w]) - a[w]) * (double(c[u]) - a[u]);
            const int sign = normal > 0 ? 1 : -1;
            const int other[2] = {axis == 0 ? 1 : 0, axis == 2 ? 1 : 2};
            for (double i = low[other[0]] + 0.5; i < high[other[0]]; i += 1)
                for (double j = low[other[1]] + 0.5; j < high[other[1]]; j += 1) {
                    // Bilinear over the corners: the quad is a rectangle.
                    double tu = 0, tv = 0;
                    for (size_t corner = 0; corner < 4; ++corner) {
                        const float* p = &mesh.positions[3 * (q + corner)];
                        const double cu = (p[other[0]] - origin[size_t(other[0])]) / step + 0.5;
                        const double cv = (p[other[1]] - origin[size_t(other[1])]) / step + 0.5;
                        const double wu = 1 - std::fabs(i - cu) / (high[other[0]] - low[other[0]]);
                        const double wv = 1 - std::fabs(j - cv) / (high[other[1]] - low[other[1]]);
                        tu += wu * wv * mesh.texcoords[2 * (q + corner)];
                        tv += wu * wv * mesh.texcoords[2 * (q + corner) + 1];
                    }
                    const size_t x = size_t(tu * mesh.texture.width);
                    const size_t y = size_t(tv * mesh.texture.height);
                    const uint8_t* texel =
                        &mesh.texture.pixels[3 * (y * size_t(mesh.texture.width) + x)];
                    Cell cell;
                    cell[size_t(other[0])] = int64_t(std::floor(i));
                    cell[size_t(other[1])] = int64_t(std::floor(j));
                    cell[size_t(axis)] = int64_t(std::lround(low[axis])) - (sign > 0 ? 1 : 0);
                    ASSERT_TRUE(cells.count(cell));
                    EXPECT_TRUE(faces.count({cell, axis, sign}));
                    EXPECT_EQ((Rgb{texel[0], texel[1], texel[2]}), cells.at(cell));
                    ++sampled;
                }
        }
        EXPECT_EQ(sampled, faces.size());
    }
}

TEST(VoxelMesh, FacesAreClosedAndCarryTheirVoxelsColours) {
    // A ball in two colours: closed by position everywhere, and by index
    // where one colour meets itself.
    std::map<Cell, Rgb> ball;
    for (int64_t x = -5; x <= 5; ++x)
        for (int64_t y = -5; y <= 5; ++y)
            for (int64_t z = -5; z <= 5; ++z)
                if (x * x + y * y + z * z <= 25)
                    ball[{x, y, z}] = x > 0 ? Rgb{250, 10, 10} : Rgb{10, 250, 10};
    const VoxelGrid grid = gridOf(ball, 2.0);
    const std::set<Face> faces = plainExposedFaces(ball);
    VoxelMesh mesh;
    std::string error;
    ASSERT_TRUE(buildVoxelMesh(grid, MeshChoice::faces, MeshColors::none, mesh, error));
    EXPECT_EQ(triangleCount(mesh), 2 * faces.size());
    EXPECT_EQ(openEdges(mesh), 0u);
    EXPECT_TRUE(mesh.colors.empty());
    ASSERT_TRUE(buildVoxelMesh(grid, MeshChoice::faces, MeshColors::vertex, mesh, error));
    EXPECT_EQ(triangleCount(mesh), 2 * faces.size());
    EXPECT_GT(openEdges(mesh), 0u); // split where the colours meet
    for (size_t t = 0; t < mesh.indices.size(); t += 3) {
        const uint8_t* c = &mesh.colors[3 * size_t(mesh.indices[t])];
        for (size_t k = 1; k < 3; ++k)
            EXPECT_EQ(memcmp(c, &mesh.colors[3 * size_t(mesh.indices[t + k])], 3), 0);
    }
    // The same ball in one colour is closed by index.
    for (auto& entry : ball)
        entry.second = {1, 2, 3};
    ASSERT_TRUE(
        buildVoxelMesh(gridOf(ball, 2.0), MeshChoice::faces, MeshColors::vertex, mesh, error));
    EXPECT_EQ(openEdges(mesh), 0u);
    // Every vertex is a cell corner: origin + (index - 0.5) x step.
    for (float p : mesh.positions)
        EXPECT_EQ(std::fmod(double(p) - 0.5 + 1000.0, 2.0), 1.0) << p;
    // Merged by colour, the mesh has fewer triangles and the same area.
    VoxelMesh merged;
    ASSERT_TRUE(
        buildVoxelMesh(gridOf(ball, 2.0), MeshChoice::greedy, MeshColors::vertex, merged, error));
    EXPECT_LT(triangleCount(merged), triangleCount(mesh));
    EXPECT_NEAR(doubledArea(merged, 2.0), doubledArea(mesh, 2.0), 1e-6);
}

TEST(VoxelMesh, CubesAndVoxelsOffTheLatticeAreDrawnAsTheViewerDrawsThem) {
    VoxelGrid grid = gridOf({{{0, 0, 0}, {10, 20, 30}}, {{1, 0, 0}, {40, 50, 60}}}, 0.1);
    grid.voxels.positions.insert(grid.voxels.positions.end(), {5.013f, 0.0f, 0.0f});
    grid.voxels.colors.insert(grid.voxels.colors.end(), {70, 80, 90});
    VoxelMesh mesh;
    std::string error;
    for (MeshChoice choice : {MeshChoice::greedy, MeshChoice::faces}) {
        ASSERT_TRUE(buildVoxelMesh(grid, choice, MeshColors::none, mesh, error));
        EXPECT_EQ(mesh.looseVoxels, 1);
        // Two touching voxels: 10 faces, or 6 rectangles; the loose one whole.
        EXPECT_EQ(triangleCount(mesh), (choice == MeshChoice::greedy ? 6u : 10u) * 2 + 12);
        // Kept to their colours, the two do not merge.
        ASSERT_TRUE(buildVoxelMesh(grid, choice, MeshColors::vertex, mesh, error));
        EXPECT_EQ(triangleCount(mesh), 10u * 2 + 12);
    }
    ASSERT_TRUE(buildVoxelMesh(grid, MeshChoice::cubes, MeshColors::texture, mesh, error));
    ASSERT_EQ(vertexCount(mesh), 72u);
    EXPECT_TRUE(mesh.texcoords.empty()); // cubes carry vertex colours instead
    for (size_t v = 0; v < 72; ++v) {
        const size_t voxel = v / 24;
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(mesh.positions[3 * v + size_t(k)],
                      grid.voxels.voxelSize * unitCubeVertices[v % 24][k] +
                          grid.voxels.positions[3 * voxel + size_t(k)]);
        EXPECT_EQ(memcmp(&mesh.colors[3 * v], &grid.voxels.colors[3 * voxel], 3), 0);
    }
    for (size_t i = 0; i < mesh.indices.size(); ++i)
        EXPECT_EQ(mesh.indices[i], unitCubeIndices[i % 36] + 24 * (i / 36));
    EXPECT_FLOAT_EQ(mesh.low[0], grid.voxels.positions[0] - 0.05f);
    EXPECT_EQ(mesh.high[0], 5.013f + 0.05f);
}

} // namespace
