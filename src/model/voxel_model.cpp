#include "model/voxel_model.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

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

VoxelModel* loadVoxels(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file) {
        fprintf(stderr, "Couldn't read %s\n", path);
        return nullptr;
    }
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
