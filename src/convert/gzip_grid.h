// Voxel grids inside a gzip stream (.nii.gz, and any grid format gzip-
// compressed): decompressed, then read by the format its content shows.
#pragma once

#include "convert/voxel_grid.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Whether a file is a gzip stream whose decompressed start (or whose name
// without ".gz") is a grid format's.
bool looksLikeGzipGrid(const uint8_t* head, size_t size, const char* path);

// Decompresses the file and hands it to the reader of what it holds. A NIfTI
// volume is decompressed only as far as its header says its samples reach;
// anything else no further than options.maxBytes. A gzip stream inside a
// gzip stream is refused.
bool readGzipGrid(const uint8_t* data, size_t size, const GridReadOptions& options, VoxelGrid& out,
                  std::string& error);
