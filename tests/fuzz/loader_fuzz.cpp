// Feeds arbitrary bytes to the loader through a real file, since the loader
// takes a path. Each process writes its own file, so parallel fuzzing jobs do
// not trample each other.
#include "model/voxel_model.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

static std::string scratchPath() {
    const char* dir = getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/voxscope_loader_fuzz." +
           std::to_string(getpid()) + ".vxl";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = scratchPath();
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        abort();
    if (size && fwrite(data, 1, size, file) != size)
        abort();
    fclose(file);

    VoxelModel* m = loadVoxels(path.c_str());
    if (m) {
        // Touch every stored number so a short array shows up under the
        // address checker.
        volatile float sum = 0.0f;
        for (int32_t i = 0; i < 3 * m->count; ++i)
            sum = sum + m->positions[i] + float(m->colors[i]);
        free(m->positions);
        free(m->colors);
        free(m);
    }
    remove(path.c_str());
    return 0;
}
