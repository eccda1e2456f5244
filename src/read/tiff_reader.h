// TIFF stacks through libtiff: a multi-page file (plain, an ImageJ
// hyperstack or an OME-TIFF), read in memory, and a folder of single-page
// slices, each slice opened as a data file (read/data_file.h).
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Whether a file starts as a TIFF does: classic or BigTIFF, either byte order.
bool startsWithTiff(const uint8_t* head, size_t size);

// Reads the TIFF held in `data`: its pages, or those of the first channel
// and time point that its ImageJ or OME-XML description names, are the z
// slices, each of the first page's width, height and sample type (8 to
// 64 bits, unsigned, signed or float; 8-bit RGB or RGBA is colours), in
// strips or tiles, of any compression libtiff decodes, planar or not. x runs
// along a row, y up the image (its top row the highest), z through the
// pages. The samples, pages × width × height × sample bytes, are refused
// beyond `maxBytes` before anything is allocated for them; libtiff's own
// complaints become the reason, never printed.
bool parseTiff(const uint8_t* data, size_t size, int64_t maxBytes, SampleVolume& out,
               std::string& reason);

// Whether `folder` holds TIFF slices (files named .tif or .tiff).
bool isTiffFolder(const char* folder);

// Reads the folder's slices in the natural order of their names, each a
// single page of the first one's size and type; `output` is never read.
bool readTiffFolder(const char* folder, const ReadOptions& options, SampleVolume& out,
                    std::string& reason);
