#include "convert/inflate_stream.h"

#include <algorithm>
#include <climits>
#include <zlib.h>

bool startsWithGzip(const uint8_t* data, size_t size) {
    return size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

// With `prefixOnly`, reaching the cap ends the work and is no error: the
// first `maxBytes` bytes are what was asked for.
static bool inflateUpTo(const uint8_t* data, size_t size, DeflateWrapper wrapper, size_t maxBytes,
                        bool prefixOnly, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    z_stream stream{};
    int windowBits = wrapper == DeflateWrapper::gzip ? 15 + 16 : -15;
    if (inflateInit2(&stream, windowBits) != Z_OK) {
        error = "cannot start decompression";
        return false;
    }
    stream.next_in = const_cast<Bytef*>(data);
    size_t inputLeft = size;
    size_t produced = 0;
    bool ok = true;
    for (;;) {
        if (stream.avail_in == 0) {
            stream.avail_in = uInt(std::min<size_t>(inputLeft, UINT_MAX));
            inputLeft -= stream.avail_in;
        }
        if (produced == out.size()) {
            if (produced > maxBytes) {
                error = "the compressed data holds more than it should";
                ok = false;
                break;
            }
            // One byte past the cap is room enough to see the stream overrun it.
            size_t grown = std::min<size_t>(std::max<size_t>(2 * out.size(), 65536), maxBytes + 1);
            out.resize(grown);
        }
        stream.next_out = out.data() + produced;
        stream.avail_out = uInt(std::min<size_t>(out.size() - produced, UINT_MAX));
        size_t before = stream.avail_out;
        int status = inflate(&stream, Z_NO_FLUSH);
        produced += before - stream.avail_out;
        if (produced > maxBytes) {
            if (prefixOnly) {
                produced = maxBytes;
                break;
            }
            error = "the compressed data holds more than it should";
            ok = false;
            break;
        }
        if (status == Z_STREAM_END) {
            // gzip allows members one after another; anything else after the
            // end is not ours to guess at and is ignored, as gzip -d does
            // with trailing zeros.
            size_t rest = stream.avail_in + inputLeft;
            const uint8_t* next = stream.next_in;
            if (wrapper == DeflateWrapper::gzip && startsWithGzip(next, rest)) {
                inflateReset(&stream);
                continue;
            }
            break;
        }
        if (status == Z_BUF_ERROR && stream.avail_in == 0 && inputLeft == 0) {
            error = "the compressed data ends too early";
            ok = false;
            break;
        }
        if (status != Z_OK && status != Z_BUF_ERROR) {
            error = std::string("the compressed data is damaged (") +
                    (stream.msg ? stream.msg : "zlib error") + ")";
            ok = false;
            break;
        }
    }
    inflateEnd(&stream);
    if (!ok) {
        out.clear();
        out.shrink_to_fit();
        return false;
    }
    out.resize(produced);
    return true;
}

bool inflateStream(const uint8_t* data, size_t size, DeflateWrapper wrapper, size_t maxBytes,
                   std::vector<uint8_t>& out, std::string& error) {
    return inflateUpTo(data, size, wrapper, maxBytes, false, out, error);
}

bool inflatePrefix(const uint8_t* data, size_t size, DeflateWrapper wrapper, size_t bytes,
                   std::vector<uint8_t>& out, std::string& error) {
    return inflateUpTo(data, size, wrapper, bytes, true, out, error);
}
