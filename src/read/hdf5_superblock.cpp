#include "read/hdf5_superblock.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char signature[] = "\x89HDF\r\n\x1a\n";

// A little-endian address of `size` bytes; all ones is HDF5's undefined one.
uint64_t addressAt(const uint8_t* bytes, int size, bool& defined) {
    uint64_t value = 0;
    defined = false;
    for (int b = size - 1; b >= 0; --b) {
        value = value << 8 | bytes[b];
        defined = defined || bytes[b] != 0xff;
    }
    return value;
}

} // namespace

bool hdf5SuperblockFits(const char* path, std::string& reason) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0)
            close(fd);
        reason = "it is not a regular file that can be opened";
        return false;
    }
    const uint64_t size = uint64_t(info.st_size);
    // Version 0 and 1 superblocks hold the end of file address 24 (28) bytes
    // plus two addresses in; versions 2 and 3, 12 plus two. Addresses are of
    // 8 bytes at most.
    uint8_t block[28 + 3 * 8] = {};
    int64_t at = -1;
    ssize_t got = 0;
    for (uint64_t offset = 0; offset + 8 <= size; offset = offset ? 2 * offset : 512) {
        got = pread(fd, block, sizeof block, off_t(offset));
        if (got >= 8 && memcmp(block, signature, 8) == 0) {
            at = int64_t(offset);
            break;
        }
    }
    close(fd);
    if (at < 0) {
        reason = "it holds no HDF5 signature at 0, 512, 1024 ... bytes";
        return false;
    }
    if (got < 14) {
        reason = "it is cut short inside its superblock";
        return false;
    }
    const int version = block[8];
    const int offsets = version < 2 ? block[13] : block[9];
    if (version > 3 || (offsets != 2 && offsets != 4 && offsets != 8))
        return true;
    const size_t first = version == 0 ? 24 : version == 1 ? 28 : 12;
    if (size_t(got) < first + 3 * size_t(offsets)) {
        reason = "it is cut short inside its superblock";
        return false;
    }
    bool defined = false;
    const uint64_t end = addressAt(block + first + 2 * size_t(offsets), offsets, defined);
    if (defined && end > size) {
        reason = "it is cut short: its superblock says it ends at byte " + std::to_string(end) +
                 ", but it holds " + std::to_string(size) + " bytes";
        return false;
    }
    return true;
}
