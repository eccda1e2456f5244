// Feeds arbitrary bytes to the .vox reader, places whatever it accepts and
// writes the voxels out, so every size, count and index the file claims is
// checked against the data under the address and undefined-behaviour checks.
#include "read/vox_reader.h"
#include "write/vxl_writer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FILE* sink = fopen("/dev/null", "wb");
    if (!sink)
        abort();
    VoxScene scene;
    std::string error;
    if (!parseVox(data, size, scene, error)) {
        if (error.empty())
            abort(); // a refusal always says why
        return 0;
    }
    VoxelList voxels;
    if (placeVoxScene(scene, 1.0f, 1000000, voxels, error)) {
        if (voxels.positions.size() != 3 * (voxels.colors.size() / 3) ||
            voxels.colors.size() % 3 != 0)
            abort();
        writeVoxelStream(sink, voxels);
    } else if (error.empty()) {
        abort();
    }
    return 0;
}
