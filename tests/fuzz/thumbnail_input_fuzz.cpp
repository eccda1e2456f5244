// Feeds arbitrary bytes to the thumbnail's checks of a file's first bytes, as
// the whole file and as the start of a longer one. They must never read past
// the bytes they are given (the address checker sees that), and it must never
// refuse a file the loader reads: whatever loads is voxel text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/thumbnail_input.h"
#include "fuzz_file.h"
#include "model/voxel_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so a read past them is caught.
    std::vector<char> bytes(data, data + size);
    const char* text = bytes.empty() ? nullptr : bytes.data();
    int32_t count = 0;
    bool whole = looksLikeVoxelText(text, size, int64_t(size), &count);
    // The same bytes as the probe of a file that goes on.
    int32_t cutCount = 0;
    looksLikeVoxelText(text, size, int64_t(size) + 1, &cutCount);
    // The other formats' probes must stay within the bytes too.
    looksLikeMagicaVoxel(text, size);
    binvoxHeaderCells(text, size, thumbnailMaxBinvoxCells);

    const char* path = writeFuzzInput("thumbnail_input_fuzz", data, size);
    VoxelModel* loaded = loadVoxels(path);
    remove(path);
    if (loaded) {
        if (!whole || count != loaded->count)
            abort(); // a file the viewer opens was taken for something else
        freeVoxelModel(loaded);
    }
    return 0;
}
