#include "convert/grid_readers.h"

#include "convert/gzip_grid.h"
#include "read/binvox_reader.h"
#include "read/nifti_reader.h"
#include "read/npy_reader.h"
#include "read/nrrd_reader.h"
#include "read/vox_reader.h"
#include "read/vxl_reader.h"

#include <cctype>
#include <cstring>

namespace {

// Asked in this order; the first sniffer that answers yes reads the file.
// Formats with a magic number come before those recognised by their shape or
// their name.
const GridFormat gridFormats[] = {
    {"gzip-compressed grid", looksLikeGzipGrid, readGzipGrid},
    {"binvox", looksLikeBinvox, readBinvoxGrid},
    {"NumPy .npy", looksLikeNpy, readNpyGrid},
    {"NumPy .npz", looksLikeNpz, readNpzGrid},
    {"NRRD", looksLikeNrrd, readNrrdGrid},
    {"NIfTI-1", looksLikeNifti, readNiftiGrid},
    {"MagicaVoxel .vox", looksLikeVox, readVoxGrid},
    {"voxel file .vxl", looksLikeVxl, readVxlGrid},
};

} // namespace

bool hasExtension(const char* path, const char* extension) {
    const size_t length = strlen(path), tail = strlen(extension);
    if (length < tail)
        return false;
    for (size_t i = 0; i < tail; ++i)
        if (tolower(static_cast<unsigned char>(path[length - tail + i])) != extension[i])
            return false;
    return true;
}

const GridFormat* findGridFormat(const uint8_t* head, size_t size, const char* path) {
    for (const GridFormat& format : gridFormats)
        if (format.sniff(head, size, path))
            return &format;
    return nullptr;
}
