// Which files get a desktop thumbnail: voxel text, MagicaVoxel .vox and
// binvox files. The extension .vxl is also used by binary voxel formats
// (Voxlap maps, Westwood models), and .vox by Voxlap's and others; a
// thumbnailer must refuse those rather than draw a wrong picture, and must
// refuse files too big to draw quickly before reading them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Thumbnails are made of files of at most this many voxels...
constexpr int32_t thumbnailMaxVoxels = 1000000;
// ...and at most this many bytes (a million voxels take about 36 MB).
constexpr int64_t thumbnailMaxBytes = int64_t(64) << 20;

// ...and, for binvox, grids of at most this many cells (256^3, the finest
// that ShapeNet's voxelisations use), all of which the reader allocates.
constexpr int64_t thumbnailMaxBinvoxCells = int64_t(256) * 256 * 256;

// How much of the file's start the check reads.
constexpr size_t thumbnailProbeBytes = 4096;

// Whether `text` (the first `size` bytes of a file of `fileSize` bytes)
// starts as a voxel text file does: a count and a voxel size as the loader
// reads them, then as many whole voxels as lie within these bytes, all as
// numbers in plain text. Sets *count to the file's voxel count when it does.
bool looksLikeVoxelText(const char* text, size_t size, int64_t fileSize, int32_t* count);

// What a thumbnail is drawn from: voxel text goes to the viewer's loader,
// the others through the converter's readers.
enum class ThumbnailKind { voxelText, magicaVoxel, binvox };

// Whether `text` (a file's first `size` bytes) starts as a MagicaVoxel file:
// "VOX ", a version, then the MAIN chunk.
bool looksLikeMagicaVoxel(const char* text, size_t size);

// The number of cells of the grid a binvox header within `text` declares
// ("#binvox", then a "dim X Y Z" line before "data"), or -1 when these bytes
// hold no such header. Stops counting past `limit`, returning limit + 1.
int64_t binvoxHeaderCells(const char* text, size_t size, int64_t limit);

// The check of a file to be thumbnailed: readable, a regular file, voxel
// text, MagicaVoxel or binvox by its content, within the limits. A name
// ending in .vox or .binvox whose content is not that format is refused as
// such. Reads at most thumbnailProbeBytes of it. Sets *kind; on refusal
// returns false with one line in *error (no trailing line break).
bool checkThumbnailInput(const char* path, ThumbnailKind* kind, std::string* error);
