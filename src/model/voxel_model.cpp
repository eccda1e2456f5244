#include "model/voxel_model.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "model/file_window.h"
#include "model/number_reader.h"
#include "model/plain_records.h"
#include "platform/large_array.h"
#include "platform/second_thread.h"

VoxelModel* model = nullptr;

// Every voxel is six numbers and every number takes at least one byte of the
// file, so a regular file of n bytes after the header holds at most n / 6
// voxels. Checking this first keeps a corrupt header from asking for gigabytes.
static constexpr int64_t minBytesPerVoxel = 6;

// Voxels are read into arrays that grow by doubling when the file's size is
// unknown (a pipe), so memory follows the data actually present.
static constexpr int32_t initialCapacityUnknownSize = 1 << 16;

void freeVoxelModel(VoxelModel* m) {
    if (m) {
        free(m->positions);
        free(m->colors);
        free(m);
    }
}

std::string* loaderMessageSink = nullptr;

// Every message of the loader goes out through here: one line to stderr, in
// one write, or into loaderMessageSink, without its newline, when a caller has
// set one.
__attribute__((format(printf, 1, 2))) static void sayLine(const char* format, ...) {
    va_list args, measure;
    va_start(args, format);
    va_copy(measure, args);
    const int length = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string line(size_t(length > 0 ? length : 0), '\0');
    if (length > 0)
        vsnprintf(line.data(), line.size() + 1, format, args);
    va_end(args);
    if (loaderMessageSink)
        *loaderMessageSink = line;
    else
        fprintf(stderr, "%s\n", line.c_str());
}

// The loader's messages, each written in one place. Every one is a single
// line naming the file.
static void sayErrorReading(const char* path) {
    sayLine("Error reading %s", path);
}

static void sayNoMemory(int32_t count, const char* path) {
    sayLine("Not enough memory for %d voxels from %s", count, path);
}

// Opens the file, or says it cannot.
static FILE* openVoxelFile(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file)
        sayLine("Couldn't read %s", path);
    return file;
}

// Whether the header's count can be loaded, saying why not. `bytesLeft` is
// what the file holds after the header, or -1 when that is unknown (a pipe).
// A count the file cannot hold gets the line that running out of numbers
// would give, and before the other checks, since that is what it would come
// to: a file promising a hundred million voxels and holding ten has run out
// of numbers, whatever a hundred million would have needed.
static bool countIsLoadable(int32_t count, int64_t bytesLeft, const char* path) {
    if (bytesLeft >= 0 && int64_t(count) * minBytesPerVoxel > bytesLeft) {
        sayErrorReading(path);
        return false;
    }
    if (count < 0) {
        sayLine("Negative voxel count %d in %s", count, path);
        return false;
    }
    if (count > maxVoxelCount) {
        sayLine("Too many voxels to draw (%d, at most %d) in %s", count, maxVoxelCount, path);
        return false;
    }
    return true;
}

static VoxelModel* newModel(int32_t count, float voxelSize, const char* path) {
    VoxelModel* m = static_cast<VoxelModel*>(calloc(1, sizeof(VoxelModel)));
    if (!m) {
        sayNoMemory(count, path);
        return nullptr;
    }
    m->count = count;
    m->voxelSize = voxelSize;
    return m;
}

// ---------------------------------------------------------------- with fscanf

// Frees what a failed load took and closes its file.
static VoxelModel* giveUp(FILE* file, VoxelModel* m) {
    freeVoxelModel(m);
    fclose(file);
    return nullptr;
}

static bool reserveVoxels(VoxelModel* m, int32_t capacity) {
    float* positions = static_cast<float*>(realloc(m->positions, sizeof(float) * 3 * capacity));
    if (positions)
        m->positions = positions;
    uint8_t* colors = static_cast<uint8_t*>(realloc(m->colors, 3 * size_t(capacity)));
    if (colors)
        m->colors = colors;
    return positions && colors;
}

// Bytes left in `file` after the current position, or -1 when it is not a
// regular file whose size is known.
static int64_t bytesRemaining(FILE* file) {
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    long position = ftell(file);
    if (position < 0)
        return -1;
    return int64_t(info.st_size) - position;
}

// Reads the voxels from an open stream with fscanf and closes it.
static VoxelModel* readWithStdio(FILE* file, const char* path) {
    int count = 0;
    float voxelSize = 0.0f;
    if (fscanf(file, "%d%f", &count, &voxelSize) != 2) {
        sayErrorReading(path);
        return giveUp(file, nullptr);
    }
    int64_t remaining = bytesRemaining(file);
    if (!countIsLoadable(count, remaining, path))
        return giveUp(file, nullptr);
    VoxelModel* m = newModel(count, voxelSize, path);
    if (!m)
        return giveUp(file, nullptr);

    // A regular file has passed the size check, so its arrays are taken whole;
    // a pipe's grow by doubling as its voxels arrive.
    int32_t capacity = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (i == capacity) {
            if (capacity == 0)
                capacity = remaining >= 0 || count < initialCapacityUnknownSize
                               ? count
                               : initialCapacityUnknownSize;
            else
                capacity = capacity > count / 2 ? count : capacity * 2;
            if (!reserveVoxels(m, capacity)) {
                sayNoMemory(count, path);
                return giveUp(file, m);
            }
        }
        float* p = m->positions + 3 * size_t(i);
        int red = 0, green = 0, blue = 0;
        if (fscanf(file, "%f%f%f%d%d%d", &p[0], &p[1], &p[2], &red, &green, &blue) != 6) {
            sayErrorReading(path);
            return giveUp(file, m);
        }
        // Colours keep their low eight bits: 256 wraps to 0 and -1 to 255.
        uint8_t* c = m->colors + 3 * size_t(i);
        c[0] = uint8_t(red);
        c[1] = uint8_t(green);
        c[2] = uint8_t(blue);
    }
    fclose(file);
    return m;
}

VoxelModel* loadVoxelsWithStdio(const char* path) {
    FILE* file = openVoxelFile(path);
    return file ? readWithStdio(file, path) : nullptr;
}

// ---------------------------------------------------------- from text pieces

// After a record the plain-record reader could not take, this many are read
// with the general scanners before it is tried again, so that a file full of
// exponents or hexadecimal floats does not re-classify its text for nothing.
static constexpr int32_t generalRecordsAfterRefusal = 32;

bool loaderUsesSecondThread = true;

// Below this much text a second thread costs more than it saves.
static constexpr long bytesForASecondThread = 1 << 20;

// How far the reading of records got: where the text stands and the index of
// the next record to read.
struct RecordProgress {
    const char* p;
    int32_t next;
};

// Reads records first to limit - 1 of m from p, as the fscanf loop would
// from there, for as long as each record's numbers all lie before `end`.
// Stops at the first record that does not read whole: the text ends within
// it, or it holds something no conversion takes. Returns where that record
// starts and its index (limit when all were read).
static RecordProgress readRecords(const char* p, const char* end, VoxelModel* m, int32_t first,
                                  int32_t limit) {
    int32_t plainFrom = first;
    for (int32_t i = first; i < limit; ++i) {
        if (i >= plainFrom) {
            i += readPlainRecords(&p, end, limit - i, m->positions + 3 * size_t(i),
                                  m->colors + 3 * size_t(i));
            if (i == limit)
                break;
            plainFrom = i + 1 + generalRecordsAfterRefusal;
        }
        const char* start = p;
        float* position = m->positions + 3 * size_t(i);
        int32_t red, green, blue;
        if (!(p = scanFloatInline(p, end, &position[0])) ||
            !(p = scanFloatInline(p, end, &position[1])) ||
            !(p = scanFloatInline(p, end, &position[2])) || !(p = scanIntInline(p, end, &red)) ||
            !(p = scanIntInline(p, end, &green)) || !(p = scanIntInline(p, end, &blue)))
            return {start, i};
        // Colours keep their low eight bits: 256 wraps to 0 and -1 to 255.
        uint8_t* color = m->colors + 3 * size_t(i);
        color[0] = uint8_t(red);
        color[1] = uint8_t(green);
        color[2] = uint8_t(blue);
    }
    return {p, limit};
}

// Reads m's records from `first` on from p, as many as lie whole before `end`.
// A big stretch of text has its second half read at the same time on a second
// thread, from a record start guessed by counting the runs of characters
// between white space. That half is kept only when this thread, reading
// exactly, arrives at the same record at the same place; otherwise it is read
// again here.
static RecordProgress readRecordsInTwo(const char* p, const char* end, VoxelModel* m,
                                       int32_t first) {
    const int32_t count = m->count;
    int64_t guess = 0;
    const char* second = loaderUsesSecondThread && end - p >= bytesForASecondThread
                             ? findRecordStart(p, p + (end - p) / 2, end, &guess)
                             : nullptr;
    int32_t secondRead = 0;
    const char* secondStop = second;
    std::thread helper;
    if (second && guess > 0 && guess < count - first) {
        const int32_t from = first + int32_t(guess);
        startSecondThread(&helper, [&, from] {
            secondRead =
                readPlainRecords(&secondStop, end, count - from, m->positions + 3 * size_t(from),
                                 m->colors + 3 * size_t(from));
        });
    }
    if (!helper.joinable())
        return readRecords(p, end, m, first, count);
    const int32_t from = first + int32_t(guess);
    RecordProgress progress = readRecords(p, end, m, first, from);
    // The second thread writes records from `from` on, so it must be done
    // before this one reads them itself, or returns and frees the arrays.
    helper.join();
    if (progress.next < from)
        return progress;
    if (skipSpace(progress.p, end) == second) {
        progress.p = secondStop;
        progress.next = from + secondRead;
    }
    return readRecords(progress.p, end, m, progress.next, count);
}

// A number that starts this far before the end of the text read so far, and
// is still refused, is refused whatever follows: the only numbers that more
// text could turn from refused into read are cut-off names and prefixes
// ("-infinit", "0x", a sign), all shorter than this.
static constexpr long refusalNeedsNoMoreText = 32;

// Reads one number with `scan` from *p, reading further pieces of the file
// while what has been read might end inside it: a number that stops before
// the end of the text read so far stops there whatever comes after, so it
// reads exactly as it would from the whole file. White space already read is
// let go of before reading more, so a long run of it costs no memory. False,
// with an error to report, when no number can be read there.
template <typename T, typename Scanner>
static bool scanAcrossPieces(FileWindow* w, const char** p, Scanner scan, T* value) {
    const char* start = skipSpace(*p, w->end);
    for (;;) {
        const char* after = start == w->end ? nullptr : scan(start, w->end, value);
        if (w->atEnd || (after ? after < w->end : w->end - start >= refusalNeedsNoMoreText)) {
            *p = after;
            return after != nullptr;
        }
        if (!(start = advanceFileWindow(w, start)))
            return false;
        start = skipSpace(start, w->end);
    }
}

static const char* scanIntAt(const char* p, const char* end, int32_t* value) {
    return scanIntInline(p, end, value);
}

static const char* scanFloatAt(const char* p, const char* end, float* value) {
    return scanFloatInline(p, end, value);
}

// Record i read a number at a time, across the end of a piece.
static bool readRecordAcrossPieces(FileWindow* w, const char** p, VoxelModel* m, int32_t i) {
    float* position = m->positions + 3 * size_t(i);
    int32_t red, green, blue;
    if (!scanAcrossPieces(w, p, scanFloatAt, &position[0]) ||
        !scanAcrossPieces(w, p, scanFloatAt, &position[1]) ||
        !scanAcrossPieces(w, p, scanFloatAt, &position[2]) ||
        !scanAcrossPieces(w, p, scanIntAt, &red) || !scanAcrossPieces(w, p, scanIntAt, &green) ||
        !scanAcrossPieces(w, p, scanIntAt, &blue))
        return false;
    uint8_t* color = m->colors + 3 * size_t(i);
    color[0] = uint8_t(red);
    color[1] = uint8_t(green);
    color[2] = uint8_t(blue);
    return true;
}

// Where the numbers that lie whole in the text read so far end: just after
// its last white space (none of them can go on past that), or its very end
// once nothing more will come.
static const char* endOfWholeNumbers(const FileWindow* w, const char* p) {
    if (w->atEnd)
        return w->end;
    const char* q = w->end;
    while (q > p && !isSpaceChar(q[-1]))
        --q;
    return q;
}

// All of m's records from p: piece after piece, the records that lie whole in
// it are read at full speed, and the one across its end a number at a time.
static bool readAllRecords(FileWindow* w, const char* p, VoxelModel* m) {
    int32_t i = 0;
    while (i < m->count) {
        RecordProgress progress = readRecordsInTwo(p, endOfWholeNumbers(w, p), m, i);
        p = progress.p;
        i = progress.next;
        if (i == m->count)
            break;
        if (!readRecordAcrossPieces(w, &p, m, i))
            return false;
        ++i;
    }
    return true;
}

// The checks, messages and order of readWithStdio, with each fscanf call
// replaced by the scanners that read exactly as it does.
static VoxelModel* readFromWindow(FileWindow* w, const char* path) {
    const char* p = w->buffer;
    int32_t count = 0;
    float voxelSize = 0.0f;
    if (!scanAcrossPieces(w, &p, scanIntAt, &count) ||
        !scanAcrossPieces(w, &p, scanFloatAt, &voxelSize)) {
        sayErrorReading(path);
        return nullptr;
    }
    if (!countIsLoadable(count, bytesAfter(w, p), path))
        return nullptr;
    VoxelModel* m = newModel(count, voxelSize, path);
    if (!m || count == 0)
        return m;
    m->positions = static_cast<float*>(allocateLargeArray(sizeof(float) * 3 * size_t(count)));
    m->colors = static_cast<uint8_t*>(allocateLargeArray(3 * size_t(count)));
    if (!m->positions || !m->colors) {
        sayNoMemory(count, path);
        freeVoxelModel(m);
        return nullptr;
    }
    if (!readAllRecords(w, p, m)) {
        sayErrorReading(path);
        freeVoxelModel(m);
        return nullptr;
    }
    return m;
}

VoxelModel* readVoxelText(const char* text, size_t size, const char* path) {
    FileWindow w;
    openMemoryWindow(&w, text, size);
    return readFromWindow(&w, path);
}

VoxelModel* loadVoxels(const char* path) {
    FILE* file = openVoxelFile(path);
    if (!file)
        return nullptr;
    // Only a regular file with content is read in pieces; /proc files that
    // claim no size, pipes, terminals and directories are read as a stream.
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0)
        return readWithStdio(file, path);
    FileWindow w;
    VoxelModel* m = nullptr;
    if (openFileWindow(&w, fileno(file), int64_t(info.st_size))) {
        m = readFromWindow(&w, path);
        closeFileWindow(&w);
    } else if (w.readFailed) {
        sayErrorReading(path);
    } else {
        // No buffer to be had: the stream needs next to no memory.
        return readWithStdio(file, path);
    }
    fclose(file);
    return m;
}
