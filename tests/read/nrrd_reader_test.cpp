#include <gtest/gtest.h>

#include "grid_samples.h"
#include "read/nrrd_reader.h"
#include "scratch_dir.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

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

namespace {

// A detached header and its data file in a scratch folder.
struct DetachedNrrd : ScratchDirTest {
    // Reads a header of 2x2x2 bytes whose other fields are `fields`.
    bool read(const std::string& fields, SampleVolume& v, std::string& error,
              const std::string& output = "", int64_t maxBytes = plenty) {
        const std::string header = write("volume.nhdr", uint8Head + fields);
        return readNrrd(header, fileBytes(header), maxBytes, v, error, output);
    }
    std::string holds(const std::string& name, int64_t bytes) {
        return "its data file " + dir + "/" + name + " holds " + std::to_string(bytes) + " bytes";
    }
};

} // namespace

TEST_F(DetachedNrrd, RawDataIsExactlyWhatTheHeaderSays) {
    SampleVolume v;
    std::string error;
    const std::string raw = "encoding: raw\ndata file: volume.raw\n";
    write("volume.raw", "\x01\x02\x03\x04\x05\x06\x07\x08");
    ASSERT_TRUE(read(raw, v, error)) << error;
    EXPECT_EQ(sampleValue(v, 1, 1, 1), 8.0);
    // One byte more or less than the samples: refused from the size alone.
    write("volume.raw", "123456789");
    EXPECT_FALSE(read(raw, v, error));
    EXPECT_EQ(error,
              holds("volume.raw", 9) + "; the header's sizes, type and skips need exactly 8");
    write("volume.raw", "1234567");
    EXPECT_FALSE(read(raw, v, error));
    EXPECT_EQ(error,
              holds("volume.raw", 7) + "; the header's sizes, type and skips need at least 8");
    // Skips count: lines, then bytes, then the samples, and nothing after.
    write("volume.raw", "a line\nxx\x01\x02\x03\x04\x05\x06\x07\x09");
    ASSERT_TRUE(
        read("encoding: raw\nline skip: 1\nbyte skip: 2\ndata file: volume.raw\n", v, error))
        << error;
    EXPECT_EQ(sampleValue(v, 1, 1, 1), 9.0);
    EXPECT_FALSE(
        read("encoding: raw\nline skip: 2\nbyte skip: 2\ndata file: volume.raw\n", v, error));
    EXPECT_EQ(error, holds("volume.raw", 17) +
                         ", too few for its \"line skip\" before 8 bytes of samples");
    // A byte skip of -1: the last bytes, whatever comes before them.
    write("volume.raw", "anything at all\x01\x02\x03\x04\x05\x06\x07\x0a");
    ASSERT_TRUE(read("encoding: raw\nbyte skip: -1\ndata file: volume.raw\n", v, error)) << error;
    EXPECT_EQ(sampleValue(v, 1, 1, 1), 10.0);
    write("volume.raw", "1234567");
    EXPECT_FALSE(read("encoding: raw\nbyte skip: -1\ndata file: volume.raw\n", v, error));
    EXPECT_EQ(error,
              holds("volume.raw", 7) + "; the header's sizes, type and skips need at least 8");
}

TEST_F(DetachedNrrd, AHugeSparseDataFileIsRefusedUnread) {
    // 3 GB of holes behind a 2x2x2 header: reading it would take seconds and
    // the memory cap; its size alone refuses it.
    const std::string path = write("sparse.raw", "");
    ASSERT_EQ(truncate(path.c_str(), int64_t(3) << 30), 0);
    SampleVolume v;
    std::string error;
    EXPECT_FALSE(read("encoding: raw\ndata file: sparse.raw\n", v, error));
    EXPECT_EQ(error, holds("sparse.raw", int64_t(3) << 30) +
                         "; the header's sizes, type and skips need exactly 8");
    // Gzip data is read whole, so its file may be no larger than the cap.
    EXPECT_FALSE(read("encoding: gzip\ndata file: sparse.raw\n", v, error, "", int64_t(1) << 30));
    EXPECT_EQ(error, holds("sparse.raw", int64_t(3) << 30) +
                         " of gzip data, more than the memory allowed (1024 MiB; raise "
                         "--max-memory)");
}

TEST_F(DetachedNrrd, GzipDataFileWithinTheCapIsRead) {
    uint8_t samples[8] = {1, 2, 3, 4, 5, 6, 7, 11};
    std::string packed(64, '\0');
    z_stream z = {};
    ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    z.next_in = samples;
    z.avail_in = sizeof samples;
    z.next_out = reinterpret_cast<Bytef*>(&packed[0]);
    z.avail_out = uInt(packed.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    packed.resize(z.total_out);
    deflateEnd(&z);
    write("volume.raw.gz", packed);
    SampleVolume v;
    std::string error;
    ASSERT_TRUE(read("encoding: gzip\ndata file: volume.raw.gz\n", v, error)) << error;
    EXPECT_EQ(sampleValue(v, 1, 1, 1), 11.0);
    EXPECT_FALSE(read("encoding: gzip\ndata file: volume.raw.gz\n", v, error, "",
                      int64_t(packed.size()) - 1));
    EXPECT_NE(error.find("of gzip data, more than the memory allowed"), std::string::npos) << error;
}

TEST_F(DetachedNrrd, NamesOutsideTheFolderAndFilesThatAreNotFilesAreRefused) {
    SampleVolume v;
    std::string error;
    const std::string why = "; a header may name only files in its own folder or below, so that "
                            "it cannot point at other files on the machine";
    EXPECT_FALSE(read("encoding: raw\ndata file: ../../../../etc/passwd\n", v, error));
    EXPECT_EQ(error, "its data file \"../../../../etc/passwd\" goes through \"..\"" + why);
    EXPECT_FALSE(read("encoding: raw\ndata file: /etc/passwd\n", v, error));
    EXPECT_EQ(error, "its data file \"/etc/passwd\" is an absolute path" + why);
    const std::string fifo = dir + "/fifo.raw";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(read("encoding: raw\ndata file: fifo.raw\n", v, error));
    EXPECT_EQ(error, "its data file " + fifo + " is a FIFO, not a regular file");
    ASSERT_EQ(symlink("/dev/zero", (dir + "/zero.raw").c_str()), 0);
    EXPECT_FALSE(read("encoding: raw\ndata file: zero.raw\n", v, error));
    EXPECT_EQ(error,
              "its data file " + dir + "/zero.raw is a character device, not a regular file");
    // The data file is the output: refused before it is read.
    const std::string data = write("volume.raw", "12345678");
    EXPECT_FALSE(read("encoding: raw\ndata file: volume.raw\n", v, error, data));
    EXPECT_EQ(error, "its data file " + data + " is the output; write the output to another file");
}

TEST(NrrdReader, AFourthAxisIsColourChannelsOrASeriesOfWhichTheFirstIsRead) {
    SampleVolume v;
    std::string error;
    // RGB-color channels first (fastest), 2 x 1 x 1 samples: red, then grey.
    ASSERT_TRUE(readText("NRRD0005\ntype: uint8\ndimension: 4\nsizes: 3 2 1 1\n"
                         "kinds: RGB-color domain domain domain\nencoding: raw\n\n"
                         "\xff\x01\x02\x40\x40\x40",
                         v, error))
        << error;
    EXPECT_EQ(v.channels, 3);
    EXPECT_EQ(v.channelStride, 1);
    EXPECT_EQ(v.dims[0], 2);
    EXPECT_EQ(v.strides[0], 3);
    EXPECT_EQ(sampleValue(v, 1, 0, 0), 0x40);
    EXPECT_EQ(v.meaning, SampleMeaning::occupancy);
    // RGBA-color as the slowest axis: each channel a volume of its own.
    ASSERT_TRUE(readText("NRRD0005\ntype: uint8\ndimension: 4\nsizes: 2 1 1 4\n"
                         "kinds: domain domain domain RGBA-color\nencoding: raw\n\n"
                         "\x01\x02\x03\x04\x05\x06\x07\x08",
                         v, error))
        << error;
    EXPECT_EQ(v.channels, 4);
    EXPECT_EQ(v.channelStride, 2);
    EXPECT_EQ(sampleBytes(v)[1 + 3 * v.channelStride], 8); // sample 1's alpha
    // A series, the slowest axis by default: the first volume, all checked.
    const std::string series = "NRRD0005\ntype: uint8\ndimension: 4\nsizes: 2 1 1 3\n"
                               "encoding: raw\n\n";
    ASSERT_TRUE(readText(series + "\x01\x02\x03\x04\x05\x06", v, error)) << error;
    EXPECT_EQ(v.channels, 1);
    EXPECT_EQ(v.dims[0], 2);
    EXPECT_EQ(v.dims[2], 1);
    EXPECT_EQ(sampleValue(v, 1, 0, 0), 2.0);
    EXPECT_FALSE(readText(series + "\x01\x02\x03\x04\x05", v, error));
    EXPECT_EQ(error, "the NRRD data holds 5 bytes; the sizes and type need 6");
    // A list axis named by its kind, or by its "none" direction, in any place:
    // the spacings and directions are those of the other three.
    for (const std::string& axis :
         {std::string("kinds: domain list domain domain\n"),
          std::string("space directions: (2,0,0) none (0,3,0) (0,0,4)\n")}) {
        ASSERT_TRUE(readText("NRRD0005\ntype: uint8\ndimension: 4\nsizes: 2 3 1 1\n" + axis +
                                 "encoding: raw\n\n\x01\x02\x03\x04\x05\x06",
                             v, error))
            << error;
        EXPECT_EQ(v.dims[0], 2);
        EXPECT_EQ(v.dims[1], 1);
        EXPECT_EQ(v.strides[1], 6);
        EXPECT_EQ(sampleValue(v, 1, 0, 0), 2.0);
        if (axis[0] == 's') {
            EXPECT_DOUBLE_EQ(v.spacing[1], 3.0);
        }
    }
    // Colours are 8-bit channels of the count their kind says.
    EXPECT_FALSE(readText("NRRD0005\ntype: short\ndimension: 4\nsizes: 3 1 1 1\nendian: little\n"
                          "kinds: RGB-color domain domain domain\nencoding: raw\n\n123456",
                          v, error));
    EXPECT_EQ(error, "the NRRD RGB-color axis holds 3 int16 samples; colours are read as 3 uint8 "
                     "channels");
    EXPECT_FALSE(readText("NRRD0005\ntype: uint8\ndimension: 5\nsizes: 1 1 1 1 1\n"
                          "encoding: raw\n\n1",
                          v, error));
    EXPECT_EQ(error, "the NRRD array has 5 dimensions; a volume needs 3 (or 4: colours or a "
                     "series)");
}
