#include "fuzz_file.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

const char* writeFuzzInput(const char* target, const uint8_t* data, size_t size) {
    static std::string path;
    if (path.empty()) {
        const char* dir = getenv("TMPDIR");
        path = std::string(dir && *dir ? dir : "/tmp") + "/voxscope_" + target + "." +
               std::to_string(getpid()) + ".vxl";
    }
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        abort();
    if (size && fwrite(data, 1, size, file) != size)
        abort();
    fclose(file);
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
        const char* dir = getenv("TMPDIR");
        folder = std::string(dir && *dir ? dir : "/tmp") + "/voxscope_" + target + "." +
                 std::to_string(getpid());
        if (mkdir(folder.c_str(), 0700) != 0)
            abort();
        atexit(removeAlone);
    }
    if (!path.empty())
        unlink(path.c_str());
    path = folder + "/" + name;
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        abort();
    if (size && fwrite(data, 1, size, file) != size)
        abort();
    fclose(file);
    return path.c_str();
}
