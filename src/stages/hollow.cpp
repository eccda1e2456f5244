#include "stages/hollow.h"

#include "stages/lattice_cell.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// A voxel on the lattice: its cell packed into one key, and where it is.
struct CellEntry {
    uint64_t key;
    uint32_t index;
};

// Bits for values 0 to `largest`.
int bitsFor(uint64_t largest) {
    int bits = 1;
    while (bits < 64 && (largest >> bits) != 0)
        ++bits;
    return bits;
}

// Sorts by key, 16 bits a pass from the lowest, skipping digits that are the
// same in every key. Linear in the count where a comparison sort is not.
void sortByKey(std::vector<CellEntry>& entries, int keyBits) {
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

bool hollowGrid(VoxelGrid& grid, int64_t& offLattice, std::string& error) {
    VoxelList& voxels = grid.voxels;
    const size_t count = voxels.colors.size() / 3;
    offLattice = 0;
    if (!grid.hasLattice || !(grid.step > 0) || !std::isfinite(grid.step)) {
        offLattice = int64_t(count);
        return true;
    }
    // Cells, and their range on each axis.
    std::vector<CellEntry> entries;
    entries.reserve(count);
    std::vector<int64_t> cells;
    cells.reserve(3 * count);
    int64_t lo[3] = {INT64_MAX, INT64_MAX, INT64_MAX}, hi[3] = {INT64_MIN, INT64_MIN, INT64_MIN};
    for (size_t i = 0; i < count; ++i) {
        int64_t cell[3];
        if (!latticeCell(grid, &voxels.positions[3 * i], cell)) {
            ++offLattice;
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
    // Each axis gets the bits for its range with a free value either side,
    // so a neighbour's key is the key plus or minus one unit of an axis and
    // never carries into the next axis.
    int bits[3], keyBits = 0;
    for (int k = 0; k < 3; ++k) {
        bits[k] = bitsFor(uint64_t(hi[k] - lo[k]) + 2);
        keyBits += bits[k];
    }
    // Floats a 32nd of a step apart span at most 2^20 cells an axis, so the
    // keys fit; this holds them to it should that check ever change.
    if (keyBits > 64) {
        error = "the voxels are spread too far apart on their lattice to be hollowed";
        return false;
    }
    const uint64_t unit[3] = {uint64_t(1) << (bits[1] + bits[2]), uint64_t(1) << bits[2], 1};
    for (size_t e = 0; e < entries.size(); ++e) {
        uint64_t key = 0;
        for (int k = 0; k < 3; ++k)
            key += uint64_t(cells[3 * e + size_t(k)] - lo[k] + 1) * unit[k];
        entries[e].key = key;
    }
    std::vector<int64_t>().swap(cells);
    sortByKey(entries, keyBits);

    std::vector<uint8_t> hidden(count, 0);
    NeighbourCursor cursors[6];
    for (int k = 0; k < 3; ++k) {
        cursors[2 * k] = NeighbourCursor{-int64_t(unit[k]), 0};
        cursors[2 * k + 1] = NeighbourCursor{int64_t(unit[k]), 0};
    }
    for (const CellEntry& e : entries) {
        bool enclosed = true;
        // Every cursor is advanced for every key, so that each keeps up.
        for (NeighbourCursor& cursor : cursors)
            enclosed = occupied(entries, cursor, e.key) && enclosed;
        hidden[e.index] = enclosed;
    }
    std::vector<CellEntry>().swap(entries);

    // Keep the others in their order, moved down in place.
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        if (hidden[i])
            continue;
        if (kept != i) {
            std::copy_n(&voxels.positions[3 * i], 3, &voxels.positions[3 * kept]);
            std::copy_n(&voxels.colors[3 * i], 3, &voxels.colors[3 * kept]);
        }
        ++kept;
    }
    voxels.positions.resize(3 * kept);
    voxels.colors.resize(3 * kept);
    return true;
}
