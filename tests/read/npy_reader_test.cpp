#include <gtest/gtest.h>

#include "grid_samples.h"
#include "read/npy_reader.h"

#include <cstring>

namespace {

constexpr int64_t plenty = int64_t(1) << 30;

std::vector<uint8_t> npyWithHeader(const std::string& dict, size_t dataBytes) {
    std::string header = dict;
    while ((10 + header.size() + 1) % 64 != 0)
        header += ' ';
    header += '\n';
    std::string out = std::string("\x93NUMPY\x01\x00", 8);
    out += char(header.size() & 0xff);
    out += char(header.size() >> 8);
    out += header;
    out += std::string(dataBytes, '\x01');
    return textBytes(out);
}

} // namespace

TEST(NpyReader, EveryDtypeOrderAndByteOrderGivesElementIJKAtIJK) {
    // 11 dtypes, C and Fortran, both byte orders for the 8 wider than a byte;
    // bool arrays are occupancy, integers labels, floats values.
    expectEveryDtypeSample("npy-", 3 * 2 + 8 * 4,
                           [](const std::string& path, const std::vector<uint8_t>& bytes,
                              SampleVolume& v, std::string& error) {
                               const std::string code = path.substr(path.rfind('/') + 5, 2);
                               const SampleMeaning meaning = code == "b1" ? SampleMeaning::occupancy
                                                             : code[0] == 'f'
                                                                 ? SampleMeaning::values
                                                                 : SampleMeaning::labels;
                               return parseNpy(bytes.data(), bytes.size(), plenty, v, error) &&
                                      v.meaning == meaning;
                           });
}

TEST(NpyReader, ThreeOrFourUint8ChannelsLastAreColours) {
    // (2, 1, 1, 3) in C order: the channels fastest; in Fortran order the
    // slowest, each a volume of its own.
    for (bool fortran : {false, true}) {
        std::vector<uint8_t> bytes =
            npyWithHeader(std::string("{'descr': '|u1', 'fortran_order': ") +
                              (fortran ? "True" : "False") + ", 'shape': (2, 1, 1, 3), }",
                          6);
        const uint8_t samples[6] = {10, 11, 12, 20, 21, 22}; // C order: two RGB samples
        const uint8_t fortranSamples[6] = {10, 20, 11, 21, 12, 22};
        memcpy(bytes.data() + bytes.size() - 6, fortran ? fortranSamples : samples, 6);
        SampleVolume v;
        std::string error;
        ASSERT_TRUE(parseNpy(bytes.data(), bytes.size(), plenty, v, error)) << error;
        EXPECT_EQ(v.channels, 3);
        EXPECT_EQ(v.meaning, SampleMeaning::occupancy);
        const uint8_t* second = sampleBytes(v) + v.strides[0];
        EXPECT_EQ(second[0], 20);
        EXPECT_EQ(second[v.channelStride], 21);
        EXPECT_EQ(second[2 * v.channelStride], 22);
    }
    std::vector<uint8_t> rgba =
        npyWithHeader("{'descr': '|u1', 'fortran_order': False, 'shape': (1, 2, 1, 4), }", 8);
    SampleVolume v;
    std::string error;
    ASSERT_TRUE(parseNpy(rgba.data(), rgba.size(), plenty, v, error)) << error;
    EXPECT_EQ(v.channels, 4);
    EXPECT_EQ(v.strides[1], 4);
    // Wider samples, or another count of channels, are no colours.
    for (const char* dict : {"{'descr': '<i2', 'fortran_order': False, 'shape': (1, 1, 1, 3), }",
                             "{'descr': '|u1', 'fortran_order': False, 'shape': (1, 1, 1, 2), }"}) {
        std::vector<uint8_t> bytes = npyWithHeader(dict, 6);
        EXPECT_FALSE(parseNpy(bytes.data(), bytes.size(), plenty, v, error));
        EXPECT_EQ(error, "the array has 4 dimensions; a voxel grid needs 3 (or a last of 3 or 4 "
                         "uint8 colour channels)");
    }
}

TEST(NpyReader, RefusesHeadersItCannotHonourAndDataThatDoesNotFit) {
    struct Case {
        const char* name;
        std::string dict;
        size_t dataBytes;
        const char* reason;
    };
    const Case cases[] = {
        {"complex dtype", "{'descr': '<c8', 'fortran_order': False, 'shape': (1, 1, 1), }", 8,
         "dtype"},
        {"structured dtype", "{'descr': [('a', '<i4')], 'fortran_order': False, 'shape': (1,1,1)}",
         4, "plain array"},
        {"object dtype", "{'descr': '|O', 'fortran_order': False, 'shape': (1, 1, 1), }", 8,
         "dtype"},
        {"two dimensions", "{'descr': '|u1', 'fortran_order': False, 'shape': (2, 2), }", 4,
         "needs 3"},
        {"four dimensions", "{'descr': '|u1', 'fortran_order': False, 'shape': (1,1,1,1), }", 1,
         "needs 3"},
        {"an empty axis", "{'descr': '|u1', 'fortran_order': False, 'shape': (0, 2, 2), }", 0,
         "empty"},
        {"data one byte short", "{'descr': '<i2', 'fortran_order': False, 'shape': (2, 2, 2), }",
         15, "need 16"},
        {"data one byte long", "{'descr': '|u1', 'fortran_order': False, 'shape': (2, 2, 2), }", 9,
         "need 8"},
        // 2^96 elements: refused from the header, before anything is allocated.
        {"shape overflowing",
         "{'descr': '<f8', 'fortran_order': False, 'shape': "
         "(4294967296, 4294967296, 4294967296), }",
         8, "larger than the memory"},
        {"number overflowing",
         "{'descr': '|u1', 'fortran_order': False, 'shape': "
         "(99999999999999999999, 1, 1), }",
         1, "plain array"},
        {"fortran_order missing", "{'descr': '|u1', 'shape': (1, 1, 1), }", 1, "plain array"},
        {"not a dictionary", "['descr', '|u1']", 1, "plain array"},
        {"unterminated", "{'descr': '|u1', 'fortran_order': False, 'shape': (1, 1, 1)", 1,
         "plain array"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleVolume v;
        std::string error;
        const std::vector<uint8_t> bytes = npyWithHeader(c.dict, c.dataBytes);
        EXPECT_FALSE(parseNpy(bytes.data(), bytes.size(), plenty, v, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    // A header length past the end, and a version the format does not have.
    std::vector<uint8_t> good =
        npyWithHeader("{'descr': '|u1', 'fortran_order': False, 'shape': (1, 1, 1), }", 1);
    std::vector<uint8_t> longHeader = good;
    longHeader[9] = 0x7f;
    std::vector<uint8_t> version = good;
    version[6] = 4;
    SampleVolume v;
    std::string error;
    EXPECT_TRUE(parseNpy(good.data(), good.size(), plenty, v, error)) << error;
    EXPECT_FALSE(parseNpy(longHeader.data(), longHeader.size(), plenty, v, error));
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;
    EXPECT_FALSE(parseNpy(version.data(), version.size(), plenty, v, error));
    EXPECT_NE(error.find("version 4"), std::string::npos) << error;
}

TEST(NpzReader, ReadsTheFirstMemberStoredDeflatedOrZip64) {
    for (const char* name : {"density.npz", "density-stored64.npz"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes = fileBytes(gridSample(name));
        SampleVolume v;
        std::string member, error;
        uint64_t members = 0;
        ASSERT_TRUE(parseNpz(bytes.data(), bytes.size(), plenty, v, member, members, error))
            << error;
        EXPECT_EQ(member, "density.npy");
        EXPECT_EQ(members, std::string(name) == "density.npz" ? 2u : 1u);
        EXPECT_EQ(v.type, SampleType::float32);
        // The density peaks at 100 in (4, 3, 2) and falls by 10 a unit.
        EXPECT_FLOAT_EQ(float(sampleValue(v, 4, 3, 2)), 100.0f);
        EXPECT_FLOAT_EQ(float(sampleValue(v, 4, 3, 3)), 90.0f);
    }
}

TEST(NpzReader, RefusesAMemberThatInflatesPastItsStatedSize) {
    std::vector<uint8_t> bytes = fileBytes(gridSample("density.npz"));
    // The first central-directory entry's uncompressed size, made smaller.
    size_t at = 0;
    for (size_t n = 0; n + 4 <= bytes.size(); ++n)
        if (memcmp(bytes.data() + n, "PK\x01\x02", 4) == 0) {
            at = n;
            break;
        }
    ASSERT_GT(at, 0u);
    bytes[at + 24] = 100, bytes[at + 25] = 0, bytes[at + 26] = 0, bytes[at + 27] = 0;
    SampleVolume v;
    std::string member, error;
    uint64_t members = 0;
    EXPECT_FALSE(parseNpz(bytes.data(), bytes.size(), plenty, v, member, members, error));
    EXPECT_NE(error.find("holds more than it should"), std::string::npos) << error;
    // And one that claims more than the memory allowed is refused before
    // inflating anything.
    bytes[at + 24] = 0xfe, bytes[at + 25] = 0xff, bytes[at + 26] = 0xff, bytes[at + 27] = 0xff;
    EXPECT_FALSE(parseNpz(bytes.data(), bytes.size(), 1 << 20, v, member, members, error));
    EXPECT_NE(error.find("larger than the memory"), std::string::npos) << error;
}
