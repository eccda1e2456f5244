// The table of voxel readers and how an input finds its reader by content.
// See voxel_grid.h for how a new reader is added.
#pragma once

#include "convert/voxel_grid.h"

#include <cstddef>
#include <cstdint>

struct GridFormat {
    const char* name; // for messages: "MagicaVoxel .vox", "voxel file .vxl", ...
    GridSniffer sniff;
    GridReader read;
};

// The reader for a file whose first bytes are `head` (its first `size`
// bytes, at most gridSniffBytes) and whose name is `path`; null when no voxel
// format claims it (it then goes to the mesh and point importer).
const GridFormat* findGridFormat(const uint8_t* head, size_t size, const char* path);
