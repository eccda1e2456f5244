#include "fuzz_file.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "$TMPDIR/voxscope_TARGET.PID" (TMPDIR defaulting to /tmp).
std::string scratchName(const char* target) {
    const char* dir = getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/voxscope_" + target + "." +
           std::to_string(getpid());
}

void writeWhole(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        abort();
    if (size && fwrite(data, 1, size, file) != size)
        abort();
    fclose(file);
}

} // namespace

const char* writeFuzzInput(const char* target, const uint8_t* data, size_t size) {
    static std::string path;
    if (path.empty())
        path = scratchName(target) + ".vxl";
    writeWhole(path, data, size);
    return path.c_str();
}

namespace {

std::string aloneFolder, alonePath;

void removeAlone() {
    unlink(alonePath.c_str());
    rmdir(aloneFolder.c_str());
}

} // namespace

const char* writeFuzzInputAlone(const char* target, const char* name, const uint8_t* data,
                                size_t size) {
    std::string& folder = aloneFolder;
    std::string& path = alonePath;
    if (folder.empty()) {
        folder = scratchName(target);
        if (mkdir(folder.c_str(), 0700) != 0)
            abort();
        atexit(removeAlone);
    }
    if (!path.empty())
        unlink(path.c_str());
    path = folder + "/" + name;
    writeWhole(path, data, size);
    return path.c_str();
}
