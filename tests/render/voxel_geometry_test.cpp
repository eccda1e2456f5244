// The unit-cube tables and their expansion into the arrays that draw the whole
// model. The tables decide which side of every face is drawn, so their winding
// is checked geometrically rather than against a copy of the numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "fakes.h"
#include "model/voxel_model.h"
#include "render/voxel_geometry.h"

namespace {

struct P3 {
    double x, y, z;
};

P3 unitVertex(uint32_t i) {
    return {unitCubeVertices[i][0], unitCubeVertices[i][1], unitCubeVertices[i][2]};
}

P3 sub(P3 a, P3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

P3 cross(P3 a, P3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double dot(P3 a, P3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

double coord(P3 p, int axis) {
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

// Faces in table order, each as its outward axis and side.
const struct {
    const char* name;
    int axis;
    double side;
} faces[6] = {
    {"top", 1, 0.5},   {"right", 0, 0.5}, {"bottom", 1, -0.5},
    {"left", 0, -0.5}, {"front", 2, 0.5}, {"back", 2, -0.5},
};

void freeArrays() {
    freeVoxelArrays();
}

TEST(CubeTables, EachFaceLiesInItsPlaneAndCoversItsSquare) {
    for (int f = 0; f < 6; ++f) {
        SCOPED_TRACE(faces[f].name);
        std::set<std::pair<double, double>> corners;
        for (uint32_t v = 4 * f; v < 4 * f + 4u; ++v) {
            P3 p = unitVertex(v);
            EXPECT_EQ(coord(p, faces[f].axis), faces[f].side) << "vertex " << v;
            int a = (faces[f].axis + 1) % 3, b = (faces[f].axis + 2) % 3;
            EXPECT_EQ(std::abs(coord(p, a)), 0.5);
            EXPECT_EQ(std::abs(coord(p, b)), 0.5);
            corners.insert({coord(p, a), coord(p, b)});
        }
        EXPECT_EQ(corners.size(), 4u) << "four distinct corners";
    }
}

// With back faces culled, a triangle wound the wrong way makes that side of
// every cube vanish; one wound right but on the wrong face leaves a hole.
TEST(CubeTables, EveryTriangleFacesOutwardAndStaysOnItsFace) {
    for (int f = 0; f < 6; ++f) {
        SCOPED_TRACE(faces[f].name);
        std::set<uint32_t> used;
        double area = 0.0;
        for (int t = 0; t < 2; ++t) {
            const uint32_t* tri = unitCubeIndices + 6 * f + 3 * t;
            for (int k = 0; k < 3; ++k) {
                EXPECT_GE(tri[k], 4u * f);
                EXPECT_LT(tri[k], 4u * f + 4u);
                used.insert(tri[k]);
            }
            P3 a = unitVertex(tri[0]), b = unitVertex(tri[1]), c = unitVertex(tri[2]);
            P3 n = cross(sub(b, a), sub(c, a));
            P3 outward = {0, 0, 0};
            (faces[f].axis == 0   ? outward.x
             : faces[f].axis == 1 ? outward.y
                                  : outward.z) = faces[f].side > 0 ? 1.0 : -1.0;
            // Counter-clockwise seen from outside: the normal points away from
            // the cube's centre, straight along the face's axis.
            EXPECT_GT(dot(n, outward), 0.0) << "triangle " << t << " is clockwise from outside";
            P3 along = cross(n, outward);
            EXPECT_EQ(dot(along, along), 0.0) << "triangle " << t << " leaves its face";
            area += 0.5 * dot(n, outward);
        }
        // Two half-squares of the four corners: the whole unit face, no overlap.
        EXPECT_EQ(used.size(), 4u);
        EXPECT_EQ(area, 1.0);
    }
}

TEST(CubeTables, VerticesAreTheEightCornersThreeTimesEach) {
    std::vector<int> seen(8, 0);
    for (uint32_t v = 0; v < 24; ++v) {
        P3 p = unitVertex(v);
        int corner = (p.x > 0 ? 1 : 0) + (p.y > 0 ? 2 : 0) + (p.z > 0 ? 4 : 0);
        ++seen[corner];
    }
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(seen[c], 3) << "corner " << c;
}

TEST(VoxelArrays, OneVoxelBecomesACubeOfItsSizeAndColor) {
    resetAllState();
    float positions[] = {1.0f, 2.0f, 3.0f};
    uint8_t colors[] = {200, 0, 17};
    VoxelModel m = {1, positions, colors, 2.0f};
    ASSERT_TRUE(buildVoxelArrays(&m));
    ASSERT_NE(vertexArray, nullptr);
    ASSERT_NE(colorArray, nullptr);
    ASSERT_NE(indexArray, nullptr);
    const float lo[3] = {0.0f, 1.0f, 2.0f}, hi[3] = {2.0f, 3.0f, 4.0f};
    for (int j = 0; j < 24; ++j) {
        SCOPED_TRACE(j);
        for (int c = 0; c < 3; ++c) {
            float v = vertexArray[3 * j + c];
            EXPECT_EQ(v, unitCubeVertices[j][c] > 0 ? hi[c] : lo[c]);
            EXPECT_EQ(colorArray[3 * j + c], colors[c]);
        }
    }
    for (int s = 0; s < 36; ++s)
        EXPECT_EQ(indexArray[s], unitCubeIndices[s]) << "slot " << s;
    freeArrays();
}

// Enough voxels, and an odd count, for big models' halves to be expanded
// on two threads and to meet in the middle.
TEST(VoxelArrays, EveryVoxelGetsItsOwnCubeAndIndexRange) {
    resetAllState();
    const int n = 100003;
    std::vector<float> positions(3 * n);
    std::vector<uint8_t> colors(3 * n);
    for (int i = 0; i < n; ++i) {
        positions[3 * i + 0] = float(i);
        positions[3 * i + 1] = -0.5f * float(i);
        positions[3 * i + 2] = float(i % 7) - 3.0f;
        for (int c = 0; c < 3; ++c)
            colors[3 * i + c] = uint8_t(i * (c + 1));
    }
    VoxelModel m = {n, positions.data(), colors.data(), 0.25f};
    ASSERT_TRUE(buildVoxelArrays(&m));

    int faults = 0;
    for (int i = 0; i < n && faults < 10; ++i) {
        for (int s = 0; s < 36; ++s) {
            uint32_t idx = indexArray[36 * i + s];
            if (idx != unitCubeIndices[s] + 24u * i) {
                ADD_FAILURE() << "voxel " << i << " slot " << s << " index " << idx;
                ++faults;
            }
        }
        for (int j = 0; j < 24; ++j) {
            for (int c = 0; c < 3; ++c) {
                float v = vertexArray[(24 * i + j) * 3 + c];
                float expected = 0.25f * unitCubeVertices[j][c] + positions[3 * i + c];
                if (v != expected || colorArray[(24 * i + j) * 3 + c] != colors[3 * i + c]) {
                    ADD_FAILURE() << "voxel " << i << " vertex " << j << " coordinate " << c;
                    ++faults;
                }
            }
        }
    }
    freeArrays();
}

// The expansion works from each voxel's face planes, but every coordinate must
// keep the bits of size x unit vertex + centre, also where rounding, signed
// zeros, subnormals, infinities and NaNs come in.
TEST(VoxelArrays, CoordinatesKeepTheBitsOfSizeTimesUnitVertexPlusCenter) {
    const float sizes[] = {0.25f, 0.1f, -3.0f, 0.0f, -0.0f, 1e-45f, 3e38f, INFINITY, NAN};
    const float centers[] = {0.0f,  -0.0f, 1.0f,      -2.5f,    16777216.0f, 0.3f,
                             1e30f, 1e-40, -INFINITY, 123.456f, -7e-39f,     NAN};
    const int n = int(sizeof centers / sizeof centers[0]);
    std::vector<float> positions;
    std::vector<uint8_t> colors(3 * n * n * n, 7);
    for (float x : centers)
        for (float y : centers)
            for (float z : centers)
                positions.insert(positions.end(), {x, y, z});
    for (float size : sizes) {
        SCOPED_TRACE(size);
        resetAllState();
        VoxelModel m = {n * n * n, positions.data(), colors.data(), size};
        ASSERT_TRUE(buildVoxelArrays(&m));
        int faults = 0;
        for (int i = 0; i < m.count && faults < 5; ++i)
            for (int j = 0; j < 24; ++j)
                for (int c = 0; c < 3; ++c) {
                    float expected = size * unitCubeVertices[j][c] + positions[3 * i + c];
                    float got = vertexArray[(24 * i + j) * 3 + c];
                    if (memcmp(&expected, &got, sizeof got) != 0 && faults++ < 5)
                        ADD_FAILURE() << "voxel " << i << " vertex " << j << " coordinate " << c;
                }
        freeArrays();
    }
}

// Touching voxels keep the faces between them: each is a whole cube.
TEST(VoxelArrays, AdjacentVoxelsKeepTheirSharedFaces) {
    resetAllState();
    float positions[] = {0, 0, 0, 1, 0, 0};
    uint8_t colors[] = {1, 2, 3, 4, 5, 6};
    VoxelModel m = {2, positions, colors, 1.0f};
    ASSERT_TRUE(buildVoxelArrays(&m));
    // The right face of voxel 0 and the left face of voxel 1 both sit at x = 0.5.
    for (int j = 4; j < 8; ++j)
        EXPECT_EQ(vertexArray[3 * j], 0.5f);
    for (int j = 12; j < 16; ++j)
        EXPECT_EQ(vertexArray[3 * (24 + j)], 0.5f);
    for (int s = 0; s < 72; ++s)
        EXPECT_LT(indexArray[s], 48u);
    freeArrays();
}

// Null arrays mean "not built yet", so even an empty model must leave them set.
TEST(VoxelArrays, EmptyModelStillCountsAsBuilt) {
    resetAllState();
    VoxelModel m = {0, nullptr, nullptr, 1.0f};
    ASSERT_TRUE(buildVoxelArrays(&m));
    EXPECT_NE(vertexArray, nullptr);
    EXPECT_NE(colorArray, nullptr);
    EXPECT_NE(indexArray, nullptr);
    EXPECT_FALSE(listCompiled);
    freeArrays();
}

// The faces keepFacesTowards leaves: those whose plane the eye is not clearly
// behind, in the arrays' order, each moved down to the next free place with
// its vertices, colours and two triangles.
TEST(KeepFacesTowards, LeavesTheFacesThatMayFaceTheEyeInOrder) {
    resetAllState();
    float positions[] = {0.0f, 0.0f, 0.0f, 3.0f, 0.0f, 0.0f};
    uint8_t colors[6] = {10, 20, 30, 40, 50, 60};
    VoxelModel m = {2, positions, colors, 1.0f};
    model = &m;
    // The packed faces, each identified by its four vertices and colours
    // among the faces built: 6 x voxel + face, in the packed order. Every
    // packed face's triangles must be its two of the table, on its place.
    auto kept = [&](Vec3 eye) {
        freeArrays();
        EXPECT_TRUE(buildVoxelArrays(&m));
        EXPECT_EQ(drawnIndexCount, 72u);
        std::vector<float> vertices(vertexArray, vertexArray + 2 * 72);
        std::vector<uint8_t> built(colorArray, colorArray + 2 * 72);
        size_t n = keepFacesTowards(eye);
        EXPECT_EQ(n, drawnIndexCount);
        EXPECT_EQ(n % 6, 0u);
        std::vector<int> faces;
        for (size_t j = 0; j < n / 6; ++j) {
            int found = -1;
            for (int g = 0; g < 12; ++g)
                if (memcmp(vertexArray + 12 * j, &vertices[12 * g], 12 * sizeof(float)) == 0 &&
                    memcmp(colorArray + 12 * j, &built[12 * g], 12) == 0)
                    found = g;
            EXPECT_GE(found, 0) << "packed face " << j << " is none of the built faces";
            for (int k = 0; k < 6; ++k)
                EXPECT_EQ(indexArray[6 * j + k], unitCubeIndices[6 * (found % 6) + k] -
                                                     4 * uint32_t(found % 6) + 4 * uint32_t(j));
            faces.push_back(found);
        }
        return faces;
    };
    // Straight in front, between the two: each shows its front face and the
    // side towards the eye. Faces: 0 top, 1 right, 2 bottom, 3 left, 4 front,
    // 5 back.
    EXPECT_EQ(kept({1.5f, 0.0f, 10.0f}), (std::vector<int>{1, 4, 6 + 3, 6 + 4}));
    // From the corner (1, 1, 1), far out: top, right and front of each.
    EXPECT_EQ(kept({100.0f, 100.0f, 100.0f}), (std::vector<int>{0, 1, 4, 6, 7, 10}));
    // An eye on a face's plane, or just behind it within the margin, keeps
    // that face: the projected face is a sliver the rasteriser decides on.
    EXPECT_EQ(kept({0.5f, 0.0f, 10.0f}), (std::vector<int>{1, 4, 6 + 3, 6 + 4}));
    EXPECT_EQ(kept({0.495f, 0.0f, 10.0f}), (std::vector<int>{1, 4, 6 + 3, 6 + 4}));
    EXPECT_EQ(kept({0.0f, 0.0f, 10.0f}), (std::vector<int>{4, 6 + 3, 6 + 4}));
    // From inside the first voxel every one of its faces is seen from behind
    // (by half a voxel, far beyond the margin); of the second only the face
    // towards the eye is left.
    EXPECT_EQ(kept({0.0f, 0.0f, 0.0f}), (std::vector<int>{6 + 3}));
    // Nothing is left out for sizes or positions that are not finite, or for
    // cubes turned inside out.
    for (float size : {-1.0f, 0.0f, INFINITY, NAN}) {
        m.voxelSize = size;
        EXPECT_EQ(kept({1.5f, 0.0f, 10.0f}).size(), 12u) << size;
    }
    m.voxelSize = 1.0f;
    positions[4] = NAN;
    EXPECT_EQ(kept({1.5f, 0.0f, 10.0f}).size(), 12u);
    positions[4] = 0.0f;
    EXPECT_EQ(kept({1.5f, NAN, 10.0f}).size(), 12u);
    freeArrays();
    model = nullptr;
}

} // namespace
