#include "platform/input_file.h"

#include "platform/file_type.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool failWith(const char* path, int code, std::string& error) {
    error = std::string("cannot read ") + path + ": " + strerror(code);
    return false;
}

// Reads blocks into `bytes` from `used` on, growing it, until the file ends.
// A regular file's first block is its whole size and one byte more, to
// notice that it has grown since; a stream's grow by doubling.
bool readBlocks(FILE* file, size_t firstBlock, std::vector<uint8_t>& bytes) {
    size_t used = 0, capacity = firstBlock;
    for (;;) {
        bytes.resize(capacity);
        used += fread(bytes.data() + used, 1, capacity - used, file);
        if (used < capacity)
            break;
        capacity *= 2;
    }
    bytes.resize(used);
    return !ferror(file);
}

} // namespace

int64_t inputFileBytes(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISREG(info.st_mode) ? int64_t(info.st_size) : 0;
}

bool readFileHead(const char* path, size_t most, std::vector<uint8_t>& head, std::string& error) {
    // A FIFO or device is told from its name and never opened here: opening
    // a FIFO, even without waiting, lets its writer go on, and closing it
    // unread then breaks the writer's pipe before the real read begins. The
    // open cannot wait for a writer either way, should the name change.
    struct stat info = {};
    if (stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
        error = std::string(path) + " is " + fileTypeName(info.st_mode) + ", not a regular file";
        return false;
    }
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failWith(path, errno, error);
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        error = std::string(path) + " is " + fileTypeName(info.st_mode) + ", not a regular file";
        return false;
    }
    head.resize(most);
    size_t used = 0;
    while (used < most) {
        ssize_t n = read(fd, head.data() + used, most - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int code = errno;
            close(fd);
            return failWith(path, code, error);
        }
        if (n == 0)
            break;
        used += size_t(n);
    }
    head.resize(used);
    close(fd);
    return true;
}

bool readWholeFile(const char* path, std::vector<uint8_t>& bytes, std::string& error) {
    FILE* file = fopen(path, "rb");
    if (!file)
        return failWith(path, errno, error);
    struct stat info;
    const bool sized = fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    // The file's own buffering adds nothing to reads this large.
    setvbuf(file, nullptr, _IONBF, 0);
    const bool read = readBlocks(file, sized ? size_t(info.st_size) + 1 : size_t(1) << 16, bytes);
    const int code = errno;
    fclose(file);
    if (!read) {
        bytes.clear();
        return failWith(path, code, error);
    }
    return true;
}
