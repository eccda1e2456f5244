#include "read/data_file.h"

#include "container/quoted_text.h"
#include "platform/file_type.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* withinFolder = "; a header may name only files in its own folder or below, "
                                     "so that it cannot point at other files on the machine";

bool climbs(const std::string& name) {
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        if (name.compare(start, end - start, "..") == 0 && end - start == 2)
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

std::string shownPath(const std::string& path) {
    return escapedText(path, 4096);
}

bool dataFilePath(const std::string& headerPath, const std::string& name, std::string& path,
                  std::string& error) {
    if (!name.empty() && name[0] == '/') {
        error = "its data file " + quotedText(name, 4096) + " is an absolute path" + withinFolder;
        return false;
    }
    if (climbs(name)) {
        error = "its data file " + quotedText(name, 4096) + " goes through \"..\"" + withinFolder;
        return false;
    }
    size_t slash = headerPath.rfind('/');
    path = slash == std::string::npos ? name : headerPath.substr(0, slash + 1) + name;
    return true;
}

bool openDataFile(const std::string& path, const char* role, const std::string& output,
                  DataFile& file, std::string& error) {
    const std::string its = std::string("its ") + role;
    auto refuseKind = [&](mode_t mode) {
        error = its + " " + shownPath(path) + " is " + fileTypeName(mode) + ", not a regular file";
        return false;
    };
    // A device or FIFO is refused from its name before it is opened at all
    // (opening some devices does something); the open cannot wait for a
    // FIFO's writer either way.
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return refuseKind(info.st_mode);
    file.fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file.fd < 0) {
        error = its + ": cannot read " + shownPath(path) + ": " + strerror(errno);
        return false;
    }
    if (fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const mode_t mode = info.st_mode;
        closeDataFile(file);
        return refuseKind(mode);
    }
    struct stat out;
    if (!output.empty() && stat(output.c_str(), &out) == 0 && out.st_dev == info.st_dev &&
        out.st_ino == info.st_ino) {
        closeDataFile(file);
        error = its + " " + shownPath(path) + " is the output; write the output to another file";
        return false;
    }
    file.size = int64_t(info.st_size);
    return true;
}

bool readDataBytes(const DataFile& file, const std::string& path, int64_t offset, size_t length,
                   std::vector<uint8_t>& bytes, std::string& error) {
    bytes.resize(length);
    size_t done = 0;
    while (done < length) {
        ssize_t n = pread(file.fd, bytes.data() + done, length - done, off_t(offset) + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "cannot read " + shownPath(path) + ": " +
                    (n < 0 ? strerror(errno) : "it became shorter while it was read");
            bytes.clear();
            return false;
        }
        done += size_t(n);
    }
    return true;
}

int64_t endOfLines(const DataFile& file, int64_t lines, int64_t most) {
    uint8_t block[1 << 16];
    int64_t pos = 0;
    while (lines > 0 && pos < most) {
        ssize_t n =
            pread(file.fd, block, size_t(std::min<int64_t>(sizeof block, most - pos)), off_t(pos));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        for (ssize_t i = 0; i < n; ++i)
            if (block[i] == '\n' && --lines == 0)
                return pos + i + 1;
        pos += n;
    }
    return lines == 0 ? pos : -1;
}

void closeDataFile(DataFile& file) {
    if (file.fd >= 0)
        close(file.fd);
    file.fd = -1;
}
