#include <gtest/gtest.h>

#include "convert/nifti_reader.h"
#include "grid_samples.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int64_t plenty = int64_t(1) << 30;

bool readBytes(const std::vector<uint8_t>& bytes, SampleVolume& v, std::string& error) {
    NiftiHeader header;
    return parseNiftiHeader(bytes.data(), bytes.size(), header, error) &&
           decodeNiftiData(header, bytes, plenty, v, error);
}

void putShort(std::vector<uint8_t>& bytes, size_t at, int16_t value) {
    memcpy(bytes.data() + at, &value, 2);
}

void putFloat(std::vector<uint8_t>& bytes, size_t at, float value) {
    memcpy(bytes.data() + at, &value, 4);
}

} // namespace

TEST(NiftiReader, EveryDatatypeInEitherByteOrder) {
    expectEveryDtypeSample("nifti-", 2 + 8 * 2,
                           [](const std::string&, const std::vector<uint8_t>& bytes,
                              SampleVolume& v,
                              std::string& error) { return readBytes(bytes, v, error); });
}

TEST(NiftiReader, ScalingSpacingAndOrigin) {
    std::vector<uint8_t> bytes = fileBytes(gridSample("dtypes/nifti-u1-F-le.nii"));
    putFloat(bytes, 80, -0.5f); // pixdim[1]: its size counts, not its sign
    putFloat(bytes, 84, 2.0f);
    putFloat(bytes, 88, 0.0f);   // none: one unit
    putFloat(bytes, 112, 2.0f);  // scl_slope
    putFloat(bytes, 116, -3.0f); // scl_inter
    putFloat(bytes, 268, 7.0f);  // qoffset_x (qform_code 1)
    SampleVolume v;
    std::string error;
    ASSERT_TRUE(readBytes(bytes, v, error)) << error;
    EXPECT_DOUBLE_EQ(v.spacing[0], 0.5);
    EXPECT_DOUBLE_EQ(v.spacing[1], 2.0);
    EXPECT_DOUBLE_EQ(v.spacing[2], 1.0);
    EXPECT_DOUBLE_EQ(v.origin[0], 7.0);
    EXPECT_DOUBLE_EQ(sampleValue(v, 1, 2, 3), 2.0 * 123 - 3.0);
    // A slope of 0 means no scaling at all.
    putFloat(bytes, 112, 0.0f);
    ASSERT_TRUE(readBytes(bytes, v, error)) << error;
    EXPECT_DOUBLE_EQ(sampleValue(v, 1, 2, 3), 123.0);
}

TEST(NiftiReader, RefusesHeadersItCannotHonour) {
    const std::vector<uint8_t> good = fileBytes(gridSample("dtypes/nifti-u1-F-le.nii"));
    struct Case {
        const char* name;
        void (*damage)(std::vector<uint8_t>&);
        const char* reason;
    };
    const Case cases[] = {
        {"short of its header", [](std::vector<uint8_t>& b) { b.resize(300); }, "348"},
        {"wrong magic", [](std::vector<uint8_t>& b) { b[345] = 'x'; }, "magic"},
        {"dim[0] of 9", [](std::vector<uint8_t>& b) { putShort(b, 40, 9); }, "dim[0]"},
        {"a negative size", [](std::vector<uint8_t>& b) { putShort(b, 44, -2); }, "dim[2]"},
        {"RGB datatype", [](std::vector<uint8_t>& b) { putShort(b, 70, 128); }, "datatype 128"},
        {"bitpix not matching", [](std::vector<uint8_t>& b) { putShort(b, 72, 16); }, "bitpix"},
        {"vox_offset inside the header", [](std::vector<uint8_t>& b) { putFloat(b, 108, 100); },
         "vox_offset"},
        {"vox_offset not a number", [](std::vector<uint8_t>& b) { putFloat(b, 108, NAN); },
         "vox_offset"},
        {"vox_offset past the data", [](std::vector<uint8_t>& b) { putFloat(b, 108, 1e6f); },
         "need 24"},
        {"data one byte short", [](std::vector<uint8_t>& b) { b.pop_back(); }, "need 24"},
        // 32767^3 doubles: refused from the header before anything is taken.
        {"huge dimensions",
         [](std::vector<uint8_t>& b) {
             for (int n = 1; n <= 3; ++n)
                 putShort(b, 40 + 2 * n, 32767);
             putShort(b, 70, 64);
             putShort(b, 72, 64);
         },
         "larger than the memory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = good;
        c.damage(bytes);
        SampleVolume v;
        std::string error;
        NiftiHeader header;
        bool parsed = parseNiftiHeader(bytes.data(), bytes.size(), header, error);
        EXPECT_FALSE(parsed && decodeNiftiData(header, bytes, int64_t(1) << 30, v, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(NiftiReader, ImagePathOfAHeader) {
    EXPECT_EQ(niftiImagePath("dir/brain.hdr"), "dir/brain.img");
    EXPECT_EQ(niftiImagePath("DIR/BRAIN.HDR"), "DIR/BRAIN.IMG");
    EXPECT_EQ(niftiImagePath("d.x/brain"), "d.x/brain.img");
}
