#include <gtest/gtest.h>

#include "convert/nrrd_reader.h"
#include "grid_samples.h"

namespace {

constexpr int64_t plenty = int64_t(1) << 30;

bool readText(const std::string& text, SampleVolume& v, std::string& error,
              const std::string& path = "/nowhere/volume.nrrd") {
    return readNrrd(path, textBytes(text), plenty, v, error);
}

const std::string uint8Head = "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 2 2 2\n";

} // namespace

TEST(NrrdReader, EveryTypeRawAndGzipInEitherByteOrder) {
    expectEveryDtypeSample(
        "nrrd-", 2 + 8 * 2,
        [](const std::string& path, const std::vector<uint8_t>& bytes, SampleVolume& v,
           std::string& error) { return readNrrd(path, bytes, plenty, v, error); });
}

TEST(NrrdReader, SpacingsDirectionsOriginAndSkips) {
    SampleVolume v;
    std::string error;
    // Directions give the spacing by their length; a leading axis of size 1
    // is dropped; comments and key/value pairs pass.
    ASSERT_TRUE(readText("NRRD0005\n# a comment\nmodality:=CT\ntype: uint8\ndimension: 4\n"
                         "sizes: 1 2 2 2\nspace dimension: 3\n"
                         "space directions: none (0,3,4) (0.5,0,0) (0,0,-2)\n"
                         "space origin: (1,-2,3.5)\nencoding: raw\nline skip: 1\nbyte skip: 2\n\n"
                         "skipped line\nxx\x01\x02\x03\x04\x05\x06\x07\x08",
                         v, error))
        << error;
    EXPECT_DOUBLE_EQ(v.spacing[0], 5.0);
    EXPECT_DOUBLE_EQ(v.spacing[1], 0.5);
    EXPECT_DOUBLE_EQ(v.spacing[2], 2.0);
    EXPECT_DOUBLE_EQ(v.origin[0], 1.0);
    EXPECT_DOUBLE_EQ(v.origin[1], -2.0);
    EXPECT_DOUBLE_EQ(v.origin[2], 3.5);
    EXPECT_EQ(sampleValue(v, 0, 0, 0), 1.0);
    EXPECT_EQ(sampleValue(v, 1, 0, 0), 2.0); // the first axis is the fastest
    EXPECT_EQ(sampleValue(v, 0, 1, 0), 3.0);
    EXPECT_EQ(sampleValue(v, 1, 1, 1), 8.0);
    // byte skip -1: the data is the file's last bytes.
    ASSERT_TRUE(readText(uint8Head + "spacings: 1 nan 3\nencoding: raw\nbyte skip: -1\n\n" +
                             "junk\x01\x02\x03\x04\x05\x06\x07\x09",
                         v, error))
        << error;
    EXPECT_EQ(sampleValue(v, 1, 1, 1), 9.0);
    EXPECT_DOUBLE_EQ(v.spacing[1], 1.0); // nan: no spacing, one unit
    EXPECT_DOUBLE_EQ(v.spacing[2], 3.0);
}

TEST(NrrdReader, DetachedHeaderFindsItsDataBesideItself) {
    SampleVolume v;
    std::string error;
    const std::string header = gridSample("density.nhdr");
    ASSERT_TRUE(readNrrd(header, fileBytes(header), plenty, v, error)) << error;
    EXPECT_EQ(v.dims[0], 8);
    EXPECT_EQ(sampleValue(v, 4, 3, 2), 100.0);
    // The same header read from elsewhere does not find the data: refused,
    // naming the file it looked for.
    EXPECT_FALSE(readNrrd("/nowhere/density.nhdr", fileBytes(header), plenty, v, error));
    EXPECT_NE(error.find("/nowhere/density-data.raw"), std::string::npos) << error;
}

TEST(NrrdReader, RefusesWhatItCannotHonour) {
    const std::string raw = "encoding: raw\n\n";
    expectRefusals(
        {
            {"no type", "NRRD0004\ndimension: 3\nsizes: 2 2 2\n" + raw, "no \"type\""},
            {"block type", "NRRD0004\ntype: block\ndimension: 3\nsizes: 2 2 2\n" + raw,
             "\"block\""},
            {"two dimensions", "NRRD0004\ntype: uchar\ndimension: 2\nsizes: 2 2\n" + raw,
             "needs 3"},
            {"sizes not matching dimension",
             "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 2 2\n" + raw, "do not match"},
            {"size zero", "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 2 0 2\n" + raw,
             "at least 1"},
            {"sizes overflowing",
             "NRRD0004\ntype: double\ndimension: 3\nendian: little\n"
             "sizes: 4294967296 4294967296 4294967296\n" +
                 raw,
             "larger than the memory"},
            {"ascii encoding", uint8Head + "encoding: ascii\n\n1 2 3 4 5 6 7 8", "\"ascii\""},
            {"no encoding", uint8Head + "\n", "no \"encoding\""},
            {"no endian for shorts", "NRRD0004\ntype: short\ndimension: 3\nsizes: 2 2 2\n" + raw,
             "no \"endian\""},
            {"data short", uint8Head + raw + "1234567", "need 8"},
            {"byte skip past the data", uint8Head + "encoding: raw\nbyte skip: 99\n\n12345678",
             "byte skip"},
            {"line skip past the data", uint8Head + "encoding: raw\nline skip: 3\n\n12345678",
             "line skip"},
            {"gzip data cut short", uint8Head + "encoding: gzip\n\n\x1f\x8b\x08", "gzip data"},
            {"a list of data files", uint8Head + "encoding: raw\ndata file: LIST\n", "one file"},
            {"a space direction of no length",
             uint8Head + "space directions: (0,0,0) (1,0,0) (0,1,0)\n" + raw + "12345678",
             "no length"},
            {"a malformed direction", uint8Head + "space directions: (1,0) (1,0,0) (0,1,0)\n" + raw,
             "(x,y,z)"},
            {"a line that is no field", uint8Head + "what is this\n" + raw, "not a field"},
        },
        [](const std::string& text, SampleVolume& v, std::string& error) {
            return readText(text, v, error);
        });
}
