#include "samples/volume_finer.h"

#include "samples/volume_resample.h"
#include "stages/height_ramp.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Where each cube along one axis takes its samples from: the sample below
// its centre, the one above (the same at the ends) and the weight of the
// one above.
struct AxisWeights {
    std::vector<int64_t> below, above;
    std::vector<double> toAbove;
};

AxisWeights axisWeights(const SampleVolume& volume, int a, const double corner[3], double size,
                        int64_t cubes) {
    AxisWeights w;
    w.below.resize(size_t(cubes));
    w.above.resize(size_t(cubes));
    w.toAbove.resize(size_t(cubes));
    const int64_t last = volume.dims[a] - 1;
    for (int64_t c = 0; c < cubes; ++c) {
        const double u = (corner[a] + double(c) * size - volume.origin[a]) / volume.spacing[a];
        const double below = std::floor(u);
        size_t n = size_t(c);
        if (!(u > 0)) {
            w.below[n] = w.above[n] = 0;
        } else if (!(below < double(last))) {
            w.below[n] = w.above[n] = last;
        } else {
            w.below[n] = int64_t(below);
            w.above[n] = w.below[n] + 1;
            w.toAbove[n] = u - below;
        }
    }
    return w;
}

} // namespace

bool resampleFiner(const SampleVolume& volume, const ThresholdRule& rule, ColorMode mode,
                   double size, int64_t maxVoxels, VoxelGrid& grid, std::string& error) {
    grid = VoxelGrid();
    double corner[3];
    int64_t cubes[3];
    for (int a = 0; a < 3; ++a) {
        const double along =
            std::max(1.0, std::ceil(double(volume.dims[a]) * volume.spacing[a] / size));
        if (!(along <= double(maxGridCells))) {
            char text[32];
            snprintf(text, sizeof text, "%.9g", along);
            error = std::string("the grid would be ") + text + " voxels long (at most " +
                    std::to_string(maxGridCells) + "); choose a larger --voxel-size";
            return false;
        }
        cubes[a] = int64_t(along);
        corner[a] = volume.origin[a] - 0.5 * volume.spacing[a] + 0.5 * size;
    }
    if (!checkFloatPlacement(volume, size, corner, cubes, error))
        return false;
    ValueColoring coloring;
    if (!startValueColoring(volume, rule, mode, coloring))
        return true; // nothing passes: no voxels
    const AxisWeights w[3] = {axisWeights(volume, 0, corner, size, cubes[0]),
                              axisWeights(volume, 1, corner, size, cubes[1]),
                              axisWeights(volume, 2, corner, size, cubes[2])};

    // Rows of samples along i with nothing that passes are skipped whole,
    // so the empty space around a scan costs little.
    const int64_t rows = volume.dims[1] * volume.dims[2];
    std::vector<uint8_t> rowPasses(size_t(rows), 0);
    for (int64_t k = 0; k < volume.dims[2]; ++k)
        for (int64_t j = 0; j < volume.dims[1]; ++j)
            for (int64_t i = 0; i < volume.dims[0] && !rowPasses[size_t(k * volume.dims[1] + j)];
                 ++i)
                rowPasses[size_t(k * volume.dims[1] + j)] =
                    samplePasses(sampleValue(volume, i, j, k), rule);

    VoxelList& out = grid.voxels;
    const bool byHeight = colorsByHeight(mode);
    std::vector<int64_t> heights;
    int64_t voxelCount = 0;
    const bool scaled = volume.slope != 1.0 || volume.intercept != 0.0;
    const bool overflowed = withSampleType(volume.type, [&](auto* tag) {
        using T = std::remove_pointer_t<decltype(tag)>;
        const T* data = reinterpret_cast<const T*>(sampleBytes(volume));
        auto valueAt = [&](int64_t i, int64_t j, int64_t k) {
            const double v =
                double(data[i * volume.strides[0] + j * volume.strides[1] + k * volume.strides[2]]);
            return scaled ? volume.slope * v + volume.intercept : v;
        };
        for (int64_t z = 0; z < cubes[2]; ++z) {
            const int64_t ks[2] = {w[2].below[size_t(z)], w[2].above[size_t(z)]};
            const double wz[2] = {1 - w[2].toAbove[size_t(z)], w[2].toAbove[size_t(z)]};
            for (int64_t y = 0; y < cubes[1]; ++y) {
                const int64_t js[2] = {w[1].below[size_t(y)], w[1].above[size_t(y)]};
                const double wy[2] = {1 - w[1].toAbove[size_t(y)], w[1].toAbove[size_t(y)]};
                bool any = false;
                for (int c = 0; c < 4; ++c)
                    any = any || rowPasses[size_t(ks[c >> 1] * volume.dims[1] + js[c & 1])];
                if (!any)
                    continue;
                for (int64_t x = 0; x < cubes[0]; ++x) {
                    const int64_t is[2] = {w[0].below[size_t(x)], w[0].above[size_t(x)]};
                    const double wx[2] = {1 - w[0].toAbove[size_t(x)], w[0].toAbove[size_t(x)]};
                    double mean = 0, passing = 0, passingSum = 0, heaviest = -1;
                    double labelValue = 0;
                    for (int c = 0; c < 8; ++c) {
                        const double weight = wx[c & 1] * wy[c >> 1 & 1] * wz[c >> 2];
                        const double v = valueAt(is[c & 1], js[c >> 1 & 1], ks[c >> 2]);
                        mean += weight * v;
                        if (!samplePasses(v, rule))
                            continue;
                        passing += weight;
                        passingSum += weight * v;
                        if (weight > heaviest) {
                            heaviest = weight;
                            labelValue = v;
                        }
                    }
                    double value;
                    if (rule.given) {
                        if (!samplePasses(mean, rule))
                            continue;
                        value = mean;
                    } else {
                        if (!(passing >= 0.5))
                            continue;
                        value = passingSum / passing;
                    }
                    if (++voxelCount > maxVoxels)
                        return true;
                    const int64_t cube[3] = {x, y, z};
                    for (int a = 0; a < 3; ++a)
                        out.positions.push_back(float(corner[a] + double(cube[a]) * size));
                    uint8_t rgb[3];
                    // A label is never a mean: the heaviest sample that
                    // passes names it (with a threshold, one passes when
                    // the mean does, since it lies between the samples).
                    valueColor(coloring, mode == ColorMode::labels ? labelValue : value, rgb);
                    out.colors.insert(out.colors.end(), rgb, rgb + 3);
                    if (byHeight)
                        heights.push_back(y);
                }
            }
        }
        return false;
    });
    if (overflowed) {
        grid = VoxelGrid();
        error = tooManyVoxelsReason(maxVoxels);
        return false;
    }
    out.voxelSize = float(size);
    grid.madeUpColors = byHeight;
    grid.hasLattice = true;
    grid.step = size;
    for (int a = 0; a < 3; ++a)
        grid.origin[a] = corner[a];
    colorByHeights(heights, out.colors.data());
    return true;
}
