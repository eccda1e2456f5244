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
#include <exception>
#include <fcntl.h>
#include <limits>
#include <sys/mman.h>
#include <sys/stat.h>
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

// The rows of a slab (runs of samples along the fastest axis, in file
// order from its first byte) that lie wholly in a hole of a sparse file:
// they read as zeros and, when zero fails the threshold, need no reading.
struct HoleRows {
    std::vector<uint8_t> flags; // 1: in a hole, not read (its bytes are stale)
    const uint8_t* data = nullptr;
    int64_t rowBytes = 1;
    bool any = false;
};

// Whether the row whose first byte in memory is `first` was left unread.
bool inHole(const HoleRows& holes, const void* first) {
    return holes.any &&
           holes.flags[size_t((static_cast<const uint8_t*>(first) - holes.data) / holes.rowBytes)];
}

// The file's data extents within [begin, end) (bytes), as the file system
// reports them; the whole range where it cannot.
std::vector<std::pair<int64_t, int64_t>> dataExtents(int fd, int64_t begin, int64_t end) {
    std::vector<std::pair<int64_t, int64_t>> extents;
    for (int64_t at = begin; at < end;) {
        const off_t data = lseek(fd, off_t(at), SEEK_DATA);
        if (data < 0) {
            if (errno != ENXIO)
                return {{begin, end}};
            break; // a hole to the end of the file
        }
        if (int64_t(data) >= end)
            break;
        const off_t hole = lseek(fd, data, SEEK_HOLE);
        if (hole < 0)
            return {{begin, end}};
        extents.push_back({int64_t(data), std::min<int64_t>(end, int64_t(hole))});
        at = int64_t(hole);
    }
    return extents;
}

bool preadAll(int fd, uint8_t* into, size_t bytes, int64_t at, std::string& error) {
    size_t done = 0;
    while (done < bytes) {
        const ssize_t got = pread(fd, into + done, bytes - done, off_t(at + int64_t(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? std::string("its samples cannot be read: ") + strerror(errno)
                            : "the file ends before its samples do (it has become shorter)";
            return false;
        }
        done += size_t(got);
    }
    return true;
}

// Memory for a slab: mapped, its pages filled at once, rather than zeroed by
// a vector and faulted in a page at a time.
struct SlabBuffer {
    uint8_t* data = nullptr;
    size_t size = 0;
};

void releaseBuffer(SlabBuffer& buffer) {
    if (buffer.data)
        munmap(buffer.data, buffer.size);
    buffer = SlabBuffer();
}

bool growBuffer(SlabBuffer& buffer, size_t bytes, std::string& error) {
    if (buffer.size >= bytes)
        return true;
    releaseBuffer(buffer);
    void* at = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (at == MAP_FAILED) {
        error = std::string("no memory for a slab of its samples: ") + strerror(errno);
        return false;
    }
    buffer.data = static_cast<uint8_t*>(at);
    buffer.size = bytes;
    return true;
}

// Reads display slices [from, to) along the slowest axis into `buffer` and
// points `base` at their sample (0, 0, from), in this machine's byte order.
// With `skipHoles`, rows wholly in the file's holes are left unread and
// marked in `holes`; rows reaching past the file's end are read, and fail.
bool readSlices(const SampleVolume& volume, const Slices& s, const SampleSource& source,
                int64_t from, int64_t to, bool skipHoles, SlabBuffer& buffer, const uint8_t*& base,
                HoleRows& holes, std::string& error) {
    const int64_t stride = volume.strides[s.axes[2]];
    const int64_t q0 = s.first + from * stride, q1 = s.first + (to - 1) * stride;
    const int64_t begin = std::min(q0, q1) + s.lowest;
    const int64_t end = std::max(q0, q1) + s.lowest + s.spread;
    const size_t bytes = size_t((end - begin) * s.size);
    if (!growBuffer(buffer, bytes, error))
        return false;
    const int64_t fileBegin = source.start + begin * s.size;
    holes.data = buffer.data;
    holes.rowBytes = volume.dims[s.axes[0]] * s.size;
    holes.any = false;
    struct stat status;
    if (skipHoles && fstat(source.fd, &status) == 0 &&
        int64_t(status.st_size) >= fileBegin + int64_t(bytes)) {
        const int64_t rows = int64_t(bytes) / holes.rowBytes;
        holes.flags.assign(size_t(rows), 1);
        for (const auto& extent : dataExtents(source.fd, fileBegin, fileBegin + int64_t(bytes))) {
            const int64_t r0 = (extent.first - fileBegin) / holes.rowBytes;
            const int64_t r1 = (extent.second - fileBegin + holes.rowBytes - 1) / holes.rowBytes;
            std::fill(holes.flags.begin() + r0, holes.flags.begin() + r1, uint8_t(0));
        }
        holes.any = std::find(holes.flags.begin(), holes.flags.end(), 1) != holes.flags.end();
    }
    if (!holes.any) {
        if (!preadAll(source.fd, buffer.data, bytes, fileBegin, error))
            return false;
    } else {
        // Each run of rows that holds data, in one read.
        for (int64_t r = 0; r < int64_t(holes.flags.size());) {
            if (holes.flags[size_t(r)]) {
                ++r;
                continue;
            }
            int64_t past = r;
            while (past < int64_t(holes.flags.size()) && !holes.flags[size_t(past)])
                ++past;
            if (!preadAll(source.fd, buffer.data + r * holes.rowBytes,
                          size_t((past - r) * holes.rowBytes), fileBegin + r * holes.rowBytes,
                          error))
                return false;
            r = past;
        }
    }
    toNativeByteOrder(buffer.data, size_t(end - begin), size_t(s.size), source.bigEndian);
    base = buffer.data + (q0 - begin) * s.size;
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

// Calls fn(view, readFrom, from, to, holes) for the slabs of display slices
// [from, to) within [first, last], in display order; `holes` marks the rows
// left unread (only with `skipHoles`).
template <typename Fn>
bool forEachSlab(const SampleVolume& volume, const Slices& s, const SampleSource& source,
                 int64_t first, int64_t last, int64_t margin, bool skipHoles, std::string& error,
                 Fn&& fn) {
    const int64_t slices = volume.dims[s.axes[2]];
    // Read ahead: the slabs come in file order (or its reverse, for a
    // flipped slowest axis, which read-ahead does not help).
    posix_fadvise(source.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    struct Slab {
        int64_t from = 0, to = 0, readFrom = 0, readTo = 0;
        SlabBuffer buffer;
        HoleRows holes;
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
        slab.read = readSlices(volume, s, source, slab.readFrom, slab.readTo, skipHoles,
                               slab.buffer, slab.base, slab.holes, slab.error);
    };
    // The next slab is read on a second thread while this one is worked
    // on, so that the copy from the page cache and the pass overlap.
    Slab slabs[2];
    bool read = true;
    if (first <= last)
        load(slabs[0], first);
    for (int64_t from = first, n = 0; from <= last; from += s.perSlab, n ^= 1) {
        Slab& slab = slabs[n];
        std::thread helper;
        const int64_t next = from + s.perSlab;
        // What either thread throws (no memory) is thrown again once both
        // are done, as one thread would have thrown it.
        std::exception_ptr failures[2];
        const bool ahead = next <= last && slab.read && startSecondThread(&helper, [&, next, n]() {
                               try {
                                   load(slabs[n ^ 1], next);
                               } catch (...) {
                                   failures[1] = std::current_exception();
                               }
                           });
        try {
            if (slab.read)
                fn(slabView(volume, s, slab.base, slab.readTo - slab.readFrom), slab.readFrom,
                   slab.from, slab.to, slab.holes);
        } catch (...) {
            failures[0] = std::current_exception();
        }
        if (ahead)
            helper.join();
        for (const std::exception_ptr& thrown : failures)
            if (thrown) {
                releaseBuffer(slabs[0].buffer);
                releaseBuffer(slabs[1].buffer);
                std::rethrow_exception(thrown);
            }
        if (!ahead && next <= last && slab.read)
            load(slabs[n ^ 1], next);
        if (!slab.read) {
            error = slab.error;
            read = false;
            break;
        }
    }
    releaseBuffer(slabs[0].buffer);
    releaseBuffer(slabs[1].buffer);
    return read;
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
    // The ends: whole blocks tested at once (vectorised) from each end, then
    // the block that holds a pass, sample by sample.
    constexpr int64_t block = 64;
    auto anyPass = [&](int64_t at, int64_t end) {
        U any = 0;
        for (int64_t m = at; m < end; ++m)
            any |= U(U(-U(U(U(U(p[m]) ^ bias) - from) <= span)) ^ flip);
        return any != 0;
    };
    int64_t at = 0;
    while (!anyPass(at, std::min(count, at + block)))
        at += block;
    for (int64_t m = at; scan.first < 0; ++m)
        if (test.passes(p[m]))
            scan.first = m;
    int64_t end = count;
    while (!anyPass(std::max<int64_t>(0, end - block), end))
        end -= block;
    for (int64_t m = end - 1; scan.last < 0; --m)
        if (test.passes(p[m]))
            scan.last = m;
    return scan;
}

// Sets mask[from, to] to whether row[from, to] pass `test`: branch-free and
// unaliased, so that it is vectorised.
template <typename T>
void passMask(const T* __restrict row, uint8_t* __restrict mask, int64_t from, int64_t to,
              const IntegerTest<T>& test) {
    const T low = test.low, high = test.high;
    const uint8_t outside = test.outside;
    for (int64_t i = from; i <= to; ++i)
        mask[i] = uint8_t((row[i] >= low) & (row[i] <= high)) ^ outside;
}

// Marks in flags[from, to] the samples of a row's pass mask `in` that lack
// one of their six neighbours (rows d0 apart; `below` and `above` the same
// row of the slices either side). Unaliased, so that it is vectorised.
void openSamples(const uint8_t* __restrict in, const uint8_t* __restrict below,
                 const uint8_t* __restrict above, uint8_t* __restrict flags, int64_t from,
                 int64_t to, int64_t d0) {
    for (int64_t i = from; i <= to; ++i)
        flags[i] = in[i] & ~(in[i - 1] & in[i + 1] & in[i - d0] & in[i + d0] & below[i] & above[i]);
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
            volume, s, source, 0, volume.dims[s.axes[2]] - 1, 0, !test.passes(T(0)), error,
            [&](const SampleVolume& view, int64_t readFrom, int64_t from, int64_t to,
                const HoleRows& holes) {
                const T* first = reinterpret_cast<const T*>(view.borrowed);
                const int64_t st0 = view.strides[s.axes[0]], st1 = view.strides[s.axes[1]],
                              st2 = view.strides[s.axes[2]];
                const int64_t count = volume.dims[s.axes[0]];
                // Rows [j0, j1] of slices [k0, k1) into `part`.
                auto scanRows = [&](SampleBox& part, int64_t k0, int64_t k1, int64_t j0,
                                    int64_t j1) {
                    for (int64_t k = k0; k < k1; ++k)
                        for (int64_t j = j0; j <= j1; ++j) {
                            const T* row = first + (k - readFrom) * st2 + j * st1;
                            if (inHole(holes, st0 > 0 ? row : row - (count - 1)))
                                continue;
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
                                        if (part.count == 0)
                                            part.lowest = least, part.highest = most;
                                        part.lowest = std::min(part.lowest, least);
                                        part.highest = std::max(part.highest, most);
                                        firstPass = st0 > 0 ? scan.first : count - 1 - scan.last;
                                        lastPass = st0 > 0 ? scan.last : count - 1 - scan.first;
                                    }
                                }
                            }
                            for (int64_t n = 0;
                                 n < (integerTested<T>() && !test.scaled ? 0 : count); ++n) {
                                const T stored = row[n * st0];
                                bool pass;
                                if constexpr (tabled<T>())
                                    pass = table.passes[tableIndex(stored)] != 0;
                                else
                                    pass = test.passes(stored);
                                if (!pass)
                                    continue;
                                const double v = test.value(stored);
                                if (part.count + passed == 0)
                                    part.lowest = part.highest = v;
                                part.lowest = std::min(part.lowest, v);
                                part.highest = std::max(part.highest, v);
                                if (firstPass < 0)
                                    firstPass = n;
                                lastPass = n;
                                ++passed;
                            }
                            if (passed == 0)
                                continue;
                            part.count += passed;
                            const int64_t at[3][2] = {{firstPass, lastPass}, {j, j}, {k, k}};
                            for (int n = 0; n < 3; ++n) {
                                const int a = s.axes[n];
                                part.low[a] = std::min(part.low[a], at[n][0]);
                                part.high[a] = std::max(part.high[a], at[n][1]);
                            }
                        }
                };
                // Two halves, the first on a second thread, each into a box of
                // its own: by slices, or by rows of one slice. The first comes
                // before the second in the file, so that their merge is what
                // one pass in order gives.
                const int64_t rows = volume.dims[s.axes[1]];
                SampleBox parts[2];
                for (SampleBox& part : parts)
                    for (int a = 0; a < 3; ++a) {
                        part.low[a] = volume.dims[a];
                        part.high[a] = -1;
                    }
                const bool bySlices = to - from >= 2;
                const int64_t kSplit = bySlices ? (from + to) / 2 : to;
                const int64_t jSplit = bySlices ? rows : rows / 2;
                auto firstHalf = [&]() { scanRows(parts[0], from, kSplit, 0, jSplit - 1); };
                std::thread helper;
                const bool two = startSecondThread(&helper, firstHalf);
                if (!two)
                    firstHalf();
                if (bySlices)
                    scanRows(parts[1], kSplit, to, 0, rows - 1);
                else
                    scanRows(parts[1], from, to, jSplit, rows - 1);
                if (two)
                    helper.join();
                for (const SampleBox& part : parts) {
                    if (part.count == 0)
                        continue;
                    if (box.count == 0)
                        box.lowest = part.lowest, box.highest = part.highest;
                    box.lowest = std::min(box.lowest, part.lowest);
                    box.highest = std::max(box.highest, part.highest);
                    box.count += part.count;
                    for (int a = 0; a < 3; ++a) {
                        box.low[a] = std::min(box.low[a], part.low[a]);
                        box.high[a] = std::max(box.high[a], part.high[a]);
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

// Whether the hollow stage would find every cell of the coarser grid on
// its lattice, each at its own index: checked at the box's ends, where
// floats are coarsest.
bool cellsOnLattice(const CoarseCells& cells) {
    VoxelGrid grid;
    grid.hasLattice = true;
    grid.step = cells.size;
    std::copy(cells.origin, cells.origin + 3, grid.origin);
    for (int end = 0; end < 8; ++end) {
        int64_t want[3], got[3];
        float at[3];
        for (int a = 0; a < 3; ++a) {
            want[a] = end >> a & 1 ? cells.cellOf[a].back() : cells.cellOf[a].front();
            at[a] = float(cells.origin[a] + double(want[a]) * cells.size);
        }
        if (!latticeCell(grid, at, got) || !std::equal(got, got + 3, want))
            return false;
    }
    return true;
}

// The cells of the coarser grid as its layers (along the slowest axis)
// complete: all of them kept for the grid stages, or, when hollowing, only
// those with a face open, judged once the layers either side are complete.
struct CellLayers {
    int axes[3] = {0, 1, 2};
    int64_t base0 = 0, base1 = 0, width0 = 0, width1 = 0;
    int64_t maxCells = 0, counted = 0;
    bool hollow = false;
    // Every cell is kept too while the shade stage may still come first,
    // which it does when all cells are of one colour.
    bool keepAll = true, shadeIfOneColor = false;
    uint8_t firstColor[3] = {0, 0, 0};
    std::vector<CellColor> all, open;
    std::vector<CellColor> middle; // the last layer completed, not yet judged
    std::vector<uint8_t> below;    // which cells of the one before it hold samples
    int64_t middleAt = -1, belowAt = -1;
};

// Keeps the cells of `middle` that the hollow stage keeps: those with a
// face neighbour empty or outside the box (`above` may be null).
void judgeMiddle(CellLayers& layers, const std::vector<CellColor>* above) {
    const int64_t w0 = layers.width0, w1 = layers.width1;
    const std::vector<CellColor>& middle = layers.middle;
    const bool haveBelow = layers.belowAt >= 0 && layers.belowAt == layers.middleAt - 1;
    for (int64_t n1 = 0; n1 < w1; ++n1)
        for (int64_t n0 = 0; n0 < w0; ++n0) {
            const size_t at = size_t(n1 * w0 + n0);
            if (middle[at].count == 0)
                continue;
            const bool hidden = n0 > 0 && n0 + 1 < w0 && n1 > 0 && n1 + 1 < w1 && haveBelow &&
                                above && layers.below[at] && (*above)[at].count &&
                                middle[at - 1].count && middle[at + 1].count &&
                                middle[at - size_t(w0)].count && middle[at + size_t(w0)].count;
            if (!hidden)
                layers.open.push_back(middle[at]);
        }
}

// Takes the completed layer `layer` at `at` (cleared for the next), keyed.
void completeLayer(CellLayers& layers, std::vector<CellColor>& layer, int64_t at) {
    const int a0 = layers.axes[0], a1 = layers.axes[1], a2 = layers.axes[2];
    for (int64_t n1 = 0; n1 < layers.width1; ++n1)
        for (int64_t n0 = 0; n0 < layers.width0; ++n0) {
            CellColor& sum = layer[size_t(n1 * layers.width0 + n0)];
            if (sum.count == 0)
                continue;
            int64_t cell[3];
            cell[a0] = layers.base0 + n0;
            cell[a1] = layers.base1 + n1;
            cell[a2] = at;
            sum.key = packCell(cell[0], cell[1], cell[2]);
            if (++layers.counted > layers.maxCells || !layers.keepAll)
                continue;
            if (layers.hollow) {
                // A second colour: no shading, so the open cells will do.
                uint8_t rgb[3];
                meanCellColor(sum, rgb);
                if (layers.counted == 1)
                    std::copy(rgb, rgb + 3, layers.firstColor);
                else if (!std::equal(rgb, rgb + 3, layers.firstColor)) {
                    layers.keepAll = false;
                    std::vector<CellColor>().swap(layers.all);
                    continue;
                }
            }
            layers.all.push_back(sum);
        }
    if (!layers.hollow) {
        std::fill(layer.begin(), layer.end(), CellColor{0, 0, 0, 0, 0});
        return;
    }
    if (layers.middleAt >= 0) {
        judgeMiddle(layers, at == layers.middleAt + 1 ? &layer : nullptr);
        layers.below.resize(layers.middle.size());
        for (size_t n = 0; n < layers.middle.size(); ++n)
            layers.below[n] = layers.middle[n].count != 0;
        layers.belowAt = layers.middleAt;
    }
    if (layers.middle.size() != layer.size())
        layers.middle.assign(layer.size(), CellColor{0, 0, 0, 0, 0});
    layers.middle.swap(layer);
    layers.middleAt = at;
    std::fill(layer.begin(), layer.end(), CellColor{0, 0, 0, 0, 0});
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
    colors.byHeight = colorsByHeight(plan.mode);
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
    // faster axes; handed to `layers` when the slices move past it.
    std::vector<CellColor> layer;
    int64_t layerAt = -1, base0 = 0, base1 = 0, width0 = 0;
    CellLayers layers;
    if (coarse) {
        base0 = cells.cellOf[a0].front();
        base1 = cells.cellOf[a1].front();
        width0 = cells.cellOf[a0].back() - base0 + 1;
        std::copy(s.axes, s.axes + 3, layers.axes);
        layers.base0 = base0;
        layers.base1 = base1;
        layers.width0 = width0;
        layers.width1 = cells.cellOf[a1].back() - base1 + 1;
        layers.maxCells = plan.maxVoxels;
        layers.hollow = plan.hollowCells && cellsOnLattice(cells);
        layers.keepAll = !layers.hollow || plan.shadeIfOneColor;
        layer.assign(size_t(width0 * layers.width1), CellColor{0, 0, 0, 0, 0});
        // Room for every cell of the box, or the limit: the address space
        // only, until the cells come.
        const double boxCells = double(cells.cellOf[a2].back() - cells.cellOf[a2].front() + 1) *
                                double(width0) * double(layers.width1);
        if (layers.keepAll)
            layers.all.reserve(size_t(std::min(boxCells, double(plan.maxVoxels) + 1)));
    }
    auto flushLayer = [&]() {
        if (layerAt >= 0)
            completeLayer(layers, layer, layerAt);
    };

    // Where the rows divide between two threads: halfway, or for a coarser
    // grid at the first row of the cells halfway, so that no cell is shared.
    int64_t split = (box.low[a1] + box.high[a1] + 1) / 2;
    if (coarse) {
        const std::vector<int64_t>& rowCells = cells.cellOf[a1];
        const int64_t half = rowCells[size_t(split - box.low[a1])];
        split = box.low[a1] + int64_t(std::lower_bound(rowCells.begin(), rowCells.end(), half) -
                                      rowCells.begin());
    }

    VoxelList& voxels = out.voxels;
    std::vector<uint8_t> masks; // which samples of the slices read pass, for hollowing
    const bool ok = withSampleType(volume.type, [&](auto* tag) {
        using T = std::remove_pointer_t<decltype(tag)>;
        ValueTable table;
        fillValueTable<T>(test, &colors.coloring, table);
        IntegerTest<T> integers;
        if constexpr (integerTested<T>())
            integers = integerTest<T>(plan.threshold);
        const bool integral = integerTested<T>() && !test.scaled;
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
            volume, s, source, box.low[a2], box.high[a2], hollow ? 1 : 0, !passes(T(0)), error,
            [&](const SampleVolume& view, int64_t readFrom, int64_t from, int64_t to,
                const HoleRows& holes) {
                const int64_t st0 = view.strides[a0], st1 = view.strides[a1],
                              st2 = view.strides[a2];
                const T* first = reinterpret_cast<const T*>(view.borrowed);
                if (hollow) {
                    masks.assign(size_t(view.dims[a2] * d1 * d0), 0);
                    for (int64_t k = 0; k < view.dims[a2]; ++k)
                        for (int64_t j = box.low[a1]; j <= box.high[a1]; ++j) {
                            const T* row = first + k * st2 + j * st1;
                            if (inHole(holes, st0 > 0 ? row : row - (d0 - 1)))
                                continue;
                            uint8_t* mask = &masks[size_t((k * d1 + j) * d0)];
                            if (integral && st0 == 1) {
                                passMask(row, mask, box.low[a0], box.high[a0], integers);
                            } else {
                                for (int64_t i = box.low[a0]; i <= box.high[a0]; ++i)
                                    mask[i] = passes(row[i * st0]);
                            }
                        }
                }
                // Rows [j0, j1] of slice k, their voxels added to `into` and
                // counted in `count` (or their cells summed in the layer).
                auto addRows = [&](int64_t k, int64_t j0, int64_t j1, VoxelList& into,
                                   int64_t& count) {
                    const int64_t local = k - readFrom;
                    std::vector<uint8_t> open; // of a row, for hollowing
                    for (int64_t j = j0; j <= j1; ++j) {
                        const T* row = first + local * st2 + j * st1;
                        if (inHole(holes, st0 > 0 ? row : row - (d0 - 1)))
                            continue;
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
                        if (hollow) {
                            // Which samples lack a neighbour, over the row at
                            // once (vectorised); the volume's faces lack them.
                            const int64_t lo = box.low[a0], hi = box.high[a0];
                            open.assign(mask + lo, mask + hi + 1);
                            if (j > 0 && j + 1 < d1 && k > 0 && k + 1 < d2) {
                                const int64_t from = std::max<int64_t>(lo, 1);
                                const int64_t to = std::min<int64_t>(hi, d0 - 2);
                                openSamples(mask, mask - d1 * d0, mask + d1 * d0, open.data() - lo,
                                            from, to, d0);
                            }
                        }
                        const uint8_t* openFlags = open.data();
                        const size_t openSize = open.size();
                        int64_t at[3];
                        at[a1] = j;
                        at[a2] = k;
                        for (int64_t i = box.low[a0]; i <= box.high[a0]; ++i) {
                            if (hollow) {
                                // Eight at a time past the closed samples.
                                const size_t n = size_t(i - box.low[a0]);
                                uint64_t word = 0;
                                if (n + 8 <= openSize)
                                    std::memcpy(&word, openFlags + n, 8);
                                if (n + 8 <= openSize && word == 0) {
                                    i += 7;
                                    continue;
                                }
                                if (!openFlags[n])
                                    continue;
                            }
                            const T stored = row[i * st0];
                            if (!hollow && !passes(stored))
                                continue;
                            at[a0] = i;
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
                            if (++count > plan.maxVoxels)
                                continue;
                            for (int a = 0; a < 3; ++a)
                                into.positions.push_back(positions[a][size_t(at[a] - box.low[a])]);
                            into.colors.insert(into.colors.end(), rgb, rgb + 3);
                        }
                    }
                };
                for (int64_t k = from; k < to;) {
                    // Slices [k, next): one layer of cells, or one slice.
                    int64_t next = k + 1;
                    if (coarse) {
                        const int64_t at = cells.cellOf[a2][size_t(k - box.low[a2])];
                        if (at != layerAt) {
                            flushLayer();
                            layerAt = at;
                        }
                        while (next < to && cells.cellOf[a2][size_t(next - box.low[a2])] == at)
                            ++next;
                    }
                    // The rows below `split` on a second thread: its cells'
                    // rows are its own, its voxels go before the others.
                    VoxelList upper;
                    int64_t upperKept = 0;
                    // What the second thread throws (no memory for its
                    // voxels) is thrown again here, as the pass would.
                    std::exception_ptr failure;
                    auto lowerRows = [&]() {
                        try {
                            for (int64_t n = k; n < next; ++n)
                                addRows(n, box.low[a1], split - 1, voxels, kept);
                        } catch (...) {
                            failure = std::current_exception();
                        }
                    };
                    std::thread helper;
                    const bool two = split > box.low[a1] && startSecondThread(&helper, lowerRows);
                    if (!two)
                        lowerRows();
                    std::exception_ptr ownFailure;
                    try {
                        for (int64_t n = k; n < next; ++n)
                            addRows(n, split, box.high[a1], coarse ? voxels : upper,
                                    coarse ? kept : upperKept);
                    } catch (...) {
                        ownFailure = std::current_exception();
                    }
                    if (two)
                        helper.join();
                    for (const std::exception_ptr& thrown : {failure, ownFailure})
                        if (thrown)
                            std::rethrow_exception(thrown);
                    if (!coarse) {
                        kept += upperKept;
                        if (kept <= plan.maxVoxels) {
                            voxels.positions.insert(voxels.positions.end(), upper.positions.begin(),
                                                    upper.positions.end());
                            voxels.colors.insert(voxels.colors.end(), upper.colors.begin(),
                                                 upper.colors.end());
                        }
                    }
                    k = next;
                }
            });
    });
    if (!ok) {
        out = VoxelGrid();
        return false;
    }
    if (coarse) {
        flushLayer();
        if (layers.hollow && layers.middleAt >= 0)
            judgeMiddle(layers, nullptr);
        if (layers.counted > plan.maxVoxels) {
            out = VoxelGrid();
            kept = plan.maxVoxels + 1;
            return true;
        }
        // All of one colour: the shade stage comes before the hollow one.
        const bool hollowed = layers.hollow && !layers.keepAll;
        std::vector<CellColor>& list = hollowed ? layers.open : layers.all;
        sortByCell(list, cells.cells);
        CellColorSums sums;
        sums.cells = std::move(list);
        sums.merged = sums.cells.size();
        kept = layers.counted;
        cellsToVoxels(sums, cells.origin, cells.size, out);
        out.madeUpColors = colors.byHeight;
        out.atAskedSize = true;
        out.hollowed = hollowed;
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
