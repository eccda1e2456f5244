#include <gtest/gtest.h>

#include "grid_samples.h"
#include "read/mgh_reader.h"

#include <cstring>

extern const InputFormat mghInput;

namespace {

void putInt(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int b = 0; b < 4; ++b)
        bytes[at + size_t(b)] = uint8_t(value >> (24 - 8 * b));
}

void putFloat(std::vector<uint8_t>& bytes, size_t at, float value) {
    uint32_t bits;
    memcpy(&bits, &value, 4);
    putInt(bytes, at, bits);
}

// Version 1, 4 x 5 x 6 samples, `frames` frames, uchar, no orientation; the
// samples follow when `withData`.
std::vector<uint8_t> mghFile(uint32_t frames = 1, bool withData = true) {
    std::vector<uint8_t> bytes(mghDataOffset + (withData ? 120 * frames : 0));
    const uint32_t fields[6] = {1, 4, 5, 6, frames, 0};
    for (size_t f = 0; f < 6; ++f)
        putInt(bytes, 4 * f, fields[f]);
    return bytes;
}

bool readMgh(const std::vector<uint8_t>& bytes, SampleVolume& v, std::string& error) {
    ReadOptions options;
    return mghInput.readSamples(bytes.data(), bytes.size(), options, v, error);
}

} // namespace

TEST(MghReader, EveryTypeItReads) {
    expectEveryDtypeSample("mgh-", 4,
                           [](const std::string&, const std::vector<uint8_t>& bytes,
                              SampleVolume& v,
                              std::string& error) { return readMgh(bytes, v, error); });
}

TEST(MghReader, KnownByItsHeaderWhateverItsName) {
    EXPECT_TRUE(startsWithMgh(mghFile().data(), 28));
    std::vector<uint8_t> typeTwo = mghFile();
    typeTwo[23] = 2; // no MGH type 2
    std::vector<uint8_t> noDepth = mghFile();
    putInt(noDepth, 12, 0);
    std::vector<uint8_t> version2 = mghFile();
    putInt(version2, 0, 2);
    for (const auto* bytes : {&typeTwo, &noDepth, &version2})
        EXPECT_FALSE(startsWithMgh(bytes->data(), bytes->size()));
    EXPECT_FALSE(startsWithMgh(mghFile().data(), 27));
}

TEST(MghReader, OrientationFromTheHeaderOrFreeSurfersDefault) {
    // Without ras_good_flag: 1 mm samples, x to the left, y inferior, z
    // anterior, sample (2, 2.5, 3) at the origin.
    MghHeader header;
    std::string error;
    std::vector<uint8_t> bytes = mghFile();
    putFloat(bytes, 30, 3.0f); // a spacing the flag does not vouch for
    ASSERT_TRUE(parseMghHeader(bytes.data(), bytes.size(), header, error)) << error;
    const double lia[3][3] = {{-1, 0, 0}, {0, 0, -1}, {0, 1, 0}};
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(header.layout.spacing[a], 1.0);
        for (int e = 0; e < 3; ++e)
            EXPECT_EQ(header.layout.directions[a][e], lia[a][e]);
    }
    EXPECT_EQ(header.layout.frame, PatientFrame::ras);
    EXPECT_EQ(header.layout.origin[0], 2.0);
    EXPECT_EQ(header.layout.origin[1], -3.0);
    EXPECT_EQ(header.layout.origin[2], 2.5);
    // With it: spacings (2, 1, 0.5), axes y, -x, z scaled by 2 (their
    // length joins the spacing), centre (10, 20, 30).
    bytes[29] = 1;
    const float spacing[3] = {2, 1, 0.5f}, axes[9] = {0, 2, 0, -2, 0, 0, 0, 0, 2},
                centre[3] = {10, 20, 30};
    for (size_t n = 0; n < 3; ++n)
        putFloat(bytes, 30 + 4 * n, spacing[n]), putFloat(bytes, 78 + 4 * n, centre[n]);
    for (size_t n = 0; n < 9; ++n)
        putFloat(bytes, 42 + 4 * n, axes[n]);
    ASSERT_TRUE(parseMghHeader(bytes.data(), bytes.size(), header, error)) << error;
    EXPECT_EQ(header.layout.spacing[0], 4.0);
    EXPECT_EQ(header.layout.spacing[1], 2.0);
    EXPECT_EQ(header.layout.spacing[2], 1.0);
    EXPECT_EQ(header.layout.directions[0][1], 1.0);
    EXPECT_EQ(header.layout.directions[1][0], -1.0);
    EXPECT_EQ(header.layout.directions[2][2], 1.0);
    // centre - (0, 4 * 4/2, 0) - (-2 * 5/2, 0, 0) - (0, 0, 1 * 6/2)
    EXPECT_EQ(header.layout.origin[0], 15.0);
    EXPECT_EQ(header.layout.origin[1], 12.0);
    EXPECT_EQ(header.layout.origin[2], 27.0);
    // Cosines of no length fall back to the default.
    for (size_t n = 0; n < 3; ++n)
        putFloat(bytes, 42 + 4 * n, 0);
    ASSERT_TRUE(parseMghHeader(bytes.data(), bytes.size(), header, error)) << error;
    EXPECT_EQ(header.layout.directions[1][2], -1.0);
}

TEST(MghReader, FirstFrameOfASeriesAndOnlyThePresentBytes) {
    std::vector<uint8_t> two = mghFile(2);
    for (size_t n = 0; n < 240; ++n)
        two[mghDataOffset + n] = uint8_t(n);
    SampleVolume v;
    std::string error;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(readMgh(two, v, error)) << error;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("holds a series of volumes"),
              std::string::npos);
    EXPECT_EQ(v.dims[2], 6);
    EXPECT_EQ(sampleValue(v, 3, 4, 5), 119.0);
    // The first frame is all a gzip stream is inflated for.
    int64_t end = 0;
    ASSERT_TRUE(mghInput.streamEnd(two.data(), 512, int64_t(1) << 30, end, error));
    EXPECT_EQ(end, int64_t(mghDataOffset + 120));
    expectRefusals(
        {{"short", std::string(two.begin(), two.begin() + mghDataOffset + 119),
          "the MGH data holds 119 bytes; its dimensions and type need 120"},
         {"header cut", std::string(two.begin(), two.begin() + 200), "the MGH header is 284"},
         {"version 2", std::string("\0\0\0\2", 4) + std::string(two.begin() + 4, two.end()),
          "the MGH version is 2"},
         {"no frames",
          std::string(two.begin(), two.begin() + 16) + std::string(4, '\0') +
              std::string(two.begin() + 20, two.end()),
          "frame count must be at least 1"},
         {"huge",
          std::string(two.begin(), two.begin() + 4) + std::string("\x7f\xff\xff\xff", 4) +
              std::string("\x7f\xff\xff\xff", 4) + std::string(two.begin() + 12, two.end()),
          "larger than the memory allowed"}},
        [](const std::string& text, SampleVolume& out, std::string& why) {
            return readMgh(std::vector<uint8_t>(text.begin(), text.end()), out, why);
        });
}
