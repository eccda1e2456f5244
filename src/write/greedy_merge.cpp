#include "write/greedy_merge.h"

#include <cstring>

namespace {

// The faces of one direction, sorted by plane, then row (v), then u, with
// the bit fields of their packed keys.
struct PlaneFaces {
    std::vector<CellEntry> items; // key: plane, v, u; index: entry in the lattice keys
    int uBits, vBits;
    uint64_t uOf(size_t i) const {
        return items[i].key & ((uint64_t(1) << uBits) - 1);
    }
    uint64_t rowOf(size_t i) const {
        return items[i].key >> uBits;
    }
    // The first face from `begin` to `end` (one row) at u or beyond.
    size_t find(size_t begin, size_t end, uint64_t u) const {
        while (end > begin) {
            const size_t middle = begin + (end - begin) / 2;
            if (uOf(middle) < u)
                begin = middle + 1;
            else
                end = middle;
        }
        return begin;
    }
};

uint64_t keyField(const LatticeKeys& keys, uint64_t key, int axis) {
    return (key / keys.unit[axis]) & ((uint64_t(1) << keys.bits[axis]) - 1);
}

void gatherPlaneFaces(const ExposedFaces& faces, int face, PlaneFaces& plane) {
    const LatticeKeys& keys = faces.keys;
    int u, v;
    faceAxes(face, u, v);
    const int axis = faceAxis[face];
    plane.uBits = keys.bits[u];
    plane.vBits = keys.bits[v];
    plane.items.clear();
    for (size_t e = 0; e < keys.entries.size(); ++e) {
        if (!(faces.faces[e] & (1u << face)))
            continue;
        const uint64_t key = keys.entries[e].key;
        const uint64_t packed = (keyField(keys, key, axis) << (plane.uBits + plane.vBits)) |
                                (keyField(keys, key, v) << plane.uBits) | keyField(keys, key, u);
        plane.items.push_back(CellEntry{packed, uint32_t(e)});
    }
    sortCellEntries(plane.items, keys.bits[0] + keys.bits[1] + keys.bits[2]);
}

} // namespace

void faceAxes(int face, int& u, int& v) {
    const int axis = faceAxis[face];
    u = axis == 0 ? 1 : 0;
    v = axis == 2 ? 1 : 2;
}

void mergeFaces(const VoxelGrid& grid, const ExposedFaces& faces, MergeRule rule, MergedFaces& out,
                void (*step)(int done)) {
    out = MergedFaces();
    const LatticeKeys& keys = faces.keys;
    const uint8_t* colors = grid.voxels.colors.data();
    PlaneFaces plane;
    std::vector<uint8_t> used;
    std::vector<size_t> rowStart;
    for (int face = 0; face < 6; ++face) {
        gatherPlaneFaces(faces, face, plane);
        const size_t n = plane.items.size();
        used.assign(n, 0);
        rowStart.clear();
        for (size_t i = 0; i < n; ++i)
            if (i == 0 || plane.rowOf(i) != plane.rowOf(i - 1))
                rowStart.push_back(i);
        rowStart.push_back(n);
        const size_t rows = rowStart.size() - 1;
        auto colorOf = [&](size_t i) {
            return colors + 3 * size_t(keys.entries[plane.items[i].index].index);
        };
        for (size_t r = 0; r < rows; ++r) {
            for (size_t i = rowStart[r]; i < rowStart[r + 1]; ++i) {
                if (used[i])
                    continue;
                const uint8_t* first = colorOf(i);
                auto fits = [&](size_t j) {
                    return !used[j] &&
                           (rule == MergeRule::anyColour || memcmp(colorOf(j), first, 3) == 0);
                };
                const uint64_t u0 = plane.uOf(i);
                // Along the row as far as the faces go.
                size_t width = 1;
                while (i + width < rowStart[r + 1] && plane.uOf(i + width) == u0 + width &&
                       fits(i + width))
                    ++width;
                // Over the next rows while each holds the whole run.
                size_t height = 1;
                for (size_t below = r + 1; below < rows; ++below, ++height) {
                    const size_t begin = rowStart[below], end = rowStart[below + 1];
                    if (plane.rowOf(begin) != plane.rowOf(i) + height)
                        break;
                    const size_t j = plane.find(begin, end, u0);
                    bool whole = j + width <= end;
                    for (size_t k = 0; whole && k < width; ++k)
                        whole = plane.uOf(j + k) == u0 + k && fits(j + k);
                    if (!whole)
                        break;
                }
                FaceRect rect;
                keyCell(keys, keys.entries[plane.items[i].index].key, rect.cell);
                rect.width = int32_t(width);
                rect.height = int32_t(height);
                rect.face = uint8_t(face);
                rect.colorOffset = out.colors.size();
                rect.uniform = true;
                // Rows of the rectangle are rows r, r + 1, ... of the plane.
                for (size_t h = 0; h < height; ++h) {
                    const size_t j = plane.find(rowStart[r + h], rowStart[r + h + 1], u0);
                    for (size_t k = 0; k < width; ++k) {
                        used[j + k] = 1;
                        const uint8_t* c = colorOf(j + k);
                        rect.uniform = rect.uniform && memcmp(c, first, 3) == 0;
                        out.colors.insert(out.colors.end(), c, c + 3);
                    }
                }
                if (rect.uniform)
                    out.colors.resize(rect.colorOffset + 3);
                out.rects.push_back(rect);
            }
        }
        if (step)
            step(face + 1);
    }
}
