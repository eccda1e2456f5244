#include "read/zarr_metadata.h"

#include "read/zarr_json.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace {

bool parse(const std::string& text, int format, ZarrArrayMeta& meta, std::string& reason,
           int64_t maxBytes = int64_t(1) << 30) {
    nlohmann::json doc;
    if (!parseZarrJson(text, doc, reason))
        return false;
    return parseZarrArray(doc, format, maxBytes, meta, reason);
}

std::string v2(const std::string& fields) {
    return "{\"zarr_format\": 2, \"shape\": [4, 5, 6], \"chunks\": [2, 3, 4], \"filters\": null, "
           "\"order\": \"C\", \"fill_value\": 0, \"dtype\": \"<u2\", \"compressor\": null" +
           fields + "}";
}

std::string v3(const std::string& codecs, const std::string& fields = "") {
    return "{\"zarr_format\": 3, \"node_type\": \"array\", \"shape\": [8, 8], \"data_type\": "
           "\"int16\", \"fill_value\": 0, \"chunk_grid\": {\"name\": \"regular\", "
           "\"configuration\": {\"chunk_shape\": [4, 8]}}, \"codecs\": " +
           codecs + fields + "}";
}

template <typename T> T fillAs(const ZarrArrayMeta& meta) {
    T value;
    memcpy(&value, meta.fill, sizeof value);
    return value;
}

} // namespace

// Later fields replace earlier ones of the same name, as the parser keeps
// the last.
TEST(ZarrMetadata, V2TypesOrdersFillsAndSeparators) {
    ZarrArrayMeta meta;
    std::string reason;
    ASSERT_TRUE(parse(v2(", \"dtype\": \">f8\", \"order\": \"F\", \"fill_value\": \"NaN\", "
                         "\"dimension_separator\": \"/\", \"compressor\": {\"id\": \"blosc\"}"),
                      2, meta, reason))
        << reason;
    EXPECT_EQ(meta.type, SampleType::float64);
    EXPECT_TRUE(meta.stored.bigEndian);
    EXPECT_EQ(meta.stored.order, (std::vector<int>{2, 1, 0}));
    EXPECT_TRUE(std::isnan(fillAs<double>(meta)));
    EXPECT_EQ(meta.separator, '/');
    EXPECT_EQ(meta.stored.steps, std::vector<ZarrCompression>{ZarrCompression::blosc});
    ASSERT_TRUE(parse(v2(", \"dtype\": \"|i1\", \"fill_value\": -128"), 2, meta, reason));
    EXPECT_EQ(fillAs<int8_t>(meta), -128);
    ASSERT_TRUE(
        parse(v2(", \"dtype\": \"<u8\", \"fill_value\": 18446744073709551615"), 2, meta, reason));
    EXPECT_EQ(fillAs<uint64_t>(meta), ~uint64_t(0));
    ASSERT_TRUE(parse(v2(", \"dtype\": \"|b1\", \"fill_value\": true"), 2, meta, reason));
    EXPECT_EQ(meta.fill[0], 1);
}

TEST(ZarrMetadata, V3CodecsTransposesShardsAndKeys) {
    ZarrArrayMeta meta;
    std::string reason;
    ASSERT_TRUE(parse(v3("[{\"name\": \"transpose\", \"configuration\": {\"order\": [1, 0]}}, "
                         "{\"name\": \"bytes\", \"configuration\": {\"endian\": \"big\"}}, "
                         "{\"name\": \"zstd\"}, {\"name\": \"crc32c\"}]",
                         ", \"fill_value\": -7, \"chunk_key_encoding\": {\"name\": \"v2\"}"),
                      3, meta, reason))
        << reason;
    EXPECT_EQ(meta.stored.order, (std::vector<int>{1, 0}));
    EXPECT_TRUE(meta.stored.bigEndian);
    EXPECT_EQ(meta.stored.steps,
              (std::vector<ZarrCompression>{ZarrCompression::zstd, ZarrCompression::crc32c}));
    EXPECT_EQ(fillAs<int16_t>(meta), -7);
    EXPECT_FALSE(meta.keyPrefix);
    EXPECT_EQ(meta.separator, '.');
    const std::string shard =
        "[{\"name\": \"sharding_indexed\", \"configuration\": {\"chunk_shape\": [2, 4], "
        "\"codecs\": [{\"name\": \"bytes\"}, {\"name\": \"gzip\"}], \"index_codecs\": "
        "[{\"name\": \"bytes\"}, {\"name\": \"crc32c\"}], \"index_location\": \"start\"}}]";
    ASSERT_TRUE(parse(v3(shard), 3, meta, reason)) << reason;
    EXPECT_TRUE(meta.sharded);
    EXPECT_FALSE(meta.indexAtEnd);
    EXPECT_EQ(meta.index.shape, (std::vector<int64_t>{4, 2}));
    EXPECT_EQ(meta.inner.steps, std::vector<ZarrCompression>{ZarrCompression::gzip});
    EXPECT_TRUE(meta.keyPrefix);
    EXPECT_EQ(meta.separator, '/');
    // A shard of 4 x 8 holds no whole inner chunks of 3 along its first axis.
    std::string odd = shard;
    odd.replace(odd.find("[2, 4]"), 6, "[3, 4]");
    EXPECT_FALSE(parse(v3(odd), 3, meta, reason));
    EXPECT_EQ(reason, "its shards of 4 samples along axis 0 do not hold whole inner chunks of 3");
}

// Each refusal names the field and what it held.
TEST(ZarrMetadata, LyingOrUnknownFieldsAreRefusedByName) {
    const struct {
        std::string text;
        int format;
        const char* reason;
    } cases[] = {
        {v2(", \"dtype\": \"<c8\""), 2,
         "its dtype \"<c8\" is not one vxlconv reads (bool, integers of 8 to 64 bits, float32 "
         "or float64)"},
        {v2(", \"compressor\": {\"id\": \"lzma\"}"), 2,
         "its codec \"lzma\" is not one vxlconv reads (bytes, transpose, sharding_indexed, "
         "blosc, gzip, zlib, zstd, crc32c)"},
        {v2(", \"filters\": [{\"id\": \"delta\"}]"), 2,
         "its filter \"delta\" is not one vxlconv reads (it reads stores without filters)"},
        {v2(", \"shape\": [4, -5, 6]"), 2, "its shape holds -5, not a size"},
        {v2(", \"chunks\": [2, 0, 4]"), 2, "its chunks holds 0, not a size of at least 1"},
        {v2(", \"chunks\": [2, 3]"), 2, "its chunks have 2 axes, its shape 3"},
        {v2(", \"shape\": [4294967296, 4294967296, 4294967296]"), 2,
         "its shape holds more samples than 64 bits count"},
        {v2(", \"fill_value\": 70000"), 2, "its fill_value 70000 is no uint16 value"},
        {v2(", \"order\": \"K\""), 2, "its order \"K\" is neither \"C\" nor \"F\""},
        {v3("[{\"name\": \"bytes\"}, {\"name\": \"bz2\"}]"), 3,
         "its codec \"bz2\" is not one vxlconv reads (bytes, transpose, sharding_indexed, "
         "blosc, gzip, zlib, zstd, crc32c)"},
        {v3("[{\"name\": \"gzip\"}]"), 3,
         "its codec \"gzip\" is not one vxlconv reads (bytes, "
         "transpose, sharding_indexed, blosc, gzip, zlib, zstd, "
         "crc32c)"},
        {v3("[{\"name\": \"transpose\", \"configuration\": {\"order\": [0, 0]}}, {\"name\": "
            "\"bytes\"}]"),
         3, "its transpose order a list is no order of its 2 axes"},
        {v3("[{\"name\": \"sharding_indexed\", \"configuration\": {\"chunk_shape\": [2, 4], "
            "\"codecs\": [{\"name\": \"sharding_indexed\"}]}}]"),
         3,
         "its sharding_indexed codec is nested or follows another; vxlconv reads sharding as a "
         "store's only array codec"},
        {v3("[{\"name\": \"sharding_indexed\", \"configuration\": {\"chunk_shape\": [2, 4], "
            "\"codecs\": [{\"name\": \"bytes\"}], \"index_codecs\": [{\"name\": \"bytes\"}, "
            "{\"name\": \"zstd\"}]}}]"),
         3, "its shard index is compressed; an index is of a fixed size"},
        {v3("[{\"name\": \"bytes\"}]", ", \"data_type\": \"complex64\""), 3,
         "its data_type \"complex64\" is not one vxlconv reads (bool, integers of 8 to 64 bits, "
         "float32 or float64)"},
        {v3("[{\"name\": \"bytes\"}]", ", \"fill_value\": \"0x12\""), 3,
         "its fill_value \"0x12\" is no int16 value"},
    };
    for (const auto& c : cases) {
        ZarrArrayMeta meta;
        std::string reason;
        EXPECT_FALSE(parse(c.text, c.format, meta, reason)) << c.text;
        EXPECT_EQ(reason, c.reason) << c.text;
    }
    // A chunk past the memory allowed is refused before anything is read.
    ZarrArrayMeta meta;
    std::string reason;
    EXPECT_FALSE(parse(v2(", \"chunks\": [4000, 4000, 4000]"), 2, meta, reason, int64_t(1) << 30));
    EXPECT_EQ(reason.rfind("a chunk is larger than the memory allowed", 0), 0u) << reason;
}
