#include "fuzz_file.h"

#include <cstdio>
#include <cstdlib>
#include <string>
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
