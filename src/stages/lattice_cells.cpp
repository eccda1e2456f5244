#include "stages/lattice_cells.h"

#include <algorithm>
#include <cmath>

namespace {

// The distance between floats around `value`.
double floatSpacing(double value) {
    const float magnitude = float(std::fabs(value));
    return double(std::nextafter(magnitude, INFINITY)) - double(magnitude);
}

// Bits for values 0 to `largest`.
int bitsFor(uint64_t largest) {
    int bits = 1;
    while (bits < 64 && (largest >> bits) != 0)
        ++bits;
    return bits;
}

// Walks a sorted key list for the keys at a fixed offset from the ones
// visited in increasing order: each cursor only moves forward.
struct NeighbourCursor {
    int64_t offset;
    size_t at;
};

bool occupied(const std::vector<CellEntry>& sorted, NeighbourCursor& cursor, uint64_t key) {
    const uint64_t wanted = key + uint64_t(cursor.offset);
    while (cursor.at < sorted.size() && sorted[cursor.at].key < wanted)
        ++cursor.at;
    return cursor.at < sorted.size() && sorted[cursor.at].key == wanted;
}

} // namespace

// Sorts by key, 16 bits a pass from the lowest, skipping digits that are the
// same in every key. Linear in the count where a comparison sort is not.
void sortCellEntries(std::vector<CellEntry>& entries, int keyBits) {
    if (entries.size() < 2)
        return;
    std::vector<CellEntry> other(entries.size());
    std::vector<size_t> counts(size_t(1) << 16);
    for (int shift = 0; shift < keyBits; shift += 16) {
        std::fill(counts.begin(), counts.end(), 0);
        for (const CellEntry& e : entries)
            ++counts[(e.key >> shift) & 0xffff];
        if (counts[(entries[0].key >> shift) & 0xffff] == entries.size())
            continue;
        size_t total = 0;
        for (size_t& c : counts) {
            const size_t n = c;
            c = total;
            total += n;
        }
        for (const CellEntry& e : entries)
            other[counts[(e.key >> shift) & 0xffff]++] = e;
        entries.swap(other);
    }
}

bool latticeCell(const VoxelGrid& grid, const float* p, int64_t cell[3]) {
    for (int k = 0; k < 3; ++k) {
        const double t = (double(p[k]) - grid.origin[k]) / grid.step;
        if (!(std::fabs(t) < 2147483648.0))
            return false; // not finite, or beyond any grid this program makes
        cell[k] = int64_t(std::llround(t));
        const double spacing = std::max(floatSpacing(double(p[k])), floatSpacing(grid.origin[k]));
        if (!(spacing <= grid.step / 32))
            return false;
        const double off = std::fabs(double(p[k]) - (grid.origin[k] + double(cell[k]) * grid.step));
        if (!(off <= std::max(grid.step * latticeTolerance, 8 * spacing)))
            return false;
    }
    return true;
}

bool sortLatticeKeys(const VoxelGrid& grid, LatticeKeys& keys, std::vector<uint32_t>& offLattice,
                     std::string& error) {
    const VoxelList& voxels = grid.voxels;
    const size_t count = voxels.colors.size() / 3;
    keys = LatticeKeys();
    offLattice.clear();
    if (!grid.hasLattice || !(grid.step > 0) || !std::isfinite(grid.step)) {
        for (size_t i = 0; i < count; ++i)
            offLattice.push_back(uint32_t(i));
        return true;
    }
    // Cells, and their range on each axis.
    std::vector<CellEntry>& entries = keys.entries;
    entries.reserve(count);
    std::vector<int64_t> cells;
    cells.reserve(3 * count);
    int64_t lo[3] = {INT64_MAX, INT64_MAX, INT64_MAX}, hi[3] = {INT64_MIN, INT64_MIN, INT64_MIN};
    for (size_t i = 0; i < count; ++i) {
        int64_t cell[3];
        if (!latticeCell(grid, &voxels.positions[3 * i], cell)) {
            offLattice.push_back(uint32_t(i));
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], cell[k]);
            hi[k] = std::max(hi[k], cell[k]);
        }
        cells.insert(cells.end(), cell, cell + 3);
        entries.push_back(CellEntry{0, uint32_t(i)});
    }
    if (entries.empty())
        return true;
    int keyBits = 0;
    for (int k = 0; k < 3; ++k) {
        keys.low[k] = lo[k];
        keys.high[k] = hi[k];
        keys.bits[k] = bitsFor(uint64_t(hi[k] - lo[k]) + 2);
        keyBits += keys.bits[k];
    }
    // Floats a 32nd of a step apart span at most 2^20 cells an axis, so the
    // keys fit; this holds them to it should that check ever change.
    if (keyBits > 64) {
        error = "the voxels are spread too far apart on their lattice";
        return false;
    }
    keys.unit[0] = uint64_t(1) << (keys.bits[1] + keys.bits[2]);
    keys.unit[1] = uint64_t(1) << keys.bits[2];
    keys.unit[2] = 1;
    for (size_t e = 0; e < entries.size(); ++e) {
        uint64_t key = 0;
        for (int k = 0; k < 3; ++k)
            key += uint64_t(cells[3 * e + size_t(k)] - lo[k] + 1) * keys.unit[k];
        entries[e].key = key;
    }
    std::vector<int64_t>().swap(cells);
    sortCellEntries(entries, keyBits);
    return true;
}

void keyCell(const LatticeKeys& keys, uint64_t key, int64_t cell[3]) {
    for (int k = 0; k < 3; ++k) {
        const uint64_t field = (key / keys.unit[k]) & ((uint64_t(1) << keys.bits[k]) - 1);
        cell[k] = int64_t(field) - 1 + keys.low[k];
    }
}

void faceNeighbourMasks(const LatticeKeys& keys, std::vector<uint8_t>& masks) {
    masks.assign(keys.entries.size(), 0);
    NeighbourCursor cursors[6];
    for (int k = 0; k < 3; ++k) {
        cursors[2 * k] = NeighbourCursor{-int64_t(keys.unit[k]), 0};
        cursors[2 * k + 1] = NeighbourCursor{int64_t(keys.unit[k]), 0};
    }
    for (size_t e = 0; e < keys.entries.size(); ++e) {
        uint8_t mask = 0;
        // Every cursor is advanced for every key, so that each keeps up.
        for (int c = 0; c < 6; ++c)
            if (occupied(keys.entries, cursors[c], keys.entries[e].key))
                mask |= uint8_t(1u << c);
        masks[e] = mask;
    }
}
