#include "samples/sample_stream.h"

#include "platform/second_thread.h"
#include "samples/volume_scan.h"
#include "stages/cell_colors.h"
#include "stages/height_ramp.h"
#include "stages/lattice_cells.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <vector>

bool streamableVolume(const SampleVolume& volume) {
    if (volume.channels != 1 || volume.storage.size() || volume.borrowed)
        return false;
    if (volume.spacing[0] != volume.spacing[1] || volume.spacing[1] != volume.spacing[2])
        return false;
    int axes[3];
    memoryAxisOrder(volume, axes);
    int64_t packed = 1;
    for (int a : axes) {
        if (std::llabs(volume.strides[a]) != packed || volume.dims[a] < 1)
            return false;
        packed *= volume.dims[a];
    }
    return true;
}

void cubePlacement(const SampleVolume& volume, double corner[3], double& edge) {
    edge = std::max({volume.spacing[0], volume.spacing[1], volume.spacing[2]});
    for (int a = 0; a < 3; ++a)
        corner[a] = volume.origin[a] - 0.5 * volume.spacing[a] + 0.5 * edge;
}

namespace {

// How the display slices along the slowest axis lie in the file.
struct Slices {
    int axes[3];     // fastest to slowest in memory
    int64_t size;    // bytes a sample
    int64_t first;   // samples from the file's first to display sample (0, 0, 0)
    int64_t spread;  // samples a slice spans
    int64_t lowest;  // from a slice's sample (0, 0) to its first in the file
    int64_t perSlab; // slices read at a time
};

Slices slicesOf(const SampleVolume& volume, const SampleSource& source) {
    Slices s;
    memoryAxisOrder(volume, s.axes);
    s.size = int64_t(sampleTypeSize(volume.type));
    s.first = int64_t(volume.offset) / s.size;
    s.spread = std::llabs(volume.strides[s.axes[2]]);
    s.lowest = 0;
    for (int n = 0; n < 2; ++n)
        s.lowest += std::min<int64_t>(0, (volume.dims[s.axes[n]] - 1) * volume.strides[s.axes[n]]);
    s.perSlab = source.slabSlices > 0 ? source.slabSlices
                                      : std::max<int64_t>(1, slabBytes / (s.spread * s.size));
    return s;
}

// Reads display slices [from, to) along the slowest axis into `buffer` and
// points `base` at their sample (0, 0, from), in this machine's byte order.
bool readSlices(const SampleVolume& volume, const Slices& s, const SampleSource& source,
                int64_t from, int64_t to, std::vector<uint8_t>& buffer, const uint8_t*& base,
                std::string& error) {
    const int64_t stride = volume.strides[s.axes[2]];
    const int64_t q0 = s.first + from * stride, q1 = s.first + (to - 1) * stride;
    const int64_t begin = std::min(q0, q1) + s.lowest;
    const int64_t end = std::max(q0, q1) + s.lowest + s.spread;
    const size_t bytes = size_t((end - begin) * s.size);
    buffer.resize(bytes);
    size_t done = 0;
    while (done < bytes) {
        const ssize_t got = pread(source.fd, buffer.data() + done, bytes - done,
                                  off_t(source.start + begin * s.size + int64_t(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? std::string("its samples cannot be read: ") + strerror(errno)
                            : "the file ends before its samples do (it has become shorter)";
            return false;
        }
        done += size_t(got);
    }
    toNativeByteOrder(buffer.data(), size_t(end - begin), size_t(s.size), source.bigEndian);
    base = buffer.data() + (q0 - begin) * s.size;
    return true;
}

// A view of slices read into memory: the volume's layout over `count`
// slices, its first at `base`.
SampleVolume slabView(const SampleVolume& volume, const Slices& s, const uint8_t* base,
                      int64_t count) {
    SampleVolume view;
    std::copy(volume.dims, volume.dims + 3, view.dims);
    std::copy(volume.strides, volume.strides + 3, view.strides);
    view.dims[s.axes[2]] = count;
    view.type = volume.type;
    view.borrowed = base;
    return view;
}

// Calls fn(view, from, to) for the slabs of display slices [from, to)
// within [first, last], in display order.
template <typename Fn>
bool forEachSlab(const SampleVolume& volume, const Slices& s, const SampleSource& source,
                 int64_t first, int64_t last, int64_t margin, std::string& error, Fn&& fn) {
    const int64_t slices = volume.dims[s.axes[2]];
    // Read ahead: the slabs come in file order (or its reverse, for a
    // flipped slowest axis, which read-ahead does not help).
    posix_fadvise(source.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    struct Slab {
        int64_t from = 0, to = 0, readFrom = 0, readTo = 0;
        std::vector<uint8_t> buffer;
        const uint8_t* base = nullptr;
        bool read = false;
        std::string error;
    };
    auto load = [&](Slab& slab, int64_t from) {
        slab.from = from;
        slab.to = std::min(last + 1, from + s.perSlab);
        // The slices either side too, for what needs its neighbours.
        slab.readFrom = std::max<int64_t>(0, from - margin);
        slab.readTo = std::min(slices, slab.to + margin);
        slab.read = readSlices(volume, s, source, slab.readFrom, slab.readTo, slab.buffer,
                               slab.base, slab.error);
    };
    // The next slab is read on a second thread while this one is worked
    // on, so that the copy from the page cache and the pass overlap.
    Slab slabs[2];
    if (first <= last)
        load(slabs[0], first);
    for (int64_t from = first, n = 0; from <= last; from += s.perSlab, n ^= 1) {
        Slab& slab = slabs[n];
        std::thread helper;
        const int64_t next = from + s.perSlab;
        const bool ahead = next <= last && slab.read &&
                           startSecondThread(&helper, [&, next, n]() { load(slabs[n ^ 1], next); });
        if (slab.read)
            fn(slabView(volume, s, slab.base, slab.readTo - slab.readFrom), slab.readFrom,
               slab.from, slab.to);
        if (ahead)
            helper.join();
        else if (next <= last && slab.read)
            load(slabs[n ^ 1], next);
        if (!slab.read) {
            error = slab.error;
            return false;
        }
    }
    return true;
}

// The threshold as a test on stored values, and their scaled value.
struct ValueTest {
    const SampleVolume* volume;
    const ThresholdRule* rule;
    bool scaled;
    template <typename T> double value(T stored) const {
        return scaled ? volume->slope * double(stored) + volume->intercept : double(stored);
    }
    template <typename T> bool passes(T stored) const {
        return samplePasses(value(stored), *rule);
    }
};

// What passes among 8- and 16-bit values, and their colours, looked up
// rather than computed for each sample; wider types compute them.
struct ValueTable {
    std::vector<uint8_t> passes;
    std::vector<uint8_t> colors;
};

template <typename T> constexpr bool tabled() {
    return std::is_integral_v<T> && sizeof(T) <= 2;
}

template <typename T>
void fillValueTable(const ValueTest& test, const ValueColoring* coloring, ValueTable& table) {
    if constexpr (tabled<T>()) {
        const size_t count = size_t(1) << (8 * sizeof(T));
        table.passes.resize(count);
        table.colors.resize(3 * count);
        for (size_t n = 0; n < count; ++n) {
            using U = std::make_unsigned_t<T>;
            const T stored = T(U(n));
            table.passes[n] = test.passes(stored);
            if (coloring)
                valueColor(*coloring, test.value(stored), &table.colors[3 * n]);
        }
    }
}

template <typename T> size_t tableIndex(T stored) {
    return size_t(std::make_unsigned_t<T>(stored));
}

// The threshold on unscaled integers of 32 bits or fewer, which doubles
// hold exactly, as a test on the stored integers: within [low, high], or
// outside it when `outside`.
template <typename T> struct IntegerTest {
    T low = std::numeric_limits<T>::min(), high = std::numeric_limits<T>::max();
    bool outside = false;
    bool passes(T v) const {
        return (v >= low && v <= high) != outside;
    }
};

template <typename T> constexpr bool integerTested() {
    return std::is_integral_v<T> && sizeof(T) <= 4;
}

template <typename T> IntegerTest<T> integerTest(const ThresholdRule& rule) {
    IntegerTest<T> test;
    const double lowest = double(std::numeric_limits<T>::min());
    const double highest = double(std::numeric_limits<T>::max());
    if (rule.given) {
        const double from = std::ceil(rule.value);
        if (from > highest)
            test.outside = true; // all of [min, max]: nothing passes
        else if (from > lowest)
            test.low = T(from);
        return test;
    }
    const double b = rule.background;
    if (b == std::floor(b) && b >= lowest && b <= highest) {
        test.low = test.high = T(b);
        test.outside = true;
    }
    return test;
}

// The samples that pass among `count` in a row of memory: how many, their
// least and greatest stored values, and the first and last that pass.
template <typename T> struct SpanScan {
    int64_t passed = 0, first = -1, last = -1;
    T least = std::numeric_limits<T>::max(), most = std::numeric_limits<T>::lowest();
};

// Branch-free, so that the compiler vectorises it: the pass the threshold
// runs over every sample.
template <typename T> SpanScan<T> scanSpan(const T* p, int64_t count, const IntegerTest<T>& test) {
    // Unsigned, with the sign bit flipped so that the order is kept; every
    // test and choice a mask, with no branch.
    using U = std::make_unsigned_t<T>;
    const U bias = std::is_signed_v<T> ? U(U(1) << (8 * sizeof(T) - 1)) : U(0);
    const U from = U(U(test.low) ^ bias), span = U(U(U(test.high) ^ bias) - from);
    const U flip = test.outside ? U(~U(0)) : U(0);
    U least = U(~U(0)), most = 0;
    uint32_t failed = 0;
    for (int64_t m = 0; m < count; ++m) {
        const U u = U(U(p[m]) ^ bias);
        const U in = U(-U(U(u - from) <= span));
        const U fail = U(~(in ^ flip));
        const U low = U(u | fail), high = U(u & U(~fail));
        least = low < least ? low : least;
        most = high > most ? high : most;
        failed += fail & 1u;
    }
    SpanScan<T> scan;
    const int64_t passed = count - int64_t(failed);
    scan.least = T(U(least ^ bias));
    scan.most = T(U(most ^ bias));
    scan.passed = passed;
    if (passed == 0)
        return scan;
    for (int64_t m = 0; m < count && scan.first < 0; ++m)
        if (test.passes(p[m]))
            scan.first = m;
    for (int64_t m = count - 1; m >= 0 && scan.last < 0; --m)
        if (test.passes(p[m]))
            scan.last = m;
    return scan;
}

} // namespace

bool scanSampleBox(const SampleVolume& volume, const SampleSource& source,
                   const ThresholdRule& rule, SampleBox& box, std::string& error) {
    box = SampleBox();
    const Slices s = slicesOf(volume, source);
    const ValueTest test{&volume, &rule, volume.slope != 1.0 || volume.intercept != 0.0};
    for (int a = 0; a < 3; ++a) {
        box.low[a] = volume.dims[a];
        box.high[a] = -1;
    }
    return withSampleType(volume.type, [&](auto* tag) {
        using T = std::remove_pointer_t<decltype(tag)>;
        ValueTable table;
        if (test.scaled || !integerTested<T>())
            fillValueTable<T>(test, nullptr, table);
        IntegerTest<T> integers;
        if constexpr (integerTested<T>())
            integers = integerTest<T>(rule);
        return forEachSlab(
            volume, s, source, 0, volume.dims[s.axes[2]] - 1, 0, error,
            [&](const SampleVolume& view, int64_t readFrom, int64_t from, int64_t to) {
                const T* first = reinterpret_cast<const T*>(view.borrowed);
                const int64_t st0 = view.strides[s.axes[0]], st1 = view.strides[s.axes[1]],
                              st2 = view.strides[s.axes[2]];
                const int64_t count = volume.dims[s.axes[0]];
                for (int64_t k = from; k < to; ++k)
                    for (int64_t j = 0; j < volume.dims[s.axes[1]]; ++j) {
                        const T* row = first + (k - readFrom) * st2 + j * st1;
                        int64_t firstPass = -1, lastPass = -1, passed = 0;
                        if constexpr (integerTested<T>()) {
                            if (!test.scaled) {
                                // The row in memory order: backwards when flipped.
                                const T* start = st0 > 0 ? row : row - (count - 1);
                                const SpanScan<T> scan = scanSpan(start, count, integers);
                                passed = scan.passed;
                                if (passed > 0) {
                                    const double least = double(scan.least),
                                                 most = double(scan.most);
                                    if (box.count == 0)
                                        box.lowest = least, box.highest = most;
                                    box.lowest = std::min(box.lowest, least);
                                    box.highest = std::max(box.highest, most);
                                    firstPass = st0 > 0 ? scan.first : count - 1 - scan.last;
                                    lastPass = st0 > 0 ? scan.last : count - 1 - scan.first;
                                }
                            }
                        }
                        for (int64_t n = 0; n < (integerTested<T>() && !test.scaled ? 0 : count);
                             ++n) {
                            const T stored = row[n * st0];
                            bool pass;
                            if constexpr (tabled<T>())
                                pass = table.passes[tableIndex(stored)] != 0;
                            else
                                pass = test.passes(stored);
                            if (!pass)
                                continue;
                            const double v = test.value(stored);
                            if (box.count + passed == 0)
                                box.lowest = box.highest = v;
                            box.lowest = std::min(box.lowest, v);
                            box.highest = std::max(box.highest, v);
                            if (firstPass < 0)
                                firstPass = n;
                            lastPass = n;
                            ++passed;
                        }
                        if (passed == 0)
                            continue;
                        box.count += passed;
                        const int64_t at[3][2] = {{firstPass, lastPass}, {j, j}, {k, k}};
                        for (int n = 0; n < 3; ++n) {
                            const int a = s.axes[n];
                            box.low[a] = std::min(box.low[a], at[n][0]);
                            box.high[a] = std::max(box.high[a], at[n][1]);
                        }
                    }
            });
    });
}

namespace {

// The coarser grid as coarsenGrid lays it over the cubes of the box.
struct CoarseCells {
    double size = 0;
    double origin[3] = {0, 0, 0};
    int64_t cells[3] = {0, 0, 0};
    std::vector<int64_t> cellOf[3]; // by cube index less the box's low corner
};

bool coarseCells(const SampleVolume& volume, const SampleBox& box, const StreamPlan& plan,
                 CoarseCells& out) {
    double corner[3], edge;
    cubePlacement(volume, corner, edge);
    const float voxelSize = float(edge);
    const double e = double(voxelSize);
    auto position = [&](int a, int64_t cube) { return float(corner[a] + double(cube) * edge); };
    double lo[3], extent[3], longest = 0;
    for (int a = 0; a < 3; ++a) {
        lo[a] = double(position(a, box.low[a]));
        extent[a] = double(position(a, box.high[a])) - lo[a] + e;
        longest = std::max(longest, extent[a]);
    }
    // Finer than the cubes: samplesToGrid resamples, which needs them all.
    if (plan.cellSize > 0 ? float(plan.cellSize) < float(edge)
                          : float(longest / double(plan.resolution)) < voxelSize)
        return false;
    out.size = plan.cellSize > 0 ? plan.cellSize : longest / double(plan.resolution);
    if (!(float(out.size) > 0) || !std::isfinite(float(out.size)))
        return false;
    for (int a = 0; a < 3; ++a) {
        const double along = std::max(1.0, std::ceil(extent[a] / out.size));
        if (!(along <= double(maxGridCells)))
            return false;
        out.cells[a] = int64_t(along);
        const double cornerA = lo[a] - 0.5 * e;
        out.origin[a] = cornerA + 0.5 * out.size;
        out.cellOf[a].resize(size_t(box.high[a] - box.low[a] + 1));
        for (int64_t c = box.low[a]; c <= box.high[a]; ++c)
            out.cellOf[a][size_t(c - box.low[a])] = std::clamp<int64_t>(
                int64_t(std::floor((double(position(a, c)) - cornerA) / out.size)), 0,
                out.cells[a] - 1);
    }
    return true;
}

// The most cells one layer of the coarser grid may hold in memory at once.
constexpr int64_t maxLayerCells = int64_t(1) << 24;

// The colour of every sample that passes, by value or by height.
struct Colors {
    ValueColoring coloring;
    bool byHeight = false;
    std::vector<uint8_t> heights; // by cube index along y less the box's low
};

// A run of samples along a row that fall in one cell of the coarser grid,
// at most packedRunLength long.
struct CellRun {
    int64_t cell, from, to; // samples [from, to)
};

// Sums of packed colours hold 16 bits a channel: 257 samples of 255 would
// carry into the next.
constexpr int64_t packedRunLength = 256;

std::vector<CellRun> cellRuns(const std::vector<int64_t>& cellOf, int64_t low) {
    std::vector<CellRun> runs;
    for (int64_t n = 0; n < int64_t(cellOf.size()); ++n) {
        const int64_t cell = cellOf[size_t(n)];
        if (runs.empty() || runs.back().cell != cell ||
            runs.back().to - runs.back().from == packedRunLength)
            runs.push_back({cell, low + n, low + n});
        ++runs.back().to;
    }
    return runs;
}

// A colour and a count of one, in 16 bits each.
uint64_t packColor(const uint8_t rgb[3]) {
    return uint64_t(rgb[0]) | uint64_t(rgb[1]) << 16 | uint64_t(rgb[2]) << 32 | uint64_t(1) << 48;
}

// Adds the samples of each run of `row` (stride `step`) that pass, by the
// packed table (0 for a sample that does not pass), to its cell of `cells`, whose first is cell
// `base`.
template <typename T>
void addPackedRuns(const T* row, int64_t step, const std::vector<CellRun>& runs,
                   const std::vector<uint64_t>& packed, CellColor* cells, int64_t base) {
    const uint64_t* table = packed.data();
    for (const CellRun& run : runs) {
        uint64_t sum = 0;
        for (int64_t i = run.from; i < run.to; ++i)
            sum += table[tableIndex(row[i * step])];
        if (sum == 0)
            continue;
        CellColor& cell = cells[run.cell - base];
        cell.red += uint32_t(sum & 0xFFFF);
        cell.green += uint32_t(sum >> 16 & 0xFFFF);
        cell.blue += uint32_t(sum >> 32 & 0xFFFF);
        cell.count += uint32_t(sum >> 48);
    }
}

// Sorts cells by key (x, then y, then z) in three stable counting passes,
// z first: linear in the cells, where they come a layer at a time.
void sortByCell(std::vector<CellColor>& list, const int64_t cells[3]) {
    std::vector<CellColor> sorted(list.size());
    std::vector<size_t> start;
    for (int a = 2; a >= 0; --a) {
        const int shift = 21 * (2 - a);
        auto digit = [&](const CellColor& c) { return size_t(c.key >> shift & 0x1FFFFF); };
        start.assign(size_t(cells[a]) + 1, 0);
        for (const CellColor& c : list)
            ++start[digit(c) + 1];
        for (size_t n = 1; n < start.size(); ++n)
            start[n] += start[n - 1];
        for (const CellColor& c : list)
            sorted[start[digit(c)]++] = c;
        list.swap(sorted);
    }
}

} // namespace

bool coarseCellsFit(const SampleVolume& volume, const SampleBox& box, const StreamPlan& plan) {
    CoarseCells cells;
    if (box.count == 0 || !coarseCells(volume, box, plan, cells))
        return false;
    int axes[3];
    memoryAxisOrder(volume, axes);
    const int64_t layer = (cells.cellOf[axes[0]].back() - cells.cellOf[axes[0]].front() + 1) *
                          (cells.cellOf[axes[1]].back() - cells.cellOf[axes[1]].front() + 1);
    return layer <= maxLayerCells;
}

bool streamSamples(const SampleVolume& volume, const SampleSource& source, const StreamPlan& plan,
                   const SampleBox& box, VoxelGrid& out, int64_t& kept, std::string& error) {
    out = VoxelGrid();
    kept = 0;
    if (box.count == 0)
        return true;
    const Slices s = slicesOf(volume, source);
    const ValueTest test{&volume, &plan.threshold, volume.slope != 1.0 || volume.intercept != 0.0};
    double corner[3], edge;
    cubePlacement(volume, corner, edge);
    Colors colors;
    colors.coloring.mode = plan.mode;
    if (plan.mode == ColorMode::grey || plan.mode == ColorMode::map) {
        colors.coloring.lowest = box.lowest;
        colors.coloring.span = box.highest - box.lowest;
    }
    colors.byHeight = plan.mode == ColorMode::height || plan.mode == ColorMode::automatic;
    if (colors.byHeight) {
        const int64_t range = box.high[1] - box.low[1];
        colors.heights.resize(size_t(3 * (range + 1)));
        for (int64_t h = 0; h <= range; ++h)
            heightRampColor(range > 0 ? double(h) / double(range) : 0.0, &colors.heights[3 * h]);
    }
    const bool coarse = plan.cellSize > 0 || plan.resolution > 0;
    CoarseCells cells;
    if (coarse && !coarseCells(volume, box, plan, cells)) {
        error = "the coarser grid cannot be made as the samples stream";
        return false;
    }
    // Cube positions along each axis, as resampleToCubes rounds them.
    std::vector<float> positions[3];
    for (int a = 0; a < 3; ++a)
        for (int64_t c = box.low[a]; c <= box.high[a]; ++c)
            positions[a].push_back(float(corner[a] + double(c) * edge));
    const int a0 = s.axes[0], a1 = s.axes[1], a2 = s.axes[2];
    const int64_t d0 = volume.dims[a0], d1 = volume.dims[a1], d2 = volume.dims[a2];
    const bool hollow = plan.hollow && !coarse;

    // One layer of the coarser grid, over the box's cells along the two
    // faster axes; flushed to `done` when the slices move past it.
    std::vector<CellColor> layer, done;
    int64_t layerAt = -1, base0 = 0, base1 = 0, width0 = 0, width1 = 0;
    bool overflowed = false;
    if (coarse) {
        base0 = cells.cellOf[a0].front();
        base1 = cells.cellOf[a1].front();
        width0 = cells.cellOf[a0].back() - base0 + 1;
        width1 = cells.cellOf[a1].back() - base1 + 1;
        layer.assign(size_t(width0 * width1), CellColor{0, 0, 0, 0, 0});
        // Room for every cell of the box, or the limit: the address space
        // only, until the cells come.
        const double boxCells = double(cells.cellOf[a2].back() - cells.cellOf[a2].front() + 1) *
                                double(width0) * double(width1);
        done.reserve(size_t(std::min(boxCells, double(plan.maxVoxels) + 1)));
    }
    auto flushLayer = [&]() {
        if (layerAt < 0)
            return;
        for (int64_t n1 = 0; n1 < width1; ++n1)
            for (int64_t n0 = 0; n0 < width0; ++n0) {
                CellColor& sum = layer[size_t(n1 * width0 + n0)];
                if (sum.count == 0)
                    continue;
                int64_t cell[3];
                cell[a0] = base0 + n0;
                cell[a1] = base1 + n1;
                cell[a2] = layerAt;
                sum.key = packCell(cell[0], cell[1], cell[2]);
                if (int64_t(done.size()) >= plan.maxVoxels)
                    overflowed = true;
                else
                    done.push_back(sum);
                sum = CellColor{0, 0, 0, 0, 0};
            }
    };

    VoxelList& voxels = out.voxels;
    std::vector<uint8_t> masks; // which samples of the slices read pass, for hollowing
    const bool ok = withSampleType(volume.type, [&](auto* tag) {
        using T = std::remove_pointer_t<decltype(tag)>;
        ValueTable table;
        fillValueTable<T>(test, &colors.coloring, table);
        // Value colours of 8- and 16-bit samples on a coarser grid: a
        // cell's run along a row is one sum of packed table entries.
        std::vector<uint64_t> packed;
        std::vector<CellRun> runs;
        bool packedRow = false;
        if constexpr (tabled<T>()) {
            packedRow = coarse && !colors.byHeight;
            if (packedRow) {
                packed.resize(table.passes.size());
                for (size_t n = 0; n < packed.size(); ++n)
                    packed[n] = table.passes[n] ? packColor(&table.colors[3 * n]) : 0;
                runs = cellRuns(cells.cellOf[a0], box.low[a0]);
            }
        }
        auto sampleColor = [&](T stored, const int64_t at[3], uint8_t rgb[3]) {
            if (colors.byHeight) {
                std::copy_n(&colors.heights[size_t(3 * (at[1] - box.low[1]))], 3, rgb);
            } else if constexpr (tabled<T>()) {
                std::copy_n(&table.colors[3 * tableIndex(stored)], 3, rgb);
            } else {
                valueColor(colors.coloring, test.value(stored), rgb);
            }
        };
        auto passes = [&](T stored) {
            if constexpr (tabled<T>())
                return table.passes[tableIndex(stored)] != 0;
            else
                return test.passes(stored);
        };
        return forEachSlab(
            volume, s, source, box.low[a2], box.high[a2], hollow ? 1 : 0, error,
            [&](const SampleVolume& view, int64_t readFrom, int64_t from, int64_t to) {
                const int64_t st0 = view.strides[a0], st1 = view.strides[a1],
                              st2 = view.strides[a2];
                const T* first = reinterpret_cast<const T*>(view.borrowed);
                if (hollow) {
                    masks.assign(size_t(view.dims[a2] * d1 * d0), 0);
                    for (int64_t k = 0; k < view.dims[a2]; ++k)
                        for (int64_t j = box.low[a1]; j <= box.high[a1]; ++j) {
                            const T* row = first + k * st2 + j * st1;
                            uint8_t* mask = &masks[size_t((k * d1 + j) * d0)];
                            for (int64_t i = box.low[a0]; i <= box.high[a0]; ++i)
                                mask[i] = passes(row[i * st0]);
                        }
                }
                for (int64_t k = from; k < to; ++k) {
                    const int64_t local = k - readFrom;
                    if (coarse) {
                        const int64_t at = cells.cellOf[a2][size_t(k - box.low[a2])];
                        if (at != layerAt) {
                            flushLayer();
                            layerAt = at;
                        }
                    }
                    for (int64_t j = box.low[a1]; j <= box.high[a1]; ++j) {
                        const T* row = first + local * st2 + j * st1;
                        const uint8_t* mask =
                            hollow ? &masks[size_t((local * d1 + j) * d0)] : nullptr;
                        CellColor* layerRow =
                            coarse
                                ? &layer[size_t(
                                      (cells.cellOf[a1][size_t(j - box.low[a1])] - base1) * width0)]
                                : nullptr;
                        if constexpr (tabled<T>()) {
                            if (packedRow) {
                                addPackedRuns(row, st0, runs, packed, layerRow, base0);
                                continue;
                            }
                        }
                        int64_t at[3];
                        at[a1] = j;
                        at[a2] = k;
                        for (int64_t i = box.low[a0]; i <= box.high[a0]; ++i) {
                            const T stored = row[i * st0];
                            if (!(hollow ? mask[i] != 0 : passes(stored)))
                                continue;
                            at[a0] = i;
                            if (hollow && i > 0 && i + 1 < d0 && j > 0 && j + 1 < d1 && k > 0 &&
                                k + 1 < d2 && mask[i - 1] && mask[i + 1] && mask[i - d0] &&
                                mask[i + d0] && mask[i - d1 * d0] && mask[i + d1 * d0])
                                continue;
                            uint8_t rgb[3];
                            sampleColor(stored, at, rgb);
                            if (coarse) {
                                CellColor& sum =
                                    layerRow[cells.cellOf[a0][size_t(i - box.low[a0])] - base0];
                                sum.red += rgb[0];
                                sum.green += rgb[1];
                                sum.blue += rgb[2];
                                ++sum.count;
                                continue;
                            }
                            if (++kept > plan.maxVoxels)
                                continue;
                            for (int a = 0; a < 3; ++a)
                                voxels.positions.push_back(
                                    positions[a][size_t(at[a] - box.low[a])]);
                            voxels.colors.insert(voxels.colors.end(), rgb, rgb + 3);
                        }
                    }
                }
            });
    });
    if (!ok) {
        out = VoxelGrid();
        return false;
    }
    if (coarse) {
        flushLayer();
        if (overflowed) {
            out = VoxelGrid();
            kept = plan.maxVoxels + 1;
            return true;
        }
        sortByCell(done, cells.cells);
        CellColorSums sums;
        sums.cells = std::move(done);
        sums.merged = sums.cells.size();
        kept = int64_t(sums.cells.size());
        cellsToVoxels(sums, cells.origin, cells.size, out);
        out.madeUpColors = colors.byHeight;
        out.atAskedSize = true;
        return true;
    }
    if (kept > plan.maxVoxels) {
        out = VoxelGrid();
        return true;
    }
    voxels.voxelSize = float(edge);
    out.madeUpColors = colors.byHeight;
    out.hasLattice = true;
    out.step = edge;
    std::copy(corner, corner + 3, out.origin);
    return true;
}
