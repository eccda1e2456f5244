// The byte-to-byte codecs of Zarr chunks: blosc (libblosc), zlib and gzip
// (zlib), zstd (libzstd) and crc32c checksums; each chunk decoded to exactly
// the size its metadata gives it, or refused.
#pragma once

#include "read/zarr_metadata.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Undoes `coding.steps` on the stored bytes in `data`, which must give
// exactly `decodedBytes`: `out` holds them. A stream that gives more or fewer,
// a damaged one and a checksum that does not match are refused with a reason.
bool decodeZarrChunk(std::vector<uint8_t>& data, const ZarrChunkCoding& coding, size_t decodedBytes,
                     std::vector<uint8_t>& out, std::string& reason);

// The CRC-32C (Castagnoli) of `size` bytes, as the crc32c codec appends it.
uint32_t crc32c(const uint8_t* data, size_t size);

// The bytes a shard index of `entries` (offset, length) pairs takes stored:
// 16 per entry and 4 per checksum.
size_t shardIndexBytes(const ZarrChunkCoding& index, int64_t entries);
