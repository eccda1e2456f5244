// Feeds arbitrary bytes to the binvox reader: the header's sizes and every
// run length come from the data.
#include "grid_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzGridReader(data, size, "/nonexistent-fuzz-dir/input.binvox");
    return 0;
}
