#include "model/voxel_model.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "model/large_array.h"
#include "model/number_reader.h"
#include "model/plain_records.h"

VoxelModel* model = nullptr;

// Every voxel is six numbers and every number takes at least one byte of the
// file, so a regular file of n bytes after the header holds at most n / 6
// voxels. Checking this first keeps a corrupt header from asking for gigabytes.
static constexpr int64_t minBytesPerVoxel = 6;

// Voxels are read into arrays that grow by doubling when the file's size is
// unknown (a pipe), so memory follows the data actually present.
static constexpr int32_t initialCapacityUnknownSize = 1 << 16;

// Frees what a failed load took and closes its file.
static VoxelModel* giveUp(FILE* file, VoxelModel* m) {
    if (m) {
        free(m->positions);
        free(m->colors);
        free(m);
    }
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
        fprintf(stderr, "Error reading %s\n", path);
        return giveUp(file, nullptr);
    }
    if (count < 0) {
        fprintf(stderr, "Negative voxel count %d in %s\n", count, path);
        return giveUp(file, nullptr);
    }
    if (count > maxVoxelCount) {
        fprintf(stderr, "Too many voxels to draw (%d, at most %d) in %s\n", count, maxVoxelCount,
                path);
        return giveUp(file, nullptr);
    }
    // A file too short for its count would run out of numbers part way; say so
    // now, before taking memory for voxels that cannot be there.
    int64_t remaining = bytesRemaining(file);
    if (remaining >= 0 && int64_t(count) * minBytesPerVoxel > remaining) {
        fprintf(stderr, "Error reading %s\n", path);
        return giveUp(file, nullptr);
    }

    VoxelModel* m = static_cast<VoxelModel*>(calloc(1, sizeof(VoxelModel)));
    if (!m) {
        fprintf(stderr, "Not enough memory for %d voxels from %s\n", count, path);
        return giveUp(file, nullptr);
    }
    m->count = count;
    m->voxelSize = voxelSize;

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
                fprintf(stderr, "Not enough memory for %d voxels from %s\n", count, path);
                return giveUp(file, m);
            }
        }
        float* p = m->positions + 3 * size_t(i);
        int red = 0, green = 0, blue = 0;
        if (fscanf(file, "%f%f%f%d%d%d", &p[0], &p[1], &p[2], &red, &green, &blue) != 6) {
            fprintf(stderr, "Error reading %s\n", path);
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
    FILE* file = fopen(path, "rb");
    if (!file) {
        fprintf(stderr, "Couldn't read %s\n", path);
        return nullptr;
    }
    return readWithStdio(file, path);
}

// ---------------------------------------------------------------- from memory

// After a record the plain-record reader could not take, this many are read
// with the general scanners before it is tried again, so that a file full of
// exponents or hexadecimal floats does not re-classify its text for nothing.
static constexpr int32_t generalRecordsAfterRefusal = 32;

bool loaderUsesSecondThread = true;

// Below this much text a second thread costs more than it saves.
static constexpr long bytesForASecondThread = 1 << 20;

static void freeModel(VoxelModel* m) {
    if (m) {
        free(m->positions);
        free(m->colors);
        free(m);
    }
}

// Reads records first to limit - 1 of m from p, as the fscanf loop would
// from there. Returns where the text then stands, or null where a number is
// missing (the text ends, or holds something no conversion takes).
static const char* readRecords(const char* p, const char* end, VoxelModel* m, int32_t first,
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
        float* position = m->positions + 3 * size_t(i);
        int32_t red, green, blue;
        if (!(p = scanFloatInline(p, end, &position[0])) ||
            !(p = scanFloatInline(p, end, &position[1])) ||
            !(p = scanFloatInline(p, end, &position[2])) || !(p = scanIntInline(p, end, &red)) ||
            !(p = scanIntInline(p, end, &green)) || !(p = scanIntInline(p, end, &blue)))
            return nullptr;
        // Colours keep their low eight bits: 256 wraps to 0 and -1 to 255.
        uint8_t* color = m->colors + 3 * size_t(i);
        color[0] = uint8_t(red);
        color[1] = uint8_t(green);
        color[2] = uint8_t(blue);
    }
    return p;
}

// Reads all of m's records from p. A big file's second half is read at the
// same time on a second thread, from a record start guessed by counting the
// runs of characters between white space. That half is kept only when this
// thread, reading exactly, arrives at the same record at the same place;
// otherwise it is read again here. Returns false where a number is missing.
static bool readRecordsInTwo(const char* p, const char* end, VoxelModel* m) {
    const int32_t count = m->count;
    int64_t guess = 0;
    const char* second = loaderUsesSecondThread && end - p >= bytesForASecondThread
                             ? findRecordStart(p, p + (end - p) / 2, end, &guess)
                             : nullptr;
    int32_t secondRead = 0;
    const char* secondStop = second;
    std::thread helper;
    if (second && guess > 0 && guess < count) {
        try {
            helper = std::thread([&] {
                secondRead = readPlainRecords(&secondStop, end, count - int32_t(guess),
                                              m->positions + 3 * size_t(guess),
                                              m->colors + 3 * size_t(guess));
            });
        } catch (const std::system_error&) {
            // No thread to be had: this one reads it all.
        }
    }
    if (!helper.joinable())
        return readRecords(p, end, m, 0, count) != nullptr;
    int32_t first = int32_t(guess);
    p = readRecords(p, end, m, 0, first);
    // The second thread writes records from `first` on, so it must be done
    // before this one reads them itself, or returns and frees the arrays.
    helper.join();
    if (!p)
        return false;
    if (skipSpace(p, end) == second) {
        p = secondStop;
        first += secondRead;
    }
    return readRecords(p, end, m, first, count) != nullptr;
}

// The checks, messages and order of readWithStdio, with each fscanf call
// replaced by the scanners that read exactly as it does.
VoxelModel* readVoxelText(const char* p, size_t size, const char* path) {
    const char* end = p + size;
    int32_t count = 0;
    float voxelSize = 0.0f;
    if (!(p = scanIntInline(p, end, &count)) || !(p = scanFloatInline(p, end, &voxelSize))) {
        fprintf(stderr, "Error reading %s\n", path);
        return nullptr;
    }
    if (count < 0) {
        fprintf(stderr, "Negative voxel count %d in %s\n", count, path);
        return nullptr;
    }
    if (count > maxVoxelCount) {
        fprintf(stderr, "Too many voxels to draw (%d, at most %d) in %s\n", count, maxVoxelCount,
                path);
        return nullptr;
    }
    if (int64_t(count) * minBytesPerVoxel > end - p) {
        fprintf(stderr, "Error reading %s\n", path);
        return nullptr;
    }
    VoxelModel* m = static_cast<VoxelModel*>(calloc(1, sizeof(VoxelModel)));
    if (!m) {
        fprintf(stderr, "Not enough memory for %d voxels from %s\n", count, path);
        return nullptr;
    }
    m->count = count;
    m->voxelSize = voxelSize;
    if (count == 0)
        return m;
    m->positions = static_cast<float*>(allocateLargeArray(sizeof(float) * 3 * size_t(count)));
    m->colors = static_cast<uint8_t*>(allocateLargeArray(3 * size_t(count)));
    if (!m->positions || !m->colors) {
        fprintf(stderr, "Not enough memory for %d voxels from %s\n", count, path);
        freeModel(m);
        return nullptr;
    }
    if (!readRecordsInTwo(p, end, m)) {
        fprintf(stderr, "Error reading %s\n", path);
        freeModel(m);
        return nullptr;
    }
    return m;
}

// Reads all of an open regular file of `size` bytes into `text`; returns how
// many bytes there were (fewer when the file has shrunk since), or -1.
static int64_t readWhole(int fd, char* text, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, text + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += size_t(n);
    }
    return int64_t(got);
}

VoxelModel* loadVoxels(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file) {
        fprintf(stderr, "Couldn't read %s\n", path);
        return nullptr;
    }
    // Only a regular file with content is read whole; /proc files that claim
    // no size, pipes, terminals and directories are read as a stream.
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0)
        return readWithStdio(file, path);
    // One read into fresh memory in large pages costs a third of what
    // mapping the file does: its page-cache pages would be mapped one small
    // page at a time, each first touch a fault.
    size_t size = size_t(info.st_size);
    char* text = static_cast<char*>(mapLargeBuffer(size));
    if (!text) // the stream needs next to no memory
        return readWithStdio(file, path);
    int64_t got = readWhole(fileno(file), text, size);
    VoxelModel* m = nullptr;
    if (got < 0)
        fprintf(stderr, "Error reading %s\n", path);
    else
        m = readVoxelText(text, size_t(got), path);
    unmapLargeBuffer(text, size);
    fclose(file);
    return m;
}
