#include "convert/sample_grid.h"

#include "convert/gzip_grid.h"
#include "read/binvox_reader.h"
#include "read/nifti_reader.h"
#include "read/npy_reader.h"
#include "read/nrrd_reader.h"
#include "samples/volume_resample.h"

#include "platform/input_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>

bool samplesToGrid(const SampleVolume& volume, bool isVolume, const GridReadOptions& options,
                   VoxelGrid& out, std::string& error) {
    ColorMode mode = options.colors == ColorMode::automatic
                         ? defaultColorMode(volume.meaning, isVolume)
                         : options.colors;
    if (!checkThresholdRule(volume, options.threshold, mode, error) ||
        !resampleToCubes(volume, options.threshold, mode, options.maxVoxels, out, error)) {
        error = std::string(options.path) + ": " + error;
        return false;
    }
    return true;
}

bool refuseFile(const GridReadOptions& options, const char* format, std::string& error) {
    error = std::string("cannot read ") + options.path + " as " + format + ": " + error;
    return false;
}

std::string memoryRefusal(const std::string& what, long double neededBytes, int64_t allowedBytes) {
    const long double mebibyte = 1024.0L * 1024.0L;
    // Needs rounded up and the allowance down, so that the two never meet.
    const long double needed = std::ceil(neededBytes / mebibyte);
    char figures[96];
    snprintf(figures, sizeof figures,
             needed < 1e15L ? "it needs %.0Lf MiB, more than the %lld MiB allowed"
                            : "it needs %.3Lg MiB, more than the %lld MiB allowed",
             needed, static_cast<long long>(allowedBytes / (int64_t(1) << 20)));
    return what + " is larger than the memory allowed: " + figures + " (raise --max-memory)";
}

bool namedAs(const uint8_t* head, size_t size, const char* path, const char* extension) {
    if (!hasExtension(path, extension))
        return false;
    static const char* const magics[] = {"#binvox", "\x93NUMPY", "PK\x03\x04",
                                         "NRRD000", "VOX ",      "\x1f\x8b"};
    for (const char* magic : magics) {
        size_t length = strlen(magic);
        if (size >= length && memcmp(head, magic, length) == 0)
            return false;
    }
    return !startsWithNiftiHeader(head, size);
}

int64_t detachedDataBytes(const char* path) {
    std::vector<uint8_t> head;
    std::string error;
    // A header is a few hundred bytes; the fields that name a data file come
    // within the first few kilobytes of any real one. Only a regular file is
    // looked at: a pipe's bytes are its reader's alone.
    if (!readFileHead(path, 65536, head, error))
        return 0;
    std::string data;
    NrrdHeader nrrd;
    NiftiHeader nifti;
    if (parseNrrdHeader(head.data(), head.size(), nrrd, error) && !nrrd.dataFile.empty()) {
        if (!nrrdDataPath(path, nrrd, data, error))
            return 0;
    } else if (parseNiftiHeader(head.data(), head.size(), nifti, error) && nifti.pair) {
        data = niftiImagePath(path);
    }
    struct stat info;
    if (data.empty() || stat(data.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return int64_t(info.st_size);
}

bool readsSamples(GridReader reader) {
    return reader == readBinvoxGrid || reader == readNpyGrid || reader == readNpzGrid ||
           reader == readNrrdGrid || reader == readNiftiGrid || reader == readGzipGrid;
}
