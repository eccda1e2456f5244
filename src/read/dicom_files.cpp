#include "read/dicom_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool startsWithDicm(const uint8_t* head, size_t size) {
    return size >= 132 && memcmp(head + 128, "DICM", 4) == 0;
}

bool isDicomFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    uint8_t head[132];
    const bool dicom = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 132 &&
                       pread(fd, head, sizeof head, 0) == ssize_t(sizeof head) &&
                       startsWithDicm(head, sizeof head);
    close(fd);
    return dicom;
}

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Calls `take` with each entry's path in `folder` but "." and ".."; stops
// when it returns false. False when the folder cannot be opened.
template <typename Take> bool eachEntry(const std::string& folder, Take take) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    while (const dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        if (!take(folder + "/" + entry->d_name))
            break;
    }
    closedir(dir);
    return true;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool isDicomFolder(const char* folder) {
    bool found = false;
    eachEntry(folder, [&](const std::string& path) {
        const char* name = strrchr(path.c_str(), '/') + 1;
        found = strcmp(name, "DICOMDIR") == 0 || isDicomFile(path);
        return !found;
    });
    return found;
}

bool dicomFilesIn(const std::string& folder, const std::string& output, size_t most,
                  std::vector<std::string>& files, std::string& error) {
    files.clear();
    struct stat outputInfo;
    const bool outputExists = !output.empty() && stat(output.c_str(), &outputInfo) == 0;
    size_t entries = 0;
    const bool listed = eachEntry(folder, [&](const std::string& path) {
        if (++entries > most)
            return false;
        struct stat info;
        if (outputExists && stat(path.c_str(), &info) == 0 && sameFile(info, outputInfo))
            return true;
        if (isDicomFile(path))
            files.push_back(path);
        return true;
    });
    if (!listed) {
        error = "its folder " + folder + " cannot be listed: " + strerror(errno);
        return false;
    }
    if (entries > most) {
        error = "its folder holds more than " + std::to_string(most) + " entries";
        return false;
    }
    std::sort(files.begin(), files.end());
    return true;
}

int64_t dicomSeriesBytes(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0)
        return 0;
    const bool folder = S_ISDIR(info.st_mode);
    int64_t bytes = 0;
    eachEntry(folder ? std::string(path) : folderOf(path), [&](const std::string& entry) {
        struct stat other;
        if (stat(entry.c_str(), &other) == 0 && S_ISREG(other.st_mode) &&
            (folder || !sameFile(other, info)) && isDicomFile(entry))
            bytes += int64_t(other.st_size);
        return true;
    });
    return bytes;
}
