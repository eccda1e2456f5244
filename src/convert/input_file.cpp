#include "convert/input_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool failWith(const char* path, int code, std::string& error) {
    error = std::string("cannot read ") + path + ": " + strerror(code);
    return false;
}

// Reads until `bytes` is full or the file ends; returns how many bytes came,
// or -1 with errno set.
ssize_t readFully(int fd, uint8_t* bytes, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, bytes + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += size_t(n);
    }
    return ssize_t(got);
}

} // namespace

bool readFileHead(const char* path, size_t most, std::vector<uint8_t>& head, std::string& error) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failWith(path, errno, error);
    head.resize(most);
    ssize_t got = readFully(fd, head.data(), most);
    int code = errno;
    close(fd);
    if (got < 0)
        return failWith(path, code, error);
    head.resize(size_t(got));
    return true;
}

bool readWholeFile(const char* path, std::vector<uint8_t>& bytes, std::string& error) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failWith(path, errno, error);
    struct stat info;
    const bool sized = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    // A regular file is read at its size, with one byte more to notice that
    // it has grown since; a stream grows the buffer block by block.
    size_t capacity = sized ? size_t(info.st_size) + 1 : size_t(1) << 16;
    size_t used = 0;
    bytes.clear();
    for (;;) {
        bytes.resize(capacity);
        ssize_t got = readFully(fd, bytes.data() + used, capacity - used);
        if (got < 0) {
            int code = errno;
            close(fd);
            bytes.clear();
            return failWith(path, code, error);
        }
        used += size_t(got);
        if (used < capacity)
            break;
        capacity *= 2;
    }
    close(fd);
    bytes.resize(used);
    return true;
}
