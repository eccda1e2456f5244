#include <gtest/gtest.h>

#include "grid_samples.h"
#include "read/metaimage_reader.h"
#include "scratch_dir.h"

#include <cstdint>

extern const InputFormat metaImageInput;

namespace {

bool parse(const std::string& text, MetaImageHeader& header, std::string& error) {
    return parseMetaImageHeader(reinterpret_cast<const uint8_t*>(text.data()), text.size(), header,
                                error);
}

bool readAt(const std::string& path, const std::string& text, SampleVolume& v, std::string& error) {
    ReadOptions options;
    options.path = path.c_str();
    return metaImageInput.readSamples(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                      options, v, error);
}

const std::string fields = "ObjectType = Image\nNDims = 3\nDimSize = 2 3 4\n"
                           "ElementType = MET_UCHAR\n";

using MetaImageFiles = ScratchDirTest;

} // namespace

TEST(MetaImageReader, EveryTypeEitherByteOrderRawOrZlib) {
    expectEveryDtypeSample("metaimage-", 2 + 8 * 2,
                           [](const std::string& path, const std::vector<uint8_t>& bytes,
                              SampleVolume& v, std::string& error) {
                               return readAt(path, std::string(bytes.begin(), bytes.end()), v,
                                             error);
                           });
}

TEST(MetaImageReader, KnownByItsFirstField) {
    for (const char* head : {"ObjectType = Image\nNDims = 3\n", "NDims=3\n", "NDims  = 2"})
        EXPECT_TRUE(startsWithMetaImage(reinterpret_cast<const uint8_t*>(head), strlen(head)))
            << head;
    for (const char* head : {"NDimsX = 3\n", "# NDims = 3\n", "ObjectType", "DimSize = 3\n"})
        EXPECT_FALSE(startsWithMetaImage(reinterpret_cast<const uint8_t*>(head), strlen(head)))
            << head;
}

TEST(MetaImageReader, PatternsNumberNamesAndNothingElse) {
    std::string name;
    ASSERT_TRUE(patternName("slice%03d.raw", 7, name));
    EXPECT_EQ(name, "slice007.raw");
    ASSERT_TRUE(patternName("s%d", 1234, name));
    EXPECT_EQ(name, "s1234");
    ASSERT_TRUE(patternName("s%4i.raw", 12, name));
    EXPECT_EQ(name, "s  12.raw");
    ASSERT_TRUE(patternName("s%03d", -5, name));
    EXPECT_EQ(name, "s-05");
    ASSERT_TRUE(patternName("s%5d", -5, name));
    EXPECT_EQ(name, "s   -5");
    EXPECT_FALSE(patternName("s%d", INT64_MIN, name));
    // Only one integer conversion: a pattern from a file never reaches printf.
    for (const char* pattern : {"s%s.raw", "s%n", "%d%d", "s%x", "s.raw", "s%", "s%999999999d"})
        EXPECT_FALSE(patternName(pattern, 1, name)) << pattern;
}

TEST(MetaImageReader, OrientationSpacingAndOrigin) {
    MetaImageHeader header;
    std::string error;
    // The TransformMatrix gives each axis's direction in turn, in LPS.
    ASSERT_TRUE(parse(fields + "ElementSize = 2 3 4\nPosition = 1 2 3\n"
                               "TransformMatrix = 0 2 0 -1 0 0 0 0 1\nElementDataFile = LOCAL\n",
                      header, error))
        << error;
    EXPECT_EQ(header.layout.frame, PatientFrame::lps);
    EXPECT_EQ(header.layout.directions[0][1], 1.0);
    EXPECT_EQ(header.layout.directions[1][0], -1.0);
    EXPECT_EQ(header.layout.directions[2][2], 1.0);
    EXPECT_EQ(header.layout.spacing[1], 3.0);
    EXPECT_EQ(header.layout.origin[2], 3.0);
    EXPECT_TRUE(header.local);
    // AnatomicalOrientation alone: each letter the side its axis comes from.
    ASSERT_TRUE(
        parse(fields + "AnatomicalOrientation = LSA\nElementDataFile = LOCAL\n", header, error));
    EXPECT_EQ(header.layout.frame, PatientFrame::lps);
    EXPECT_EQ(header.layout.directions[0][0], -1.0);
    EXPECT_EQ(header.layout.directions[1][2], -1.0);
    EXPECT_EQ(header.layout.directions[2][1], 1.0); // from anterior: toward P
    // Neither: no patient frame; an unusable code is no orientation either.
    for (const char* more :
         {"", "AnatomicalOrientation = ???\n", "AnatomicalOrientation = RRI\n"}) {
        ASSERT_TRUE(parse(fields + more + "ElementDataFile = LOCAL\n", header, error));
        EXPECT_EQ(header.layout.frame, PatientFrame::none) << more;
    }
    // A 2-D image of one slice, its normal completing the axes.
    ASSERT_TRUE(parse("NDims = 2\nDimSize = 3 4\nElementType = MET_SHORT\n"
                      "TransformMatrix = 0 1 1 0\nElementDataFile = LOCAL\n",
                      header, error))
        << error;
    EXPECT_EQ(header.layout.dims[2], 1);
    EXPECT_EQ(header.layout.directions[2][2], -1.0);
}

TEST(MetaImageReader, RefusesWhatItCannotHonour) {
    const std::string local = "ElementDataFile = LOCAL\n";
    expectRefusals(
        {{"no data file", fields, "has no ElementDataFile"},
         {"NDims 5", "NDims = 5\n" + local, "NDims must be 2, 3 or 4"},
         {"too few sizes", "NDims = 3\nDimSize = 2 3\nElementType = MET_UCHAR\n" + local,
          "DimSize must be NDims"},
         {"MET_LONG", "NDims = 3\nDimSize = 2 3 4\nElementType = MET_LONG\n" + local,
          "ElementType \"MET_LONG\""},
         {"two channels", fields + "ElementNumberOfChannels = 2\n" + local, "has 2 uint8 channels"},
         {"a matrix without a direction", fields + "TransformMatrix = 0 0 0 0 1 0 0 0 1\n" + local,
          "gives an axis no direction"},
         {"text samples", fields + "BinaryData = False\n" + local, "BinaryData = False"},
         {"no line", "NDims = 3\nDimSize 2 3 4\n" + local, "\"DimSize 2 3 4\" is not a field"},
         {"short", fields + local + std::string(23, '\1'), "holds 23 bytes; its dimensions"},
         {"LIST of 5D files", fields + "ElementDataFile = LIST 5D\n", "is not 1D to 3D"},
         {"LIST of whole series",
          "NDims = 4\nDimSize = 2 3 4 2\nElementType = MET_UCHAR\n"
          "ElementDataFile = LIST 4D\nall.raw\n",
          "is not 1D to 3D"},
         {"LIST too short", fields + "ElementDataFile = LIST\na.raw\n\n",
          "names 1 files; its dimensions need 4"},
         {"compressed slices", fields + "CompressedData = True\nElementDataFile = LIST\n",
          "compressed in several files"},
         {"pattern past its range", fields + "ElementDataFile = s%d.raw 1 3 1\n",
          "does not number the 4 files"},
         {"pattern of a string", fields + "ElementDataFile = s%s.raw 1 4 1\n",
          "is not a name with one number"},
         {"pattern spanning all integers",
          fields + "ElementDataFile = s%d.raw -9223372036854775808 9223372036854775807 1\n",
          "numbers must be whole numbers of at most 12 digits"},
         {"claims terabytes",
          "NDims = 3\nDimSize = 100000 100000 100000\nElementType = "
          "MET_DOUBLE\n" +
              local,
          "larger than the memory allowed"}},
        [](const std::string& text, SampleVolume& v, std::string& error) {
            return readAt("x.mha", text, v, error);
        });
}

TEST_F(MetaImageFiles, SlicesFromAListOrAPatternHeaderSizesAndSeries) {
    // 2 x 3 x 4 samples: each slice file holds k * 10 + its index.
    for (int k = 0; k < 4; ++k) {
        std::string slice(6, '\0');
        for (int n = 0; n < 6; ++n)
            slice[size_t(n)] = char(k * 10 + n);
        write("s" + std::to_string(k + 1) + ".raw", slice);
        write("h" + std::to_string(k) + ".raw", "HEAD" + slice);
    }
    SampleVolume v;
    std::string error;
    const std::string header = dir + "/x.mhd";
    for (const std::string& files :
         {std::string("LIST\ns1.raw\n s2.raw \n\ns3.raw\ns4.raw\n"), std::string("s%d.raw 1 4 1"),
          std::string("LIST 2D\r\ns1.raw\r\ns2.raw\r\ns3.raw\r\ns4.raw\r\nextra.raw\n")}) {
        SCOPED_TRACE(files);
        ASSERT_TRUE(readAt(header, fields + "ElementDataFile = " + files, v, error)) << error;
        EXPECT_EQ(sampleValue(v, 1, 2, 3), 35.0);
        EXPECT_EQ(sampleValue(v, 0, 1, 2), 22.0);
    }
    // HeaderSize bytes lead each file; -1: the samples end it.
    for (const char* size : {"4", "-1"}) {
        ASSERT_TRUE(readAt(header,
                           fields + "HeaderSize = " + size + "\nElementDataFile = h%d.raw 0 3\n", v,
                           error))
            << error;
        EXPECT_EQ(sampleValue(v, 1, 2, 3), 35.0);
    }
    ASSERT_FALSE(readAt(header, fields + "ElementDataFile = h%d.raw 0 3\n", v, error));
    EXPECT_NE(error.find("holds 10 bytes; a slice and the header's HeaderSize need exactly 6"),
              std::string::npos)
        << error;
    // A series of two volumes in one data file: the first is read, all of
    // it is checked.
    std::string both(48, '\0');
    both[23] = 7, both[47] = 9;
    write("series.raw", both);
    const std::string series =
        "NDims = 4\nDimSize = 2 3 4 2\nElementType = MET_UCHAR\nElementDataFile = series.raw\n";
    testing::internal::CaptureStderr();
    ASSERT_TRUE(readAt(header, series, v, error)) << error;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("holds a series of volumes"),
              std::string::npos);
    EXPECT_EQ(sampleValue(v, 1, 2, 3), 7.0);
    write("series.raw", both.substr(0, 24));
    ASSERT_FALSE(readAt(header, series, v, error));
    EXPECT_NE(error.find("holds 24 bytes; the header's sizes, type and HeaderSize need exactly 48"),
              std::string::npos)
        << error;
}
