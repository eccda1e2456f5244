#include "convert/input_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

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
    FILE* file = fopen(path, "rb");
    if (!file)
        return failWith(path, errno, error);
    head.resize(most);
    head.resize(fread(head.data(), 1, most, file));
    const bool failed = ferror(file);
    const int code = errno;
    fclose(file);
    return failed ? failWith(path, code, error) : true;
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
