// Feeds arbitrary bytes to the NumPy readers: a .npy header (dtype, shape,
// order) or a zip archive's directory, sizes and deflated members. The first
// bytes decide which, as the converter's reader table does.
#include "grid_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool zip = size >= 2 && data[0] == 'P' && data[1] == 'K';
    fuzzGridReader(data, size,
                   zip ? "/nonexistent-fuzz-dir/input.npz" : "/nonexistent-fuzz-dir/input.npy");
    return 0;
}
