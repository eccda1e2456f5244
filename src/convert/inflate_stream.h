// Decompression of the gzip and deflate streams that NRRD, NIfTI (.nii.gz)
// and NumPy's .npz archives hold, through zlib, never past a cap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class DeflateWrapper { gzip, raw };

// Decompresses the stream at `data` into `out` (replacing what it held). The
// output grows with what the stream really yields, never to a size a header
// merely claims, and the stream is refused as soon as it would give more
// than `maxBytes`: a small file that inflates to gigabytes costs nothing.
// A gzip stream may be several members one after the other, as gzip writes
// appended files. Fails with a sentence in `error` for a damaged, truncated
// or over-long stream.
bool inflateStream(const uint8_t* data, size_t size, DeflateWrapper wrapper, size_t maxBytes,
                   std::vector<uint8_t>& out, std::string& error);

// Decompresses only the first `bytes` bytes of the stream (fewer when it is
// shorter), to look at a header before deciding how much the whole may take.
bool inflatePrefix(const uint8_t* data, size_t size, DeflateWrapper wrapper, size_t bytes,
                   std::vector<uint8_t>& out, std::string& error);

// True when `data` begins as a gzip stream does.
bool startsWithGzip(const uint8_t* data, size_t size);
