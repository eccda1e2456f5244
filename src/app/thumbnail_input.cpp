#include "app/thumbnail_input.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
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

bool looksLikeMagicaVoxel(const char* text, size_t size) {
    return size >= 12 && memcmp(text, "VOX ", 4) == 0 && memcmp(text + 8, "MAIN", 4) == 0;
}

int64_t binvoxHeaderCells(const char* text, size_t size, int64_t limit) {
    const char magic[] = "#binvox";
    if (size < sizeof magic - 1 || memcmp(text, magic, sizeof magic - 1) != 0)
        return -1;
    const char* end = text + size;
    const char* line = text;
    while (line < end) {
        const char* next = static_cast<const char*>(memchr(line, '\n', size_t(end - line)));
        if (!next)
            return -1; // the header goes on past the probe
        const std::string words(line, next);
        line = next + 1;
        if (words.rfind("data", 0) == 0)
            return -1;
        if (words.rfind("dim ", 0) != 0)
            continue;
        int64_t cells = 1;
        const char* p = words.c_str() + 3;
        for (int axis = 0; axis < 3; ++axis) {
            char* after = nullptr;
            errno = 0;
            const long long n = strtoll(p, &after, 10);
            if (after == p || errno != 0 || n < 1)
                return -1;
            p = after;
            cells = n > limit || cells * n > limit ? limit + 1 : cells * n;
        }
        return cells;
    }
    return -1;
}

namespace {

bool endsWithCaseless(const std::string& name, const char* end) {
    const size_t n = strlen(end);
    return name.size() >= n && strcasecmp(name.c_str() + name.size() - n, end) == 0;
}

} // namespace

bool checkThumbnailInput(const char* path, ThumbnailKind* kind, std::string* error) {
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
    // The content decides; a name that promises a format the content is not
    // (a Voxlap .vox) is refused as not being that format.
    if (looksLikeMagicaVoxel(probe, got)) {
        *kind = ThumbnailKind::magicaVoxel;
        return true;
    }
    const int64_t cells = binvoxHeaderCells(probe, got, thumbnailMaxBinvoxCells);
    if (cells > thumbnailMaxBinvoxCells) {
        *error = name + " has too many voxels for a thumbnail (a grid of more than " +
                 std::to_string(thumbnailMaxBinvoxCells) + " cells)";
        return false;
    }
    if (cells > 0) {
        *kind = ThumbnailKind::binvox;
        return true;
    }
    if (endsWithCaseless(name, ".vox")) {
        *error = name + " is not a MagicaVoxel file";
        return false;
    }
    if (endsWithCaseless(name, ".binvox")) {
        *error = name + " is not a binvox file";
        return false;
    }
    *kind = ThumbnailKind::voxelText;
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
