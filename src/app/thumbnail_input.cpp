#include "app/thumbnail_input.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/number_reader.h"

bool looksLikeVoxelText(const char* text, size_t size, int64_t fileSize, int32_t* count) {
    const char* end = text + size;
    // When the file goes on past these bytes, the last number may be cut
    // short: look only up to the last white space.
    if (int64_t(size) < fileSize) {
        while (end > text && !isSpaceChar(end[-1]))
            --end;
    }
    int32_t n = 0;
    float voxelSize = 0.0f;
    const char* p = scanInt(text, end, &n);
    if (!p || n < 0)
        return false;
    p = scanFloat(p, end, &voxelSize);
    if (!p)
        return false;
    // Every voxel within these bytes must read as six numbers; a binary file
    // that happens to start with two numbers fails here.
    for (int32_t i = 0; i < n; ++i) {
        for (int k = 0; k < 6; ++k) {
            if (skipSpace(p, end) == end) {
                *count = n;
                return true; // the rest lies beyond what was read
            }
            float f;
            int32_t c;
            p = k < 3 ? scanFloat(p, end, &f) : scanInt(p, end, &c);
            if (!p)
                return false;
        }
    }
    *count = n;
    return true;
}

bool checkThumbnailInput(const char* path, std::string* error) {
    const std::string name = path;
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot read " + name + ": " + strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        *error = name + " is not a regular file";
        return false;
    }
    if (info.st_size > thumbnailMaxBytes) {
        close(fd);
        *error = name + " is too big for a thumbnail (" + std::to_string(info.st_size) +
                 " bytes, at most " + std::to_string(thumbnailMaxBytes) + ")";
        return false;
    }
    char probe[thumbnailProbeBytes];
    size_t got = 0;
    while (got < sizeof probe) {
        ssize_t r = read(fd, probe + got, sizeof probe - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            int saved = errno;
            close(fd);
            *error = "cannot read " + name + ": " + strerror(saved);
            return false;
        }
        if (r == 0)
            break;
        got += size_t(r);
    }
    close(fd);
    int32_t count = 0;
    if (!looksLikeVoxelText(probe, got, int64_t(info.st_size), &count)) {
        *error = name + " is not a voxel text file";
        return false;
    }
    if (count > thumbnailMaxVoxels) {
        *error = name + " has too many voxels for a thumbnail (" + std::to_string(count) +
                 ", at most " + std::to_string(thumbnailMaxVoxels) + ")";
        return false;
    }
    return true;
}
