#include "convert/file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

bool readFileBytes(const std::string& path, int64_t maxBytes, std::vector<uint8_t>& bytes,
                   std::string& error) {
    bytes.clear();
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        error = strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(fileno(file), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            fclose(file);
            error = "it is a folder";
            return false;
        }
        if (S_ISREG(info.st_mode)) {
            if (int64_t(info.st_size) > maxBytes) {
                fclose(file);
                error = "larger than the memory allowed";
                return false;
            }
            bytes.reserve(size_t(info.st_size));
        }
    }
    uint8_t buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) {
        if (int64_t(bytes.size() + got) > maxBytes) {
            fclose(file);
            bytes.clear();
            error = "larger than the memory allowed";
            return false;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    bool failed = ferror(file);
    int savedErrno = errno;
    fclose(file);
    if (failed) {
        bytes.clear();
        error = strerror(savedErrno);
        return false;
    }
    return true;
}

std::string besideFile(const std::string& reference, const std::string& name) {
    if (!name.empty() && name[0] == '/')
        return name;
    size_t slash = reference.rfind('/');
    if (slash == std::string::npos)
        return name;
    return reference.substr(0, slash + 1) + name;
}
