#include "samples/volume_resample.h"

#include "samples/volume_scan.h"
#include "stages/cell_colors.h"
#include "stages/height_ramp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::vector<int64_t> cubeOfSample(int64_t samples, double spacing, double edge, int64_t& cubes) {
    std::vector<int64_t> cube(static_cast<size_t>(samples));
    double ratio = spacing / edge;
    for (int64_t i = 0; i < samples; ++i)
        cube[size_t(i)] = spacing == edge ? i : int64_t(std::floor((double(i) + 0.5) * ratio));
    cubes = samples > 0 ? cube.back() + 1 : 0;
    return cube;
}

std::string tooManyVoxelsReason(int64_t maxVoxels) {
    return "more than " + std::to_string(maxVoxels) +
           " voxels (raise --max-voxels or --threshold, or make the grid coarser with "
           "--voxel-size or --resolution)";
}

std::string voxelLimitReason(int64_t count, int64_t maxVoxels) {
    return std::to_string(count) + " voxels, more than " + std::to_string(maxVoxels) +
           " (raise --max-voxels, or make the grid coarser with --voxel-size or --resolution)";
}

namespace {

std::string number(double value) {
    char text[32];
    snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace

bool checkFloatPlacement(const SampleVolume& volume, double edge, const double corner[3],
                         const int64_t cubes[3], std::string& error) {
    const float size = float(edge);
    if (!std::isnormal(size)) {
        error = "the voxel size from " + volume.spacingSource + " (" + number(edge) + ") is too " +
                (std::isinf(size) ? "large" : "small") + " for a 32-bit float";
        return false;
    }
    for (int a = 0; a < 3; ++a) {
        const double ends[2] = {corner[a], corner[a] + double(cubes[a] - 1) * edge};
        for (int end = 0; end < 2; ++end) {
            const double at = ends[end], inward = end == 0 ? at + edge : at - edge;
            const bool outside = !std::isfinite(float(at));
            if (outside || (cubes[a] > 1 && float(inward) == float(at))) {
                error = "the positions from " + volume.positionSource + " reach " + number(at) +
                        " along " + "xyz"[a] +
                        (outside ? ", beyond a 32-bit float"
                                 : ", where voxels " + number(edge) +
                                       " apart fall on one 32-bit float");
                return false;
            }
        }
    }
    return true;
}

namespace {

// A colour sample's colour, false when it is empty: its alpha (RGBA) or
// its brightest channel (RGB) 0, or below --threshold when one is given.
template <typename T>
bool sampleColor(const T* at, const SampleVolume& volume, const ThresholdRule& rule,
                 uint8_t rgb[3]) {
    for (int c = 0; c < 3; ++c)
        rgb[c] = uint8_t(at[c * volume.channelStride]);
    const uint8_t level = volume.channels == 4 ? uint8_t(at[3 * volume.channelStride])
                                               : std::max({rgb[0], rgb[1], rgb[2]});
    return rule.given ? samplePasses(level, rule) : level != 0;
}

} // namespace

bool resampleToCubes(const SampleVolume& volume, const ThresholdRule& rule, ColorMode mode,
                     int64_t maxVoxels, VoxelGrid& grid, std::string& error) {
    grid = VoxelGrid();
    VoxelList& out = grid.voxels;
    const double edge = std::max({volume.spacing[0], volume.spacing[1], volume.spacing[2]});
    const bool isotropic =
        volume.spacing[0] == edge && volume.spacing[1] == edge && volume.spacing[2] == edge;
    // The centre of cube 0 along each axis: the volume's edge (half a sample
    // before sample 0's centre) plus half a cube.
    double corner[3];
    int64_t cubes[3];
    std::vector<int64_t> cubeOf[3];
    double samplesPerCube = 1;
    for (int a = 0; a < 3; ++a) {
        corner[a] = volume.origin[a] - 0.5 * volume.spacing[a] + 0.5 * edge;
        cubes[a] = volume.dims[a];
        if (!isotropic) {
            cubeOf[a] = cubeOfSample(volume.dims[a], volume.spacing[a], edge, cubes[a]);
            // At most this many samples along the axis share a cube.
            samplesPerCube *= std::ceil(edge / volume.spacing[a]) + 1;
            if (cubes[a] > maxGridCells || !(samplesPerCube <= double(1 << 24))) {
                error = "the volume's spacings differ too much to gather its samples into cubes";
                return false;
            }
        }
    }
    if (!checkFloatPlacement(volume, edge, corner, cubes, error))
        return false;
    // Colour samples bring their own colours: no range, no height.
    const bool colored = volume.channels > 1;
    ValueColoring coloring;
    if (!colored && !startValueColoring(volume, rule, mode, coloring))
        return true; // nothing passes: no voxels
    auto colorOf = [&](double value, uint8_t rgb[3]) { valueColor(coloring, value, rgb); };
    const bool byHeight = !colored && colorsByHeight(mode);
    std::vector<int64_t> heights; // each voxel's cube index along y, for height colours
    int64_t voxelCount = 0;
    auto emit = [&](const int64_t cube[3], const uint8_t rgb[3]) {
        for (int a = 0; a < 3; ++a)
            out.positions.push_back(float(corner[a] + double(cube[a]) * edge));
        out.colors.insert(out.colors.end(), rgb, rgb + 3);
        if (byHeight)
            heights.push_back(cube[1]);
    };

    int axes[3];
    memoryAxisOrder(volume, axes);
    const bool scaled = volume.slope != 1.0 || volume.intercept != 0.0;
    bool overflowed = false;
    // Every sample that passes is a cube of its own, or a share of one.
    CellColorSums sums;
    sums.maxCells = maxVoxels;
    forEachSampleRow(
        volume, [&](const auto* row, int64_t count, int64_t stride, int64_t outer, int64_t middle) {
            if (overflowed)
                return;
            int64_t sample[3];
            sample[axes[2]] = outer;
            sample[axes[1]] = middle;
            for (int64_t n = 0; n < count; ++n) {
                uint8_t rgb[3];
                if (colored) {
                    if (!sampleColor(row + n * stride, volume, rule, rgb))
                        continue;
                } else {
                    double value = double(row[n * stride]);
                    if (scaled)
                        value = volume.slope * value + volume.intercept;
                    if (!samplePasses(value, rule))
                        continue;
                    colorOf(value, rgb);
                }
                sample[axes[0]] = n;
                if (isotropic) {
                    if (++voxelCount > maxVoxels) {
                        overflowed = true;
                        return;
                    }
                    emit(sample, rgb);
                    continue;
                }
                addCellColor(sums,
                             packCell(cubeOf[0][size_t(sample[0])], cubeOf[1][size_t(sample[1])],
                                      cubeOf[2][size_t(sample[2])]),
                             rgb);
                if (sums.overflowed) {
                    overflowed = true;
                    return;
                }
            }
        });
    if (!isotropic && !overflowed) {
        mergeCellColors(sums);
        overflowed = sums.overflowed;
        if (!overflowed)
            cellsToVoxels(sums, corner, edge, grid);
        for (size_t n = 0; n < sums.cells.size() && byHeight && !overflowed; ++n) {
            int64_t cube[3];
            unpackCell(sums.cells[n].key, cube);
            heights.push_back(cube[1]);
        }
    }
    if (overflowed) {
        grid = VoxelGrid();
        error = tooManyVoxelsReason(maxVoxels);
        return false;
    }
    out.voxelSize = float(edge);
    grid.madeUpColors = byHeight;
    grid.hasLattice = true;
    grid.step = edge;
    for (int a = 0; a < 3; ++a)
        grid.origin[a] = corner[a];
    colorByHeights(heights, out.colors.data());
    return true;
}
