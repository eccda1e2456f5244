// Feeds arbitrary bytes to the volume readers: NRRD headers and their raw or
// gzip data, NIfTI-1 headers, and gzip streams around either. The first
// bytes decide which, as the converter's reader table does.
#include "grid_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = "/nonexistent-fuzz-dir/input.nii";
    if (size >= 2 && data[0] == 0x1f && data[1] == 0x8b)
        path = "/nonexistent-fuzz-dir/input.nii.gz";
    else if (size >= 4 && data[0] == 'N' && data[1] == 'R')
        path = "/nonexistent-fuzz-dir/input.nrrd";
    fuzzGridReader(data, size, path);
    return 0;
}
