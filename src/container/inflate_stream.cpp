#include "container/inflate_stream.h"

#include <algorithm>
#include <climits>
#include <zlib.h>

const char inflatedPastLimit[] = "the compressed data holds more than it should";

bool startsWithGzip(const uint8_t* data, size_t size) {
    return size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

namespace {

// Deflate gives at most 1032 bytes for each compressed byte (a 258-byte
// match coded in two bits), so a stated size past that is never filled and
// the buffer is not made larger than what the stream can give.
size_t mostInflated(size_t compressedBytes) {
    constexpr size_t ratio = 1032, slack = 65536;
    return compressedBytes > (SIZE_MAX - slack) / ratio ? SIZE_MAX
                                                        : compressedBytes * ratio + slack;
}

// A gzip stream ends with its last member's size modulo 2^32: the whole
// output for the usual single member, a first guess otherwise.
size_t gzipTrailerSize(const uint8_t* data, size_t size) {
    if (size < 18 || !startsWithGzip(data, size))
        return 0;
    const uint8_t* p = data + size - 4;
    return size_t(p[0]) | size_t(p[1]) << 8 | size_t(p[2]) << 16 | size_t(p[3]) << 24;
}

// Bytes made ready for zlib to write at a time: the buffer is zeroed as it
// fills, so memory is taken as the stream yields, not as a header claims.
constexpr size_t fillStep = size_t(1) << 18;

// Inflates into a buffer first reserved at `firstBytes`, grown (doubling)
// only when the stream gives more, up to `maxBytes` + 1: one byte past the
// cap is room enough to see the stream overrun it. With `prefixOnly`,
// reaching `maxBytes` ends the work and is no error: the first `maxBytes`
// bytes are what was asked for.
bool inflateInto(const uint8_t* data, size_t size, DeflateWrapper wrapper, size_t maxBytes,
                 size_t firstBytes, bool prefixOnly, std::vector<uint8_t>& out,
                 std::string& error) {
    std::vector<uint8_t>().swap(out); // what it held goes before anything is inflated
    const size_t room = prefixOnly || maxBytes == SIZE_MAX ? maxBytes : maxBytes + 1;
    out.reserve(std::min(firstBytes, room));
    z_stream stream{};
    const int windowBits = wrapper == DeflateWrapper::gzip   ? 15 + 16
                           : wrapper == DeflateWrapper::zlib ? 15
                                                             : -15;
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
            if (produced >= room)
                break; // a prefix complete (an overrun was refused below)
            if (out.size() == out.capacity())
                out.reserve(std::min(std::max<size_t>(2 * out.capacity(), 65536), room));
            out.resize(std::min({out.size() + fillStep, out.capacity(), room}));
        }
        stream.next_out = out.data() + produced;
        stream.avail_out = uInt(std::min<size_t>(out.size() - produced, UINT_MAX));
        size_t before = stream.avail_out;
        int status = inflate(&stream, Z_NO_FLUSH);
        produced += before - stream.avail_out;
        if (produced > maxBytes) {
            error = inflatedPastLimit;
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

} // namespace

bool inflateStream(const uint8_t* data, size_t size, DeflateWrapper wrapper, size_t maxBytes,
                   std::vector<uint8_t>& out, std::string& error) {
    size_t first = wrapper == DeflateWrapper::gzip ? gzipTrailerSize(data, size) : 0;
    first = std::min(std::max<size_t>(first + 1, 65536), mostInflated(size));
    return inflateInto(data, size, wrapper, maxBytes, first, false, out, error);
}

bool inflateStated(const uint8_t* data, size_t size, DeflateWrapper wrapper, size_t statedBytes,
                   std::vector<uint8_t>& out, std::string& error) {
    size_t first =
        std::min(statedBytes == SIZE_MAX ? statedBytes : statedBytes + 1, mostInflated(size));
    return inflateInto(data, size, wrapper, statedBytes, first, false, out, error);
}

bool inflatePrefix(const uint8_t* data, size_t size, DeflateWrapper wrapper, size_t bytes,
                   std::vector<uint8_t>& out, std::string& error) {
    return inflateInto(data, size, wrapper, bytes, std::min(bytes, mostInflated(size)), true, out,
                       error);
}
