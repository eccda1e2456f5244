// Decompression of the gzip and deflate streams that NRRD, NIfTI (.nii.gz),
// MetaImage and NumPy's .npz archives hold, through zlib, never past a cap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// zlib: deflate behind zlib's two-byte header, as MetaImage stores it.
enum class DeflateWrapper { gzip, zlib, raw };

// Decompresses the stream at `data` into `out` (replacing what it held), for
// data whose size nothing states: the buffer starts at the size a gzip
// stream's trailer gives (or small) and grows with what the stream really
// yields, never past `maxBytes` and never to a size a header merely claims.
// The stream is refused as soon as it would give more than `maxBytes`: a
// small file that inflates to gigabytes costs nothing. A gzip stream may be
// several members one after the other, as gzip writes appended files. Fails
// with a sentence in `error` for a damaged, truncated or over-long stream.
bool inflateStream(const uint8_t* data, size_t size, DeflateWrapper wrapper, size_t maxBytes,
                   std::vector<uint8_t>& out, std::string& error);

// The same for data whose size its container states (a zip member's size, a
// volume's sample bytes): inflated into one buffer of `statedBytes`, or of
// what `size` compressed bytes could yield at most when that is less, and
// refused when the stream holds more. A stream that holds less succeeds with
// what it holds; the caller compares.
bool inflateStated(const uint8_t* data, size_t size, DeflateWrapper wrapper, size_t statedBytes,
                   std::vector<uint8_t>& out, std::string& error);

// Decompresses only the first `bytes` bytes of the stream (fewer when it is
// shorter), into one buffer of that size, to look at a header or to take a
// volume that ends there.
bool inflatePrefix(const uint8_t* data, size_t size, DeflateWrapper wrapper, size_t bytes,
                   std::vector<uint8_t>& out, std::string& error);

// The sentence a stream that gives more than allowed is refused with, so that
// a caller with no stated size can say that the data is too large instead.
extern const char inflatedPastLimit[];

// True when `data` begins as a gzip stream does.
bool startsWithGzip(const uint8_t* data, size_t size);
