// The Zarr row's reader on stores written here: the samples land where
// their indices say, whatever the chunk order, sharding or extra axes; and
// every file of a store cut at every length, or with any byte changed, is
// read or refused in one line (under the sanitizers: without reading past
// what was read from the file).
#include "read/zarr_reader.h"

#include "read/zarr_codecs.h"
#include "sample_prefixes.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>
#include <zstd.h>

namespace {

using Index = std::vector<int64_t>;

// The value stored at an array index: distinct for every index.
uint16_t valueAt(const Index& at) {
    uint16_t value = 0;
    for (int64_t n : at)
        value = uint16_t(value * 10 + n);
    return value;
}

// The chunk at grid `grid` of an array of `shape` in chunks of `chunk`, its
// samples in C order or reversed (F), outside the shape 0.
std::string chunkBytes(const Index& shape, const Index& chunk, const Index& grid, bool fortran) {
    const size_t axes = shape.size();
    int64_t count = 1;
    for (int64_t n : chunk)
        count *= n;
    std::string bytes(size_t(count) * 2, '\0');
    Index e(axes, 0);
    for (int64_t n = 0; n < count; ++n) {
        int64_t rest = n;
        for (size_t p = axes; p-- > 0;) {
            const size_t a = fortran ? axes - 1 - p : p;
            e[a] = rest % chunk[a];
            rest /= chunk[a];
        }
        Index at(axes);
        bool inside = true;
        for (size_t a = 0; a < axes; ++a) {
            at[a] = grid[a] * chunk[a] + e[a];
            inside = inside && at[a] < shape[a];
        }
        const uint16_t value = inside ? valueAt(at) : 0;
        memcpy(&bytes[size_t(n) * 2], &value, 2);
    }
    return bytes;
}

std::string zlibOf(const std::string& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(raw.data()),
              uLong(raw.size()), 6);
    out.resize(size);
    return out;
}

std::string zstdOf(const std::string& raw) {
    std::string out(ZSTD_compressBound(raw.size()), '\0');
    out.resize(ZSTD_compress(&out[0], out.size(), raw.data(), raw.size(), 3));
    return out;
}

struct ZarrReaderTest : ScratchDirTest {
    std::vector<std::string> files;

    void put(const std::string& name, const std::string& bytes) {
        for (size_t slash = name.find('/'); slash != std::string::npos;
             slash = name.find('/', slash + 1))
            mkdir((dir + "/" + name.substr(0, slash)).c_str(), 0755);
        files.push_back(write(name, bytes));
    }

    // z, y, x = 3 x 5 x 7 in F-ordered zlib chunks of 2 x 2 x 4, one never
    // written (its samples are the fill value, 9).
    void writeV2() {
        put(".zarray", "{\"zarr_format\": 2, \"shape\": [3, 5, 7], \"chunks\": [2, 2, 4], "
                       "\"dtype\": \"<u2\", \"order\": \"F\", \"fill_value\": 9, \"filters\": "
                       "null, \"compressor\": {\"id\": \"zlib\", \"level\": 6}}");
        for (int64_t z = 0; z < 2; ++z)
            for (int64_t y = 0; y < 3; ++y)
                for (int64_t x = 0; x < 2; ++x)
                    if (!(z == 1 && y == 2 && x == 1))
                        put(std::to_string(z) + "." + std::to_string(y) + "." + std::to_string(x),
                            zlibOf(chunkBytes({3, 5, 7}, {2, 2, 4}, {z, y, x}, true)));
    }

    // t, z, y, x = 2 x 3 x 5 x 7 in shards of 1 x 4 x 6 x 8 holding inner
    // zstd chunks of 1 x 2 x 3 x 4, their index (with a checksum) at the end.
    void writeV3Sharded() {
        put("zarr.json",
            "{\"zarr_format\": 3, \"node_type\": \"array\", \"shape\": [2, 3, 5, 7], "
            "\"data_type\": \"uint16\", \"fill_value\": 0, \"dimension_names\": [\"t\", \"z\", "
            "\"y\", \"x\"], \"chunk_grid\": {\"name\": \"regular\", \"configuration\": "
            "{\"chunk_shape\": [1, 4, 6, 8]}}, \"codecs\": [{\"name\": \"sharding_indexed\", "
            "\"configuration\": {\"chunk_shape\": [1, 2, 3, 4], \"codecs\": [{\"name\": "
            "\"bytes\", \"configuration\": {\"endian\": \"little\"}}, {\"name\": \"zstd\"}], "
            "\"index_codecs\": [{\"name\": \"bytes\"}, {\"name\": \"crc32c\"}]}}]}");
        for (int64_t t = 0; t < 2; ++t) {
            std::string body, index;
            for (int64_t n = 0; n < 8; ++n) {
                const Index grid = {t, n / 4, n / 2 % 2, n % 2};
                const std::string chunk =
                    zstdOf(chunkBytes({2, 3, 5, 7}, {1, 2, 3, 4}, grid, false));
                const uint64_t entry[2] = {body.size(), chunk.size()};
                index.append(reinterpret_cast<const char*>(entry), 16);
                body += chunk;
            }
            const uint32_t crc =
                crc32c(reinterpret_cast<const uint8_t*>(index.data()), index.size());
            index.append(reinterpret_cast<const char*>(&crc), 4);
            put("c/" + std::to_string(t) + "/0/0/0", body + index);
        }
    }

    bool read(SampleVolume& volume, std::string& reason) {
        ReadOptions options;
        options.path = dir.c_str();
        options.maxBytes = int64_t(64) << 20;
        return readZarrStore(dir.c_str(), options, volume, reason);
    }

    void expectSamples(const SampleVolume& volume, uint16_t fill) {
        ASSERT_EQ(volume.dims[0], 7);
        ASSERT_EQ(volume.dims[1], 5);
        ASSERT_EQ(volume.dims[2], 3);
        for (int64_t k = 0; k < 3; ++k)
            for (int64_t j = 0; j < 5; ++j)
                for (int64_t i = 0; i < 7; ++i) {
                    const bool unwritten = k >= 2 && j >= 4 && i >= 4;
                    ASSERT_EQ(sampleValue(volume, i, j, k),
                              unwritten && fill ? fill : valueAt({k, j, i}))
                        << i << " " << j << " " << k;
                }
    }

    // Every file cut at every length, and each of its bytes changed: a
    // volume of the same size or a one-line refusal.
    void expectEveryDamageReadOrRefused() {
        size_t refused = 0, cases = 0;
        for (const std::string& path : files) {
            const std::string whole = contents(path);
            std::vector<std::string> versions;
            for (size_t length : prefixLengths(whole.size()))
                versions.push_back(whole.substr(0, length));
            for (size_t at = 0; at < whole.size(); at += 1 + whole.size() / 200)
                for (uint8_t change : {uint8_t(0xFF), uint8_t(0x01), uint8_t(0x80)}) {
                    versions.push_back(whole);
                    versions.back()[at] = char(versions.back()[at] ^ change);
                }
            for (const std::string& version : versions) {
                FILE* f = fopen(path.c_str(), "wb");
                fwrite(version.data(), 1, version.size(), f);
                fclose(f);
                SampleVolume volume;
                std::string reason;
                ++cases;
                if (read(volume, reason)) {
                    EXPECT_EQ(volume.dims[0] * volume.dims[1] * volume.dims[2] * 2,
                              int64_t(volume.storage.size()))
                        << path;
                } else {
                    ++refused;
                    EXPECT_FALSE(reason.empty()) << path;
                    EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
                }
            }
            FILE* f = fopen(path.c_str(), "wb");
            fwrite(whole.data(), 1, whole.size(), f);
            fclose(f);
        }
        EXPECT_GT(refused, cases / 3);
    }
};

} // namespace

TEST_F(ZarrReaderTest, FortranOrderedChunksAndTheFillValueLandAtTheirIndices) {
    writeV2();
    SampleVolume volume;
    std::string reason;
    ASSERT_TRUE(read(volume, reason)) << reason;
    EXPECT_EQ(volume.type, SampleType::uint16);
    expectSamples(volume, 9);
}

TEST_F(ZarrReaderTest, ShardsOfAFourDimensionalArrayGiveItsFirstTimePoint) {
    writeV3Sharded();
    SampleVolume volume;
    std::string reason;
    ASSERT_TRUE(read(volume, reason)) << reason;
    expectSamples(volume, 0);
}

TEST_F(ZarrReaderTest, EveryCutOrChangedByteOfAV2StoreIsReadOrRefusedInOneLine) {
    writeV2();
    expectEveryDamageReadOrRefused();
}

TEST_F(ZarrReaderTest, EveryCutOrChangedByteOfAShardedStoreIsReadOrRefusedInOneLine) {
    writeV3Sharded();
    expectEveryDamageReadOrRefused();
}
