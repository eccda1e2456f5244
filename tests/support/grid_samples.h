// The samples tools/make_grids.py writes into the build tree for the grid
// readers' tests, and small helpers to read them.
#pragma once

#include "samples/sample_volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <zlib.h>

inline std::string gridSample(const std::string& name) {
    return std::string(VOXSCOPE_GRID_SAMPLES) + "/" + name;
}

inline std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<uint8_t> textBytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// `data` as one gzip member, as gzip -9 writes it.
inline std::vector<uint8_t> gzipped(const std::vector<uint8_t>& data) {
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<uint8_t> out(deflateBound(&s, uLong(data.size())) + 64);
    s.next_in = const_cast<Bytef*>(data.data());
    s.avail_in = uInt(data.size());
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

// The files of `dir` whose names start with `prefix`, sorted.
inline std::vector<std::string> filesStartingWith(const std::string& dir,
                                                  const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d)) {
            std::string name = entry->d_name;
            if (name.rfind(prefix, 0) == 0)
                names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// What make_grids.py's dtype samples hold at (i, j, k) for NumPy code `code`
// ("u1", "i8", "f4", "b1", ...).
inline double dtypeSampleValue(const std::string& code, int i, int j, int k) {
    if (code == "b1")
        return (i + j + k) % 2;
    double v = i * 100 + j * 10 + k;
    if (code[0] == 'i' || code[0] == 'f')
        v -= 60;
    if (code[0] == 'f')
        v += 0.25;
    return v;
}

// Expects `v` to be make_grids.py's (2, 3, 4) dtype sample of `code`.
inline void expectDtypeSamples(const SampleVolume& v, const std::string& code) {
    ASSERT_EQ(v.dims[0], 2);
    ASSERT_EQ(v.dims[1], 3);
    ASSERT_EQ(v.dims[2], 4);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ(sampleValue(v, i, j, k), dtypeSampleValue(code, i, j, k))
                    << i << " " << j << " " << k;
}

// Reads every dtype sample whose name starts with `prefix` with
// read(path, bytes, volume, error), and checks its count and every value
// while the file's bytes are still there. Names are
// FORMAT-CODE-ORDER-ENDIAN.ext.
template <typename Read>
void expectEveryDtypeSample(const std::string& prefix, size_t count, Read read) {
    const std::string dir = gridSample("dtypes");
    const std::vector<std::string> names = filesStartingWith(dir, prefix);
    ASSERT_EQ(names.size(), count);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        SampleVolume v;
        std::string error;
        const std::vector<uint8_t> bytes = fileBytes(dir + "/" + name);
        ASSERT_TRUE(read(dir + "/" + name, bytes, v, error)) << error;
        expectDtypeSamples(v, name.substr(prefix.size(), 2));
    }
}

// A damaged or hostile input and words its refusal must contain.
struct RefusalCase {
    const char* name;
    std::string text;
    const char* reason;
};

// Reads each case with read(text, volume, error), which must refuse it with
// a sentence that holds the reason.
template <typename Read> void expectRefusals(const std::vector<RefusalCase>& cases, Read read) {
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        SampleVolume v;
        std::string error;
        EXPECT_FALSE(read(c.text, v, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}
