#include "convert/volume_resample.h"

#include "convert/volume_scan.h"
#include "convert/voxelizer.h"

#include <algorithm>
#include <cmath>

std::vector<int64_t> cubeOfSample(int64_t samples, double spacing, double edge, int64_t& cubes) {
    std::vector<int64_t> cube(static_cast<size_t>(samples));
    double ratio = spacing / edge;
    for (int64_t i = 0; i < samples; ++i)
        cube[size_t(i)] = spacing == edge ? i : int64_t(std::floor((double(i) + 0.5) * ratio));
    cubes = samples > 0 ? cube.back() + 1 : 0;
    return cube;
}

namespace {

struct CubeSum {
    uint64_t rgb[3] = {0, 0, 0};
    uint64_t count = 0;
};

// One layer of cubes across the two faster axes, filled from the samples of
// one cube's depth along the slowest axis, then emitted.
struct CubeLayer {
    std::vector<CubeSum> sums;
    std::vector<uint32_t> touched;
};

} // namespace

bool resampleToCubes(const SampleVolume& volume, const ThresholdRule& rule, ColorMode mode,
                     int64_t maxVoxels, VoxelGrid& grid, std::string& error) {
    grid = VoxelGrid();
    VoxelList& out = grid.voxels;
    double edge = std::max({volume.spacing[0], volume.spacing[1], volume.spacing[2]});
    // The centre of cube 0 along each axis: the volume's edge (half a sample
    // before sample 0's centre) plus half a cube.
    double corner[3];
    for (int a = 0; a < 3; ++a)
        corner[a] = volume.origin[a] - 0.5 * volume.spacing[a] + 0.5 * edge;
    int64_t cubes[3];
    std::vector<int64_t> cubeOf[3];
    for (int a = 0; a < 3; ++a)
        cubeOf[a] = cubeOfSample(volume.dims[a], volume.spacing[a], edge, cubes[a]);
    double lowest = 0, highest = 0;
    if (mode == ColorMode::grey || mode == ColorMode::map) {
        if (!passingValueRange(volume, rule, lowest, highest))
            return true; // nothing passes: no voxels
    }
    double span = highest - lowest;
    auto colourOf = [&](double value, uint8_t rgb[3]) {
        switch (mode) {
        case ColorMode::labels:
            labelColor(uint64_t(int64_t(value)), rgb);
            break;
        case ColorMode::grey:
            greyColor(span > 0 ? (value - lowest) / span : 1.0, rgb);
            break;
        case ColorMode::map:
            colorMapColor(span > 0 ? (value - lowest) / span : 1.0, rgb);
            break;
        case ColorMode::height:
        case ColorMode::automatic:
            rgb[0] = rgb[1] = rgb[2] = 0; // coloured once every voxel is known
            break;
        }
    };

    int axes[3];
    memoryAxisOrder(volume, axes);
    const std::vector<int64_t>& fastCube = cubeOf[axes[0]];
    const std::vector<int64_t>& middleCube = cubeOf[axes[1]];
    const std::vector<int64_t>& slowCube = cubeOf[axes[2]];
    const int64_t layerWidth = cubes[axes[0]];
    CubeLayer layer;
    layer.sums.resize(size_t(cubes[axes[0]] * cubes[axes[1]]));
    std::vector<int64_t> heights; // the cube index along y of each voxel, for height colours
    bool overflowed = false;
    int64_t voxelCount = 0;

    auto emitLayer = [&](int64_t slow) {
        std::sort(layer.touched.begin(), layer.touched.end());
        for (uint32_t index : layer.touched) {
            CubeSum& sum = layer.sums[index];
            if (++voxelCount > maxVoxels) {
                overflowed = true;
                break;
            }
            int64_t cube[3];
            cube[axes[0]] = int64_t(index) % layerWidth;
            cube[axes[1]] = int64_t(index) / layerWidth;
            cube[axes[2]] = slow;
            for (int a = 0; a < 3; ++a)
                out.positions.push_back(float(corner[a] + double(cube[a]) * edge));
            for (int k = 0; k < 3; ++k)
                out.colors.push_back(uint8_t((sum.rgb[k] + sum.count / 2) / sum.count));
            if (mode == ColorMode::height || mode == ColorMode::automatic)
                heights.push_back(cube[1]);
            sum = CubeSum();
        }
        layer.touched.clear();
    };

    const bool scaled = volume.slope != 1.0 || volume.intercept != 0.0;
    int64_t currentSlow = -1;
    forEachSampleRow(
        volume, [&](const auto* row, int64_t count, int64_t stride, int64_t outer, int64_t middle) {
            if (overflowed)
                return;
            int64_t slow = slowCube[size_t(outer)];
            if (slow != currentSlow) {
                if (currentSlow >= 0)
                    emitLayer(currentSlow);
                currentSlow = slow;
            }
            const int64_t layerRow = middleCube[size_t(middle)] * layerWidth;
            for (int64_t n = 0; n < count; ++n) {
                double value = double(row[n * stride]);
                if (scaled)
                    value = volume.slope * value + volume.intercept;
                if (!samplePasses(value, rule))
                    continue;
                uint32_t index = uint32_t(layerRow + fastCube[size_t(n)]);
                CubeSum& sum = layer.sums[index];
                if (sum.count == 0)
                    layer.touched.push_back(index);
                uint8_t rgb[3];
                colourOf(value, rgb);
                for (int k = 0; k < 3; ++k)
                    sum.rgb[k] += rgb[k];
                ++sum.count;
            }
        });
    if (!overflowed && currentSlow >= 0)
        emitLayer(currentSlow);
    if (overflowed) {
        grid = VoxelGrid();
        error = "more than " + std::to_string(maxVoxels) +
                " voxels (raise --max-voxels or --threshold, or make the grid coarser with "
                "--voxel-size or --resolution)";
        return false;
    }
    out.voxelSize = float(edge);
    grid.hasLattice = true;
    grid.step = edge;
    for (int a = 0; a < 3; ++a)
        grid.origin[a] = corner[a];
    if (!heights.empty()) {
        auto [low, high] = std::minmax_element(heights.begin(), heights.end());
        int64_t range = *high - *low;
        for (size_t v = 0; v < heights.size(); ++v)
            heightRampColor(range > 0 ? double(heights[v] - *low) / double(range) : 0.0,
                            &out.colors[3 * v]);
    }
    return true;
}
