// Zarr v2 and v3 stores and OME-Zarr pyramids, read by path: the array
// zarr_store chooses, chunk by chunk (and shard by shard) straight into the
// volume, each chunk file opened as a data file (read/data_file.h).
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Whether the first bytes are Zarr metadata (a .zarray, .zgroup or
// zarr.json given instead of its folder).
bool startsAsZarrMetadata(const uint8_t* head, size_t size);

// Whether `folder` is a Zarr store: it holds Zarr metadata, or is named
// .zarr (and is refused when it holds none).
bool isZarrFolder(const char* folder);

// Reads the store at `path` (its folder, or a metadata file in it): the
// array's spatial axes x, y, z become i, j, k; other axes give their first
// index; missing chunks give the fill value. Notes on what was chosen go to
// stderr. Refuses with the reason alone.
bool readZarrStore(const char* path, const ReadOptions& options, SampleVolume& out,
                   std::string& reason);
