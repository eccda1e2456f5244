// Feeds arbitrary bytes to the volume readers: NRRD headers and their raw or
// gzip data, NIfTI-1 headers, and gzip streams around either. The first
// bytes decide which, as the converter's reader table does.
#include "convert/gzip_grid.h"
#include "grid_fuzz_common.h"
#include "read/nifti_reader.h"
#include "read/nrrd_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    GridReader reader = readNiftiGrid;
    if (size >= 2 && data[0] == 0x1f && data[1] == 0x8b)
        reader = readGzipGrid;
    else if (size >= 4 && data[0] == 'N' && data[1] == 'R')
        reader = readNrrdGrid;
    fuzzGridReader(reader, data, size, "/nonexistent-fuzz-dir/input");
    return 0;
}
