// Samples made finer than their spacing: against a direct interpolation of
// each cube's centre, and what a user must see of it (more voxels within
// the same box, labels never blended, the limits).
#include <gtest/gtest.h>

#include "int16_volume.h"
#include "samples/volume_colors.h"
#include "samples/volume_finer.h"

#include <cmath>
#include <cstring>
#include <set>

namespace {

// The value at a point, straight from the definition: each axis clamped to
// the outermost sample centres, then trilinear.
double interpolate(const SampleVolume& v, const double p[3]) {
    int64_t lo[3], hi[3];
    double t[3];
    for (int a = 0; a < 3; ++a) {
        double u = (p[a] - v.origin[a]) / v.spacing[a];
        u = std::clamp(u, 0.0, double(v.dims[a] - 1));
        lo[a] = int64_t(std::floor(u));
        hi[a] = std::min(lo[a] + 1, v.dims[a] - 1);
        t[a] = u - double(lo[a]);
    }
    double sum = 0;
    for (int c = 0; c < 8; ++c) {
        const int64_t i = c & 1 ? hi[0] : lo[0], j = c & 2 ? hi[1] : lo[1],
                      k = c & 4 ? hi[2] : lo[2];
        const double w =
            (c & 1 ? t[0] : 1 - t[0]) * (c & 2 ? t[1] : 1 - t[1]) * (c & 4 ? t[2] : 1 - t[2]);
        sum += w * sampleValue(v, i, j, k);
    }
    return sum;
}

std::set<std::tuple<float, float, float>> centres(const VoxelGrid& grid) {
    std::set<std::tuple<float, float, float>> out;
    for (size_t n = 0; n < grid.voxels.positions.size(); n += 3)
        out.insert(
            {grid.voxels.positions[n], grid.voxels.positions[n + 1], grid.voxels.positions[n + 2]});
    return out;
}

} // namespace

TEST(VolumeFiner, EveryCubeIsTheInterpolationAtItsCentreThenTheThreshold) {
    const int64_t dims[3] = {5, 4, 3};
    const double spacing[3] = {1.0, 1.5, 4.0};
    // Values all over, and a few rows of samples alone among empty ones (rows
    // with nothing that passes are skipped whole).
    const SampleVolume volumes[2] = {
        int16Volume(dims, spacing,
                    [](int64_t i, int64_t j, int64_t k) {
                        return int((i * 37 + j * 91 + k * 53) % 97) - 20;
                    }),
        int16Volume(dims, spacing, [](int64_t i, int64_t j, int64_t k) {
            return i == 2 && (j * 3 + k) % 5 == 0 ? 100 : 0;
        })};
    for (const SampleVolume& source : volumes)
        for (double size : {0.7, 1.0, 2.5}) {
            SampleVolume v = source;
            v.origin[0] = -2, v.origin[1] = 7, v.origin[2] = 0.25;
            const ThresholdRule rule{true, 30};
            VoxelGrid grid;
            std::string error;
            ASSERT_TRUE(resampleFiner(v, rule, ColorMode::grey, size, 100000, grid, error))
                << error;
            EXPECT_FLOAT_EQ(grid.voxels.voxelSize, float(size));
            ASSERT_TRUE(grid.hasLattice);
            // Walk the whole lattice over the volume's box, from its lowest edge.
            std::set<std::tuple<float, float, float>> want;
            int64_t n[3];
            for (int a = 0; a < 3; ++a) {
                n[a] = int64_t(std::ceil(double(dims[a]) * spacing[a] / size));
                EXPECT_DOUBLE_EQ(grid.origin[a], v.origin[a] - 0.5 * spacing[a] + 0.5 * size);
            }
            for (int64_t x = 0; x < n[0]; ++x)
                for (int64_t y = 0; y < n[1]; ++y)
                    for (int64_t z = 0; z < n[2]; ++z) {
                        const double p[3] = {grid.origin[0] + double(x) * size,
                                             grid.origin[1] + double(y) * size,
                                             grid.origin[2] + double(z) * size};
                        if (interpolate(v, p) >= 30)
                            want.insert({float(p[0]), float(p[1]), float(p[2])});
                    }
            if (&source == &volumes[0] || size < 1) {
                EXPECT_GT(want.size(), 1u);
            }
            EXPECT_EQ(centres(grid), want) << "size " << size;
        }
}

TEST(VolumeFiner, LabelsAreNeverBlendedAndAMaskKeepsItsMiddle) {
    // Labels 1 and 5 side by side: a blend would give 3, a colour of its own.
    const int64_t dims[3] = {4, 2, 2};
    const double spacing[3] = {3, 3, 3};
    SampleVolume v = int16Volume(dims, spacing, [](int64_t i, int64_t, int64_t) {
        return i == 0 ? 0 : i < 2 ? 1 : 5;
    });
    v.meaning = SampleMeaning::labels;
    VoxelGrid grid;
    std::string error;
    ASSERT_TRUE(resampleFiner(v, ThresholdRule(), ColorMode::labels, 1, 100000, grid, error));
    uint8_t one[3], five[3];
    labelColor(1, one);
    labelColor(5, five);
    std::set<std::vector<uint8_t>> seen;
    for (size_t n = 0; n < grid.voxels.colors.size(); n += 3)
        seen.insert({grid.voxels.colors[n], grid.voxels.colors[n + 1], grid.voxels.colors[n + 2]});
    EXPECT_EQ(seen, (std::set<std::vector<uint8_t>>{{one[0], one[1], one[2]},
                                                    {five[0], five[1], five[2]}}));
    // Without a threshold a cube is a voxel where the samples that pass
    // weigh half or more: from the empty sample 0 (centre 0) to sample 1
    // (centre 3) that is from 1.5 on, so the first cube centre (-1, one
    // cube in from the box's edge at -1.5) that passes is 2.
    float lowest = 1e9f;
    for (size_t n = 0; n < grid.voxels.positions.size(); n += 3)
        lowest = std::min(lowest, grid.voxels.positions[n]);
    EXPECT_FLOAT_EQ(lowest, 2.0f);
    EXPECT_EQ(grid.voxels.colors.size() / 3, size_t(12 - 3) * 6 * 6);
}

TEST(VolumeFiner, TooManyVoxelsOrTooLongAGridIsRefused) {
    const int64_t dims[3] = {3, 3, 3};
    const double spacing[3] = {1, 1, 1};
    SampleVolume v = int16Volume(dims, spacing, [](int64_t, int64_t, int64_t) { return 1; });
    VoxelGrid grid;
    std::string error;
    ASSERT_TRUE(resampleFiner(v, ThresholdRule(), ColorMode::height, 0.5, 216, grid, error));
    EXPECT_EQ(grid.voxels.colors.size(), 216u * 3);
    EXPECT_TRUE(grid.madeUpColors);
    EXPECT_FALSE(resampleFiner(v, ThresholdRule(), ColorMode::height, 0.5, 215, grid, error));
    EXPECT_EQ(error, "more than 215 voxels (raise --max-voxels or --threshold, or make the grid "
                     "coarser with --voxel-size or --resolution)");
    EXPECT_TRUE(grid.voxels.positions.empty());
    EXPECT_FALSE(resampleFiner(v, ThresholdRule(), ColorMode::height, 1e-6, 215, grid, error));
    EXPECT_EQ(error, "the grid would be 3000000 voxels long (at most 2097152); choose a larger "
                     "--voxel-size");
}
