#include "read/zarr_codecs.h"

#include "container/inflate_stream.h"

#include <blosc.h>
#include <cstring>
#include <zstd.h>
#include <zstd_errors.h>

namespace {

bool refuse(std::string& reason, const std::string& text) {
    reason = text;
    return false;
}

const uint32_t* crc32cTable() {
    static uint32_t table[256];
    static const bool made = [] {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0x82F63B78u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        return true;
    }();
    (void)made;
    return table;
}

bool unblosc(const std::vector<uint8_t>& in, size_t most, std::vector<uint8_t>& out,
             std::string& reason) {
    size_t bytes = 0;
    // The header's compressed size must be the chunk's, so that blosc reads
    // nothing past it.
    if (blosc_cbuffer_validate(in.data(), in.size(), &bytes) != 0)
        return refuse(reason, "the blosc header does not give the chunk's stored size");
    if (bytes > most)
        return refuse(reason, "the blosc data holds " + std::to_string(bytes) +
                                  " bytes, more than " + std::to_string(most));
    out.resize(bytes);
    if (bytes > 0 && blosc_decompress_ctx(in.data(), out.data(), bytes, 1) != int(bytes))
        return refuse(reason, "the blosc data is damaged");
    return true;
}

bool unzstd(const std::vector<uint8_t>& in, size_t most, std::vector<uint8_t>& out,
            std::string& reason) {
    const unsigned long long stated = ZSTD_getFrameContentSize(in.data(), in.size());
    if (stated == ZSTD_CONTENTSIZE_ERROR)
        return refuse(reason, "it is no zstd frame");
    if (stated != ZSTD_CONTENTSIZE_UNKNOWN && stated > most)
        return refuse(reason, "the zstd data holds " + std::to_string(stated) +
                                  " bytes, more than " + std::to_string(most));
    // One byte of room more than allowed shows a stream that holds more.
    out.resize(most + 1);
    const size_t got = ZSTD_decompress(out.data(), out.size(), in.data(), in.size());
    if (ZSTD_isError(got))
        return refuse(reason,
                      ZSTD_getErrorCode(got) == ZSTD_error_dstSize_tooSmall
                          ? "the zstd data holds more than " + std::to_string(most) + " bytes"
                          : std::string("the zstd data is damaged"));
    if (got > most)
        return refuse(reason, "the zstd data holds more than " + std::to_string(most) + " bytes");
    out.resize(got);
    return true;
}

bool uncrc(std::vector<uint8_t>& data, std::string& reason) {
    if (data.size() < 4)
        return refuse(reason, "it is too short to hold its crc32c checksum");
    const size_t size = data.size() - 4;
    const uint32_t stored = uint32_t(data[size]) | uint32_t(data[size + 1]) << 8 |
                            uint32_t(data[size + 2]) << 16 | uint32_t(data[size + 3]) << 24;
    if (crc32c(data.data(), size) != stored)
        return refuse(reason, "its crc32c checksum does not match");
    data.resize(size);
    return true;
}

} // namespace

uint32_t crc32c(const uint8_t* data, size_t size) {
    const uint32_t* table = crc32cTable();
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

size_t shardIndexBytes(const ZarrChunkCoding& index, int64_t entries) {
    return size_t(entries) * 16 + 4 * index.steps.size();
}

bool decodeZarrChunk(std::vector<uint8_t>& data, const ZarrChunkCoding& coding, size_t decodedBytes,
                     std::vector<uint8_t>& out, std::string& reason) {
    // Checksums add 4 bytes each on the way out; what a decompression before
    // them may give is bounded by the chunk plus those.
    size_t checksumsAfter = 0;
    for (ZarrCompression step : coding.steps)
        checksumsAfter += step == ZarrCompression::crc32c ? 4 : 0;
    std::vector<uint8_t> next;
    for (size_t n = coding.steps.size(); n-- > 0;) {
        const ZarrCompression step = coding.steps[n];
        if (step == ZarrCompression::crc32c) {
            if (!uncrc(data, reason))
                return false;
            checksumsAfter -= 4;
            continue;
        }
        const size_t most = decodedBytes + checksumsAfter;
        bool decoded = false;
        if (step == ZarrCompression::blosc)
            decoded = unblosc(data, most, next, reason);
        else if (step == ZarrCompression::zstd)
            decoded = unzstd(data, most, next, reason);
        else
            decoded = inflateStated(data.data(), data.size(),
                                    step == ZarrCompression::gzip ? DeflateWrapper::gzip
                                                                  : DeflateWrapper::zlib,
                                    most, next, reason);
        if (!decoded)
            return false;
        data.swap(next);
    }
    if (data.size() != decodedBytes)
        return refuse(reason, "it decodes to " + std::to_string(data.size()) +
                                  " bytes where its shape takes " + std::to_string(decodedBytes));
    out.swap(data);
    return true;
}
