#include "stages/shade.h"

#include "stages/lattice_cells.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Cells are held 4 x 4 x 4 to a 64-bit mask, the masks in an open-addressed
// table by block: a dense volume costs a bit a cell, a thin surface a few
// bytes a voxel, and a neighbourhood is a handful of lookups.
struct BlockTable {
    std::vector<uint64_t> keys; // packed block + 1; 0 is a free slot
    std::vector<uint64_t> masks;
    uint64_t slotMask = 0;
};

uint64_t blockKey(const int64_t block[3]) {
    return (uint64_t(block[0]) << 42 | uint64_t(block[1]) << 21 | uint64_t(block[2])) + 1;
}

size_t slotOf(const BlockTable& table, uint64_t key) {
    size_t slot = size_t((key * 0x9E3779B97F4A7C15ull) >> 20) & table.slotMask;
    while (table.keys[slot] != 0 && table.keys[slot] != key)
        slot = (slot + 1) & table.slotMask;
    return slot;
}

// Moves the blocks to a table of `slots` slots (a power of two).
void resizeTable(BlockTable& table, size_t slots) {
    BlockTable grown;
    grown.keys.assign(slots, 0);
    grown.masks.assign(slots, 0);
    grown.slotMask = slots - 1;
    for (size_t s = 0; s < table.keys.size(); ++s)
        if (table.keys[s] != 0) {
            const size_t slot = slotOf(grown, table.keys[s]);
            grown.keys[slot] = table.keys[s];
            grown.masks[slot] = table.masks[s];
        }
    table = std::move(grown);
}

int bitOf(const int64_t cell[3]) {
    return int(cell[0] & 3) | int(cell[1] & 3) << 2 | int(cell[2] & 3) << 4;
}

// One bit for each cell of a box, x fastest.
struct BoxBits {
    int64_t dims[3] = {0, 0, 0};
    std::vector<uint64_t> words;
};

uint64_t boxIndex(const BoxBits& box, int64_t x, int64_t y, int64_t z) {
    return uint64_t((z * box.dims[1] + y) * box.dims[0] + x);
}

bool boxBit(const BoxBits& box, uint64_t at) {
    return (box.words[at >> 6] >> (at & 63) & 1) != 0;
}

void setBoxBit(BoxBits& box, uint64_t at) {
    box.words[at >> 6] |= uint64_t(1) << (at & 63);
}

// The empty cells of the box reachable from its corner through empty face
// neighbours: the outside, which light can come from. The box has a margin
// of empty cells all round the voxels, so the corner reaches all of it.
BoxBits outsideCells(const BlockTable& table, const int64_t dims[3]) {
    BoxBits occupied, outside;
    std::copy(dims, dims + 3, occupied.dims);
    std::copy(dims, dims + 3, outside.dims);
    const size_t words = size_t((dims[0] * dims[1] * dims[2] + 63) / 64);
    occupied.words.assign(words, 0);
    outside.words.assign(words, 0);
    const uint64_t mask21 = (uint64_t(1) << 21) - 1;
    for (size_t s = 0; s < table.keys.size(); ++s) {
        if (table.keys[s] == 0)
            continue;
        const uint64_t key = table.keys[s] - 1;
        const int64_t block[3] = {int64_t(key >> 42), int64_t(key >> 21 & mask21),
                                  int64_t(key & mask21)};
        for (uint64_t bits = table.masks[s]; bits != 0; bits &= bits - 1) {
            const int bit = __builtin_ctzll(bits);
            setBoxBit(occupied, boxIndex(occupied, 4 * block[0] + (bit & 3),
                                         4 * block[1] + (bit >> 2 & 3), 4 * block[2] + (bit >> 4)));
        }
    }
    // Breadth first: the queue holds a front, a few faces of the box.
    std::vector<uint64_t> queue = {0};
    setBoxBit(outside, 0);
    size_t head = 0;
    const int64_t step[3] = {1, dims[0], dims[0] * dims[1]};
    while (head < queue.size()) {
        const uint64_t at = queue[head++];
        const int64_t cell[3] = {int64_t(at % uint64_t(dims[0])),
                                 int64_t(at / uint64_t(dims[0]) % uint64_t(dims[1])),
                                 int64_t(at / uint64_t(dims[0] * dims[1]))};
        for (int k = 0; k < 3; ++k)
            for (int side = -1; side <= 1; side += 2) {
                const int64_t to = cell[k] + side;
                if (to < 0 || to >= dims[k])
                    continue;
                const uint64_t next = uint64_t(int64_t(at) + side * step[k]);
                if (boxBit(occupied, next) || boxBit(outside, next))
                    continue;
                setBoxBit(outside, next);
                queue.push_back(next);
            }
        if (head > (size_t(1) << 20) && 2 * head > queue.size()) {
            queue.erase(queue.begin(), queue.begin() + std::ptrdiff_t(head));
            head = 0;
        }
    }
    return outside;
}

// The offsets within shadeRadius of a cell, itself left out.
std::vector<int> neighbourhood() {
    std::vector<int> offsets;
    const int r = shadeRadius;
    for (int z = -r; z <= r; ++z)
        for (int y = -r; y <= r; ++y)
            for (int x = -r; x <= r; ++x)
                if ((x || y || z) && x * x + y * y + z * z <= r * r) {
                    offsets.push_back(x);
                    offsets.push_back(y);
                    offsets.push_back(z);
                }
    return offsets;
}

} // namespace

double shadeFactor(const double normal[3], double openness) {
    // Light from above, in front and from the viewer's left, wrapped round
    // so that a side facing away is dim but never black.
    const double light[3] = {-0.45, 0.8, 0.4};
    const double lightLength =
        std::sqrt(light[0] * light[0] + light[1] * light[1] + light[2] * light[2]);
    double facing = 0;
    for (int k = 0; k < 3; ++k)
        facing += normal[k] * light[k] / lightLength;
    // Squared, so that the turn of a surface shows as much as a lit one.
    const double half = 0.5 + 0.5 * facing;
    const double diffuse = half * half;
    const double enclosure = std::clamp(openness, 0.0, 1.0);
    return shadeFloor + (1 - shadeFloor) * diffuse * (0.55 + 0.45 * enclosure);
}

bool colorsCarryNoShape(const VoxelGrid& grid) {
    if (grid.madeUpColors)
        return true;
    const std::vector<uint8_t>& colors = grid.voxels.colors;
    for (size_t i = 3; i < colors.size(); ++i)
        if (colors[i] != colors[i % 3])
            return false;
    return true;
}

bool shadeGrid(VoxelGrid& grid, int64_t& offLattice, std::string& error, int64_t outsideBitsLimit) {
    VoxelList& voxels = grid.voxels;
    const size_t count = voxels.colors.size() / 3;
    offLattice = 0;
    if (!grid.hasLattice || !(grid.step > 0) || !std::isfinite(grid.step)) {
        offLattice = int64_t(count);
        return true;
    }
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
    }
    if (size_t(offLattice) == count)
        return true;
    for (int k = 0; k < 3; ++k)
        if (hi[k] - lo[k] >= int64_t(1) << 22) {
            error = "the voxels are spread too far apart on their lattice to be shaded";
            return false;
        }
    // Cells are counted from a margin of the neighbourhood below the lowest,
    // so that every cell looked at has a block of non-negative coordinates.
    auto shifted = [&](size_t i, int64_t cell[3]) {
        if (!latticeCell(grid, &voxels.positions[3 * i], cell))
            return false;
        for (int k = 0; k < 3; ++k)
            cell[k] += shadeRadius - lo[k];
        return true;
    };

    BlockTable table;
    resizeTable(table, 1024);
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        int64_t cell[3];
        if (!shifted(i, cell))
            continue;
        const int64_t block[3] = {cell[0] >> 2, cell[1] >> 2, cell[2] >> 2};
        const uint64_t key = blockKey(block);
        size_t slot = slotOf(table, key);
        if (table.keys[slot] == 0) {
            // At most half full keeps the probes short.
            if (2 * (used + 1) > table.keys.size()) {
                resizeTable(table, 2 * table.keys.size());
                slot = slotOf(table, key);
            }
            table.keys[slot] = key;
            ++used;
        }
        table.masks[slot] |= uint64_t(1) << bitOf(cell);
    }
    auto maskAt = [&](const int64_t block[3]) -> uint64_t {
        const size_t slot = slotOf(table, blockKey(block));
        return table.keys[slot] != 0 ? table.masks[slot] : 0;
    };
    // The box of the shifted cells with the margin on both sides.
    const int64_t box[3] = {hi[0] - lo[0] + 2 * shadeRadius + 1,
                            hi[1] - lo[1] + 2 * shadeRadius + 1,
                            hi[2] - lo[2] + 2 * shadeRadius + 1};
    const long double boxCells = (long double)box[0] * box[1] * box[2];
    const int64_t limit = outsideBitsLimit >= 0
                              ? outsideBitsLimit
                              : std::max(int64_t(1) << 27, int64_t(64) * int64_t(count));
    BoxBits outside;
    if (boxCells <= (long double)limit)
        outside = outsideCells(table, box);
    const bool outsideKnown = !outside.words.empty();

    const std::vector<int> offsets = neighbourhood();
    const size_t offsetCount = offsets.size() / 3;
    // A flat surface has the cells above it empty: the openness it shows
    // counts as fully open.
    size_t flatOpen = 0;
    for (size_t n = 0; n < offsetCount; ++n)
        flatOpen += offsets[3 * n + 1] > 0;
    // The blocks a neighbourhood can reach: three along each axis at most.
    constexpr int span = 3;
    for (size_t i = 0; i < count; ++i) {
        int64_t cell[3];
        if (!shifted(i, cell))
            continue;
        int64_t first[3];
        for (int k = 0; k < 3; ++k)
            first[k] = (cell[k] - shadeRadius) >> 2;
        uint64_t masks[span][span][span];
        for (int z = 0; z < span; ++z)
            for (int y = 0; y < span; ++y)
                for (int x = 0; x < span; ++x) {
                    const int64_t block[3] = {first[0] + x, first[1] + y, first[2] + z};
                    masks[z][y][x] = block[0] <= (cell[0] + shadeRadius) >> 2 &&
                                             block[1] <= (cell[1] + shadeRadius) >> 2 &&
                                             block[2] <= (cell[2] + shadeRadius) >> 2
                                         ? maskAt(block)
                                         : 0;
                }
        auto occupied = [&](int dx, int dy, int dz) {
            const int64_t at[3] = {cell[0] + dx, cell[1] + dy, cell[2] + dz};
            const uint64_t mask =
                masks[(at[2] >> 2) - first[2]][(at[1] >> 2) - first[1]][(at[0] >> 2) - first[0]];
            return (mask >> bitOf(at) & 1) != 0;
        };
        double factor = shadeFloor;
        const bool enclosed = occupied(-1, 0, 0) && occupied(1, 0, 0) && occupied(0, -1, 0) &&
                              occupied(0, 1, 0) && occupied(0, 0, -1) && occupied(0, 0, 1);
        if (!enclosed) {
            double toEmpty[3] = {0, 0, 0};
            size_t empty = 0;
            for (size_t n = 0; n < offsetCount; ++n) {
                const int* d = &offsets[3 * n];
                if (occupied(d[0], d[1], d[2]))
                    continue;
                // A cavity's cells (the inside of a closed shell) give no light.
                if (outsideKnown && !boxBit(outside, boxIndex(outside, cell[0] + d[0],
                                                              cell[1] + d[1], cell[2] + d[2])))
                    continue;
                ++empty;
                for (int k = 0; k < 3; ++k)
                    toEmpty[k] += d[k];
            }
            const double length = std::sqrt(toEmpty[0] * toEmpty[0] + toEmpty[1] * toEmpty[1] +
                                            toEmpty[2] * toEmpty[2]);
            double normal[3] = {0, 0, 0};
            if (length > 0)
                for (int k = 0; k < 3; ++k)
                    normal[k] = toEmpty[k] / length;
            factor = shadeFactor(normal, double(empty) / double(flatOpen));
        }
        uint8_t* rgb = &voxels.colors[3 * i];
        for (int k = 0; k < 3; ++k)
            rgb[k] = uint8_t(std::lround(double(rgb[k]) * factor));
    }
    return true;
}
