#include "read/zarr_codecs.h"

#include <blosc.h>
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

namespace {

std::vector<uint8_t> ramp(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 7 / 5);
    return bytes;
}

std::vector<uint8_t> bloscOf(const std::vector<uint8_t>& raw, const char* name, int shuffle) {
    std::vector<uint8_t> out(raw.size() + BLOSC_MAX_OVERHEAD);
    const int size = blosc_compress_ctx(5, shuffle, 2, raw.size(), raw.data(), out.data(),
                                        out.size(), name, 0, 1);
    out.resize(size_t(size > 0 ? size : 0));
    return out;
}

std::vector<uint8_t> zlibOf(const std::vector<uint8_t>& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    std::vector<uint8_t> out(size);
    compress2(out.data(), &size, raw.data(), uLong(raw.size()), 6);
    out.resize(size);
    return out;
}

std::vector<uint8_t> zstdOf(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> out(ZSTD_compressBound(raw.size()));
    out.resize(ZSTD_compress(out.data(), out.size(), raw.data(), raw.size(), 3));
    return out;
}

void appendCrc(std::vector<uint8_t>& bytes) {
    const uint32_t crc = crc32c(bytes.data(), bytes.size());
    for (int b = 0; b < 4; ++b)
        bytes.push_back(uint8_t(crc >> (8 * b)));
}

ZarrChunkCoding coding(std::vector<ZarrCompression> steps) {
    ZarrChunkCoding c;
    c.steps = steps;
    return c;
}

bool decode(std::vector<uint8_t> stored, const ZarrChunkCoding& c, size_t bytes,
            std::vector<uint8_t>& out, std::string& reason) {
    return decodeZarrChunk(stored, c, bytes, out, reason);
}

} // namespace

TEST(ZarrCodecs, Crc32cIsCastagnolis) {
    const char text[] = "123456789";
    EXPECT_EQ(crc32c(reinterpret_cast<const uint8_t*>(text), 9), 0xE3069283u);
    EXPECT_EQ(crc32c(nullptr, 0), 0u);
}

// Every compressor, with and without a checksum after it, gives back the
// very bytes, and only when they are exactly the chunk's size.
TEST(ZarrCodecs, EachCompressorDecodesToExactlyTheChunksBytes) {
    const std::vector<uint8_t> raw = ramp(6000);
    const struct {
        const char* name;
        ZarrCompression step;
        std::vector<uint8_t> stored;
    } cases[] = {{"blosc lz4", ZarrCompression::blosc, bloscOf(raw, "lz4", BLOSC_SHUFFLE)},
                 {"blosc zstd", ZarrCompression::blosc, bloscOf(raw, "zstd", BLOSC_BITSHUFFLE)},
                 {"blosc blosclz", ZarrCompression::blosc, bloscOf(raw, "blosclz", 0)},
                 {"zlib", ZarrCompression::zlib, zlibOf(raw)},
                 {"zstd", ZarrCompression::zstd, zstdOf(raw)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.stored.empty());
        std::vector<uint8_t> out;
        std::string reason;
        ASSERT_TRUE(decode(c.stored, coding({c.step}), raw.size(), out, reason)) << reason;
        EXPECT_EQ(out, raw);
        std::vector<uint8_t> checked = c.stored;
        appendCrc(checked);
        ASSERT_TRUE(
            decode(checked, coding({c.step, ZarrCompression::crc32c}), raw.size(), out, reason))
            << reason;
        EXPECT_EQ(out, raw);
        // A chunk that claims one byte more or less than the stream holds.
        EXPECT_FALSE(decode(c.stored, coding({c.step}), raw.size() + 1, out, reason));
        EXPECT_NE(reason.find("6000"), std::string::npos) << reason;
        EXPECT_FALSE(decode(c.stored, coding({c.step}), raw.size() - 1, out, reason));
        EXPECT_FALSE(reason.empty());
        // Cut short, or damaged in its middle.
        std::vector<uint8_t> cut(c.stored.begin(), c.stored.end() - 1);
        EXPECT_FALSE(decode(cut, coding({c.step}), raw.size(), out, reason)) << c.name;
        checked[checked.size() / 2] ^= 0x55;
        EXPECT_FALSE(
            decode(checked, coding({c.step, ZarrCompression::crc32c}), raw.size(), out, reason));
        EXPECT_EQ(reason, "its crc32c checksum does not match");
    }
}

TEST(ZarrCodecs, UncompressedChunksAndChecksumsAreHeldToTheirSize) {
    std::vector<uint8_t> out;
    std::string reason;
    EXPECT_TRUE(decode(ramp(8), coding({}), 8, out, reason));
    EXPECT_EQ(out, ramp(8));
    EXPECT_FALSE(decode(ramp(7), coding({}), 8, out, reason));
    EXPECT_EQ(reason, "it decodes to 7 bytes where its shape takes 8");
    EXPECT_FALSE(decode(ramp(3), coding({ZarrCompression::crc32c}), 0, out, reason));
    EXPECT_EQ(reason, "it is too short to hold its crc32c checksum");
    // A blosc header that claims more than the chunk is refused before
    // anything of that size is allocated.
    std::vector<uint8_t> big = bloscOf(ramp(6000), "lz4", BLOSC_SHUFFLE);
    big[4] = 0xFF, big[5] = 0xFF, big[6] = 0xFF, big[7] = 0x7F;
    EXPECT_FALSE(decode(big, coding({ZarrCompression::blosc}), 6000, out, reason));
    EXPECT_NE(reason.find("blosc"), std::string::npos) << reason;
    EXPECT_EQ(shardIndexBytes(coding({ZarrCompression::crc32c}), 8), size_t(8 * 16 + 4));
}
