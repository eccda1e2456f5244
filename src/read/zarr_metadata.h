// A Zarr array's metadata (v2 `.zarray`, v3 `zarr.json`) as the chunk
// reader needs it: shape, chunks, sample type, fill value, the chunk keys and
// the codecs every stored chunk went through. JSON is parsed strictly, after
// its nesting is bounded, and every field is checked before anything is
// sized from it.
#pragma once

#include "samples/sample_volume.h"

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

// The byte-to-byte steps a chunk may have gone through, in the order they
// were applied when it was written.
enum class ZarrCompression { blosc, zlib, gzip, zstd, crc32c };

// How a chunk of `shape` samples became its stored bytes.
struct ZarrChunkCoding {
    std::vector<int64_t> shape;
    // Stored axis p is array axis order[p], the first the slowest: C order
    // is 0, 1, 2...; Fortran order and transposes permute it.
    std::vector<int> order;
    bool bigEndian = false;
    std::vector<ZarrCompression> steps;
};

struct ZarrArrayMeta {
    int format = 2;
    std::vector<int64_t> shape;
    SampleType type = SampleType::uint8;
    uint8_t fill[8] = {}; // one sample of the fill value, this machine's byte order
    // The chunk grid: each key names one stored object of `stored.shape`.
    ZarrChunkCoding stored;
    // Sharded (v3 sharding_indexed): each stored object is a shard of inner
    // chunks coded as `inner`, with an index of (offset, length) pairs
    // coded as `index` at its end or its start.
    bool sharded = false;
    ZarrChunkCoding inner;
    ZarrChunkCoding index;
    bool indexAtEnd = true;
    // Chunk keys: v2 joins the grid indices with the separator; v3's
    // default encoding puts "c" first.
    char separator = '.';
    bool keyPrefix = false;
    std::vector<std::string> dimensionNames; // v3 dimension_names, empty when absent
};

// Reads a parsed `.zarray` (format 2) or an array's `zarr.json` (format 3)
// into `out`. `maxBytes` bounds a chunk's decoded size; refusals name the
// field and what it held.
bool parseZarrArray(const nlohmann::json& doc, int format, int64_t maxBytes, ZarrArrayMeta& out,
                    std::string& reason);

// The number of samples of `shape`, or -1 when the product overflows 2^62.
int64_t zarrShapeProduct(const std::vector<int64_t>& shape);
