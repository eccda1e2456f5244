// Which files get a desktop thumbnail. The extension .vxl is also used by
// binary voxel formats (Voxlap maps, Westwood models); a thumbnailer must
// refuse those rather than draw a wrong picture, and must refuse files too
// big to draw quickly before reading them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Thumbnails are made of files of at most this many voxels...
constexpr int32_t thumbnailMaxVoxels = 1000000;
// ...and at most this many bytes (a million voxels take about 36 MB).
constexpr int64_t thumbnailMaxBytes = int64_t(64) << 20;

// How much of the file's start the check reads.
constexpr size_t thumbnailProbeBytes = 4096;

// Whether `text` (the first `size` bytes of a file of `fileSize` bytes)
// starts as a voxel text file does: a count and a voxel size as the loader
// reads them, then as many whole voxels as lie within these bytes, all as
// numbers in plain text. Sets *count to the file's voxel count when it does.
bool looksLikeVoxelText(const char* text, size_t size, int64_t fileSize, int32_t* count);

// The check of a file to be thumbnailed: readable, a regular file, voxel
// text, within both limits. Reads at most thumbnailProbeBytes of it. On
// refusal returns false with one line in *error (no trailing line break).
bool checkThumbnailInput(const char* path, std::string* error);
