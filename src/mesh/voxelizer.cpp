#include "mesh/voxelizer.h"

#include "math/vec3.h"
#include "mesh/triangle_box.h"
#include "stages/cell_colors.h"
#include "stages/height_ramp.h"

#include <algorithm>
#include <cmath>

namespace {

// How far, in voxels, a cell's box is grown before it is tested against a
// triangle. The rounding of the double-precision test is below 1e-9 of a
// voxel for any grid this program accepts, so a triangle that touches a cell
// is never judged to miss it; what the margin adds is contacts within a
// millionth of a voxel.
constexpr double cellMargin = 1e-6;

struct Grid {
    double origin[3]; // the model's lowest corner: the centre of cell 0
    double size;
    int64_t cells[3];
};

struct Voxelizer {
    const SourceGeometry* source;
    Grid grid;
    std::vector<double> gridVertices; // vertices in cell units, cell i spans [i, i + 1]
    CellColorSums sums;
};

uint8_t toByte(double value) {
    if (!(value > 0.0))
        return 0;
    if (value >= 1.0)
        return 255;
    return uint8_t(std::lround(value * 255.0));
}

// Barycentric weights of the point of triangle (a, b, c) nearest to p, by the
// Voronoi regions of its vertices, edges and face. A degenerate triangle gets
// equal weights.
void nearestWeights(const double p[3], const double a[3], const double b[3], const double c[3],
                    double w[3]) {
    double ab[3], ac[3], ap[3], bp[3], cp[3];
    for (int k = 0; k < 3; ++k) {
        ab[k] = b[k] - a[k];
        ac[k] = c[k] - a[k];
        ap[k] = p[k] - a[k];
        bp[k] = p[k] - b[k];
        cp[k] = p[k] - c[k];
    }
    auto set = [w](double wa, double wb, double wc) { w[0] = wa, w[1] = wb, w[2] = wc; };
    double d1 = dot3(ab, ap), d2 = dot3(ac, ap);
    if (d1 <= 0 && d2 <= 0)
        return set(1, 0, 0);
    double d3 = dot3(ab, bp), d4 = dot3(ac, bp);
    if (d3 >= 0 && d4 <= d3)
        return set(0, 1, 0);
    double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0 && d1 - d3 > 0) {
        double t = d1 / (d1 - d3);
        return set(1 - t, t, 0);
    }
    double d5 = dot3(ab, cp), d6 = dot3(ac, cp);
    if (d6 >= 0 && d5 <= d6)
        return set(0, 0, 1);
    double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0 && d2 - d6 > 0) {
        double t = d2 / (d2 - d6);
        return set(1 - t, 0, t);
    }
    double va = d3 * d6 - d5 * d4;
    if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0 && (d4 - d3) + (d5 - d6) > 0) {
        double t = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return set(0, 1 - t, t);
    }
    double sum = va + vb + vc;
    if (!(sum > 0) || !std::isfinite(sum))
        return set(1.0 / 3, 1.0 / 3, 1.0 / 3);
    return set(va / sum, vb / sum, vc / sum);
}

void interpolatedColor(const Voxelizer& v, const uint32_t idx[3], const double w[3],
                       uint8_t rgb[3]) {
    const std::vector<float>& colors = v.source->colors;
    for (int k = 0; k < 3; ++k) {
        double value = 0;
        for (int corner = 0; corner < 3; ++corner)
            value += w[corner] * colors[3 * size_t(idx[corner]) + k];
        rgb[k] = toByte(value);
    }
}

// Marks every cell in [lo, hi] (inclusive) that the triangle touches, halving
// the block along its longest side while the triangle still touches it.
void markBlock(Voxelizer& v, const uint32_t idx[3], const int64_t lo[3], const int64_t hi[3]) {
    if (v.sums.overflowed)
        return;
    const double* a = &v.gridVertices[3 * size_t(idx[0])];
    const double* b = &v.gridVertices[3 * size_t(idx[1])];
    const double* c = &v.gridVertices[3 * size_t(idx[2])];
    double center[3], half[3];
    for (int k = 0; k < 3; ++k) {
        center[k] = 0.5 * double(lo[k] + hi[k] + 1);
        half[k] = 0.5 * double(hi[k] - lo[k] + 1) + cellMargin;
    }
    if (!triangleBoxOverlap(center, half, a, b, c))
        return;
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (hi[k] - lo[k] > hi[axis] - lo[axis])
            axis = k;
    if (hi[axis] == lo[axis]) {
        double w[3];
        nearestWeights(center, a, b, c, w);
        uint8_t rgb[3];
        interpolatedColor(v, idx, w, rgb);
        addCellColor(v.sums, packCell(lo[0], lo[1], lo[2]), rgb);
        return;
    }
    int64_t middle = lo[axis] + (hi[axis] - lo[axis]) / 2;
    int64_t firstHi[3] = {hi[0], hi[1], hi[2]};
    int64_t secondLo[3] = {lo[0], lo[1], lo[2]};
    firstHi[axis] = middle;
    secondLo[axis] = middle + 1;
    markBlock(v, idx, lo, firstHi);
    markBlock(v, idx, secondLo, hi);
}

void markTriangle(Voxelizer& v, const uint32_t idx[3]) {
    int64_t lo[3], hi[3];
    for (int k = 0; k < 3; ++k) {
        double low = v.gridVertices[3 * size_t(idx[0]) + k];
        double high = low;
        for (int corner = 1; corner < 3; ++corner) {
            double value = v.gridVertices[3 * size_t(idx[corner]) + k];
            low = std::min(low, value);
            high = std::max(high, value);
        }
        lo[k] = std::max<int64_t>(0, int64_t(std::floor(low - cellMargin)));
        hi[k] = std::min<int64_t>(v.grid.cells[k] - 1, int64_t(std::floor(high + cellMargin)));
        if (lo[k] > hi[k])
            return;
    }
    markBlock(v, idx, lo, hi);
}

bool fail(std::string& error, const std::string& message) {
    error = message;
    return false;
}

// The elements that are drawn: those whose vertices all have finite
// coordinates.
struct Elements {
    std::vector<uint32_t> triangles, lines, points;
};

bool checkSource(const SourceGeometry& source, std::string& error) {
    const size_t vertexCount = source.vertices.size() / 3;
    if (source.triangles.empty() && source.lines.empty() && source.points.empty())
        return fail(error, "no triangles, lines or points to voxelise");
    if (source.colors.size() != source.vertices.size())
        return fail(error, "vertex colours do not match the vertices");
    for (const std::vector<uint32_t>* list : {&source.triangles, &source.lines, &source.points})
        for (uint32_t index : *list)
            if (index >= vertexCount)
                return fail(error, "a face refers to a vertex that does not exist");
    return true;
}

// Scanners mark samples without a return by coordinates that are not
// numbers; whatever uses such a vertex is left out and counted.
Elements keepFiniteElements(const SourceGeometry& source, int64_t& skipped) {
    const size_t vertexCount = source.vertices.size() / 3;
    std::vector<bool> finite(vertexCount, true);
    for (size_t i = 0; i < vertexCount; ++i)
        for (int k = 0; k < 3; ++k)
            if (!std::isfinite(source.vertices[3 * i + k]))
                finite[i] = false;
    auto keepFinite = [&](const std::vector<uint32_t>& list, size_t arity) {
        std::vector<uint32_t> kept;
        kept.reserve(list.size());
        for (size_t e = 0; e + arity <= list.size(); e += arity) {
            bool ok = true;
            for (size_t k = 0; k < arity; ++k)
                ok = ok && finite[list[e + k]];
            if (ok)
                kept.insert(kept.end(), list.begin() + e, list.begin() + e + arity);
            else
                ++skipped;
        }
        return kept;
    };
    skipped = 0;
    Elements kept;
    kept.triangles = keepFinite(source.triangles, 3);
    kept.lines = keepFinite(source.lines, 2);
    kept.points = keepFinite(source.points, 1);
    return kept;
}

// Which vertices the elements use, and the box of those.
std::vector<bool> usedVertices(const SourceGeometry& source, const Elements& elements, double lo[3],
                               double hi[3]) {
    const size_t vertexCount = source.vertices.size() / 3;
    std::vector<bool> used(vertexCount, false);
    for (const std::vector<uint32_t>* list :
         {&elements.triangles, &elements.lines, &elements.points})
        for (uint32_t index : *list)
            used[index] = true;
    for (int k = 0; k < 3; ++k)
        lo[k] = INFINITY, hi[k] = -INFINITY;
    for (size_t i = 0; i < vertexCount; ++i) {
        if (!used[i])
            continue;
        for (int k = 0; k < 3; ++k) {
            double value = source.vertices[3 * i + k];
            lo[k] = std::min(lo[k], value);
            hi[k] = std::max(hi[k], value);
        }
    }
    return used;
}

// The grid through the box's lowest corner, of the size the options ask for.
bool chooseGrid(const GridOptions& options, const double lo[3], const double hi[3], Grid& grid,
                std::string& error) {
    double longest = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    if (options.voxelSize > 0) {
        grid.size = options.voxelSize;
    } else {
        if (options.resolution < 2 || options.resolution > maxGridCells)
            return fail(error,
                        "the resolution must be between 2 and " + std::to_string(maxGridCells));
        // Cell centres run from the lowest to the highest corner: n cells
        // span n - 1 steps.
        grid.size = longest > 0 ? longest / double(options.resolution - 1) : 1.0;
    }
    if (!(float(grid.size) > 0) || !std::isfinite(float(grid.size)))
        return fail(error, "the voxel size does not fit a 32-bit float");
    for (int k = 0; k < 3; ++k) {
        grid.origin[k] = lo[k];
        double cells = std::floor((hi[k] - lo[k]) / grid.size + 0.5) + 1;
        if (!(cells <= double(maxGridCells))) {
            char text[64];
            snprintf(text, sizeof text, "%.0f", cells);
            return fail(error, std::string("the grid would be ") + text + " voxels long (at most " +
                                   std::to_string(maxGridCells) +
                                   "); choose a larger --voxel-size");
        }
        grid.cells[k] = int64_t(cells);
    }
    return true;
}

// Cell i spans [i, i + 1] in grid units, its centre i + 0.5 lying on the
// lattice through the lowest corner.
void toGridUnits(Voxelizer& v, const std::vector<bool>& used) {
    const std::vector<float>& vertices = v.source->vertices;
    v.gridVertices.resize(vertices.size());
    for (size_t i = 0; i < used.size(); ++i)
        for (int k = 0; k < 3; ++k)
            v.gridVertices[3 * i + k] =
                used[i] ? (double(vertices[3 * i + k]) - v.grid.origin[k]) / v.grid.size + 0.5
                        : 0.0;
}

void markElements(Voxelizer& v, const Elements& elements) {
    const std::vector<uint32_t>& triangles = elements.triangles;
    const std::vector<uint32_t>& lines = elements.lines;
    const std::vector<uint32_t>& points = elements.points;
    for (size_t t = 0; t + 2 < triangles.size() && !v.sums.overflowed; t += 3)
        markTriangle(v, &triangles[t]);
    for (size_t s = 0; s + 1 < lines.size() && !v.sums.overflowed; s += 2) {
        const uint32_t segment[3] = {lines[s], lines[s + 1], lines[s + 1]};
        markTriangle(v, segment);
    }
    for (size_t p = 0; p < points.size() && !v.sums.overflowed; ++p) {
        uint32_t index = points[p];
        int64_t cell[3];
        for (int k = 0; k < 3; ++k)
            cell[k] = std::clamp<int64_t>(
                int64_t(std::floor(v.gridVertices[3 * size_t(index) + k])), 0, v.grid.cells[k] - 1);
        uint8_t rgb[3];
        for (int k = 0; k < 3; ++k)
            rgb[k] = toByte(v.source->colors[3 * size_t(index) + k]);
        addCellColor(v.sums, packCell(cell[0], cell[1], cell[2]), rgb);
    }
    if (!v.sums.overflowed)
        mergeCellColors(v.sums);
}

// The fewest voxels one element needs on the grid, in grid units. The cells
// a triangle touches are unit cubes that cover it: their shadows on an axis
// plane cover its shadow there, so they number at least its projected area,
// and a plane cuts a unit cube in at most sqrt(2), so at least its area over
// that. A segment's cells cover its extent along each axis.
double leastCellsOf(const Voxelizer& v, const uint32_t* corners, int arity) {
    const double* a = &v.gridVertices[3 * size_t(corners[0])];
    const double* b = &v.gridVertices[3 * size_t(corners[1])];
    double ab[3];
    for (int k = 0; k < 3; ++k)
        ab[k] = b[k] - a[k];
    if (arity == 2)
        return std::max({std::fabs(ab[0]), std::fabs(ab[1]), std::fabs(ab[2])});
    const double* c = &v.gridVertices[3 * size_t(corners[2])];
    double ac[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]}, normal[3];
    cross3(ab, ac, normal);
    return 0.5 * std::max({std::fabs(normal[0]), std::fabs(normal[1]), std::fabs(normal[2]),
                           length3(normal[0], normal[1], normal[2]) / std::sqrt(2.0)});
}

// Whether the largest element alone needs more than maxVoxels cells: then
// the grid cannot be made and is refused before any cell is marked. The
// slack covers the rounding of the area and of vertices on the grid's edge.
bool provablyTooManyCells(const Voxelizer& v, const Elements& elements, int64_t maxVoxels) {
    double least = 0;
    for (size_t t = 0; t + 2 < elements.triangles.size(); t += 3)
        least = std::max(least, leastCellsOf(v, &elements.triangles[t], 3));
    for (size_t s = 0; s + 1 < elements.lines.size(); s += 2)
        least = std::max(least, leastCellsOf(v, &elements.lines[s], 2));
    return least > double(maxVoxels) * (1 + 1e-6) + 16;
}

// One voxel per cell that was met, on the grid's lattice: the mean of its
// colours, or the height ramp for a source without colours.
void emitVoxels(const Voxelizer& v, VoxelGrid& result) {
    const Grid& grid = v.grid;
    cellsToVoxels(v.sums, grid.origin, grid.size, result);
    if (v.source->hasColors)
        return;
    result.madeUpColors = true;
    for (size_t n = 0; n < v.sums.cells.size(); ++n) {
        int64_t cell[3];
        unpackCell(v.sums.cells[n].key, cell);
        heightRampColor(grid.cells[1] > 1 ? double(cell[1]) / double(grid.cells[1] - 1) : 0.0,
                        &result.voxels.colors[3 * n]);
    }
}

} // namespace

bool voxelizeGeometry(const SourceGeometry& source, const GridOptions& options, VoxelList& out,
                      int64_t& skipped, std::string& error) {
    VoxelGrid grid;
    if (!voxelizeGeometry(source, options, grid, skipped, error))
        return false;
    out = std::move(grid.voxels);
    return true;
}

bool voxelizeGeometry(const SourceGeometry& source, const GridOptions& options, VoxelGrid& result,
                      int64_t& skipped, std::string& error) {
    skipped = 0;
    if (!checkSource(source, error))
        return false;
    const Elements elements = keepFiniteElements(source, skipped);
    if (elements.triangles.empty() && elements.lines.empty() && elements.points.empty())
        return fail(error, "no triangle, line or point has finite coordinates");
    double lo[3], hi[3];
    const std::vector<bool> used = usedVertices(source, elements, lo, hi);
    Voxelizer v;
    v.source = &source;
    v.sums.maxCells = options.maxVoxels;
    if (!chooseGrid(options, lo, hi, v.grid, error))
        return false;
    toGridUnits(v, used);
    const bool tooMany = provablyTooManyCells(v, elements, options.maxVoxels);
    if (!tooMany)
        markElements(v, elements);
    if (tooMany || v.sums.overflowed)
        return fail(error, "more than " + std::to_string(options.maxVoxels) +
                               " voxels; choose a larger --voxel-size or a smaller "
                               "--resolution, or raise --max-voxels");
    emitVoxels(v, result);
    return true;
}
