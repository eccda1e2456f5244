#include <gtest/gtest.h>

#include "container/inflate_stream.h"
#include "grid_samples.h"

#include <zlib.h>

namespace {

std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> data(size);
    for (size_t n = 0; n < size; ++n)
        data[n] = uint8_t((n * 7) ^ (n >> 9));
    return data;
}

} // namespace

TEST(InflateStream, GivesTheDataBackAcrossMembersAndNeverPastTheCap) {
    const std::vector<uint8_t> data = pattern(300000);
    const std::vector<uint8_t> packed = gzipped(data);
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(
        inflateStream(packed.data(), packed.size(), DeflateWrapper::gzip, data.size(), out, error))
        << error;
    EXPECT_EQ(out, data);
    // One byte more than the cap allows is refused, and nothing is kept.
    EXPECT_FALSE(inflateStream(packed.data(), packed.size(), DeflateWrapper::gzip, data.size() - 1,
                               out, error));
    EXPECT_NE(error.find("more than it should"), std::string::npos) << error;
    EXPECT_TRUE(out.empty());
    // Two members one after the other, as gzip writes appended files.
    std::vector<uint8_t> twice = packed;
    twice.insert(twice.end(), packed.begin(), packed.end());
    ASSERT_TRUE(inflateStream(twice.data(), twice.size(), DeflateWrapper::gzip, 2 * data.size(),
                              out, error))
        << error;
    EXPECT_EQ(out.size(), 2 * data.size());
    // The prefix is the first bytes, with no complaint about the rest.
    ASSERT_TRUE(
        inflatePrefix(packed.data(), packed.size(), DeflateWrapper::gzip, 1000, out, error));
    EXPECT_EQ(out, std::vector<uint8_t>(data.begin(), data.begin() + 1000));
}

TEST(InflateStream, ABombStopsAtTheCapWithoutTakingWhatItHolds) {
    // 64 MiB of zeros in about 64 KiB: capped at 1 MiB, refused after
    // inflating little more than that.
    std::vector<uint8_t> zeros(size_t(64) << 20);
    const std::vector<uint8_t> bomb = gzipped(zeros);
    zeros = std::vector<uint8_t>();
    ASSERT_LT(bomb.size(), size_t(1) << 20);
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(
        inflateStream(bomb.data(), bomb.size(), DeflateWrapper::gzip, 1 << 20, out, error));
    EXPECT_NE(error.find("more than it should"), std::string::npos) << error;
    EXPECT_TRUE(out.empty());
}

TEST(InflateStream, EveryCutOfAStreamIsRefused) {
    const std::vector<uint8_t> data = pattern(5000);
    const std::vector<uint8_t> packed = gzipped(data);
    for (size_t length = 0; length < packed.size(); ++length) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> cut(packed.begin(), packed.begin() + std::ptrdiff_t(length));
        std::vector<uint8_t> out;
        std::string error;
        EXPECT_FALSE(
            inflateStream(cut.data(), cut.size(), DeflateWrapper::gzip, 1 << 20, out, error));
        EXPECT_EQ(error, "the compressed data ends too early");
        EXPECT_TRUE(out.empty());
    }
    std::vector<uint8_t> damaged = packed;
    damaged[damaged.size() / 2] ^= 0x55;
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(
        inflateStream(damaged.data(), damaged.size(), DeflateWrapper::gzip, 1 << 20, out, error));
    EXPECT_EQ(error.rfind("the compressed data is damaged (", 0), 0u) << error;
}

// A size the container states is taken once, as far as the stream could fill
// it; a size nothing states starts from the gzip trailer's. No buffer is
// doubled past what the stream yields.
TEST(InflateStream, OneBufferOfTheStatedOrTrailerSize) {
    const std::vector<uint8_t> data = pattern(300000);
    const std::vector<uint8_t> packed = gzipped(data);
    // Trailing zeros, which gzip -d ignores, make the trailer's size nonsense.
    std::vector<uint8_t> padded = packed;
    padded.resize(packed.size() + 16, 0);
    using Inflate = bool (*)(const uint8_t*, size_t, DeflateWrapper, size_t, std::vector<uint8_t>&,
                             std::string&);
    const struct {
        const char* what;
        Inflate inflate;
        const std::vector<uint8_t>* stream;
        size_t limit, most;
    } cases[] = {
        {"as stated", inflateStated, &packed, data.size(), data.size() + 1},
        // A header that claims a gibibyte of these few compressed bytes gets
        // what they hold, in a buffer near their size.
        {"a gibibyte claimed", inflateStated, &packed, size_t(1) << 30, size_t(1) << 28},
        {"as the trailer says", inflateStream, &packed, size_t(1) << 30, data.size() + 1},
        {"a nonsense trailer", inflateStream, &padded, size_t(1) << 30, size_t(1) << 28},
        {"a nonsense trailer under a cap", inflateStream, &padded, data.size(), data.size() + 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> out;
        std::string error;
        ASSERT_TRUE(c.inflate(c.stream->data(), c.stream->size(), DeflateWrapper::gzip, c.limit,
                              out, error))
            << error;
        EXPECT_EQ(out, data);
        EXPECT_LE(out.capacity(), c.most);
    }
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(inflateStated(packed.data(), packed.size(), DeflateWrapper::gzip, data.size() - 1,
                               out, error));
    EXPECT_NE(error.find("more than it should"), std::string::npos) << error;
    EXPECT_TRUE(out.empty());
    ASSERT_TRUE(
        inflatePrefix(packed.data(), packed.size(), DeflateWrapper::gzip, 1000, out, error));
    EXPECT_EQ(out, std::vector<uint8_t>(data.begin(), data.begin() + 1000));
    EXPECT_LE(out.capacity(), 1000u);
}

TEST(InflateStream, ZlibWrappedStreamsAsMetaImageStoresThem) {
    const std::vector<uint8_t> data = pattern(70000);
    uLongf packedSize = compressBound(uLong(data.size()));
    std::vector<uint8_t> packed(packedSize);
    ASSERT_EQ(compress(packed.data(), &packedSize, data.data(), uLong(data.size())), Z_OK);
    packed.resize(packedSize);
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(
        inflateStated(packed.data(), packed.size(), DeflateWrapper::zlib, data.size(), out, error))
        << error;
    EXPECT_EQ(out, data);
    // Its header is not raw deflate's, nor gzip's: either reading fails.
    EXPECT_FALSE(
        inflateStated(packed.data(), packed.size(), DeflateWrapper::raw, data.size(), out, error));
    EXPECT_FALSE(
        inflateStated(packed.data(), packed.size(), DeflateWrapper::gzip, data.size(), out, error));
    // A damaged checksum at its end is refused.
    packed.back() ^= 1;
    EXPECT_FALSE(
        inflateStated(packed.data(), packed.size(), DeflateWrapper::zlib, data.size(), out, error));
}
