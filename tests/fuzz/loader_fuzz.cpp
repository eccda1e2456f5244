// Feeds arbitrary bytes to both loaders through a real file, since the loaders
// take a path: the fast one that reads the file whole and the fscanf loop it must
// agree with. Any difference in the model's bits or in the lines written to
// stderr aborts, and libFuzzer keeps the input. Each process writes its own
// file, so parallel fuzzing jobs do not trample each other.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "dual_load.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = writeFuzzInput("loader_fuzz", data, size);

    // The comparison reads every stored number of both models, so a short
    // array also shows up under the address checker.
    std::string difference = compareLoaders(path);
    remove(path);
    if (!difference.empty()) {
        fprintf(stderr, "loader_fuzz: the loaders disagree: %s\n", difference.c_str());
        abort();
    }
    return 0;
}
