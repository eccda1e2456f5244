#include <gtest/gtest.h>

#include "convert/input_read.h"
#include "grid_samples.h"
#include "read/nifti_reader.h"
#include "scratch_dir.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

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

namespace {

// A .hdr/.img pair made from the 2x3x4 uint8 sample: its header marked
// "ni1" with the samples at `offset` of the image, `volumes` of them.
struct NiftiPair : ScratchDirTest {
    std::vector<uint8_t> header;
    std::vector<uint8_t> samples;
    void SetUp() override {
        ScratchDirTest::SetUp();
        const std::vector<uint8_t> nii = fileBytes(gridSample("dtypes/nifti-u1-F-le.nii"));
        header.assign(nii.begin(), nii.begin() + 348);
        memcpy(header.data() + 344, "ni1\0", 4);
        putFloat(header, 108, 0.0f);
        samples.assign(nii.begin() + 352, nii.end());
    }
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        return ScratchDirTest::write(name, std::string(bytes.begin(), bytes.end()));
    }
    bool read(VoxelGrid& grid, std::string& error, const std::string& output = "") {
        const std::string path = write("pair.hdr", header);
        ReadOptions options;
        options.path = path.c_str();
        options.output = output.c_str();
        SampleRules rules;
        rules.threshold = ThresholdRule{true, 0.0};
        InputChoice choice;
        choice.format = findInputFormat(header.data(), header.size(), options.path);
        return readInputAs(choice, header.data(), header.size(), options, rules, grid, error);
    }
    std::string holds(size_t bytes) {
        return "cannot read " + dir + "/pair.hdr as NIfTI-1: its image file " + dir +
               "/pair.img holds " + std::to_string(bytes) + " bytes";
    }
};

} // namespace

TEST_F(NiftiPair, TheImageIsExactlyWhatTheHeaderSays) {
    VoxelGrid grid;
    std::string error;
    write("pair.img", samples);
    ASSERT_TRUE(read(grid, error)) << error;
    EXPECT_EQ(grid.voxels.colors.size(), 3 * samples.size());
    const std::string need = "; the header's offset, dimensions and datatype need exactly ";
    std::vector<uint8_t> longer = samples;
    longer.push_back(0);
    write("pair.img", longer);
    EXPECT_FALSE(read(grid, error));
    EXPECT_EQ(error, holds(25) + need + "24");
    write("pair.img", std::vector<uint8_t>(samples.begin(), samples.end() - 1));
    EXPECT_FALSE(read(grid, error));
    EXPECT_EQ(error, holds(23) + need + "24");
    // An offset and a series of three volumes: all of them count, the first
    // is read.
    putFloat(header, 108, 16.0f);
    putShort(header, 40, 4);
    putShort(header, 48, 3);
    std::vector<uint8_t> series(16, 0xee);
    for (int n = 0; n < 3; ++n)
        series.insert(series.end(), samples.begin(), samples.end());
    write("pair.img", series);
    ASSERT_TRUE(read(grid, error)) << error;
    EXPECT_EQ(grid.voxels.colors.size(), 3 * samples.size());
    series.pop_back();
    write("pair.img", series);
    EXPECT_FALSE(read(grid, error));
    EXPECT_EQ(error, holds(87) + need + "88");
}

TEST_F(NiftiPair, AnImageThatIsNotAFileOrIsTheOutputIsRefused) {
    VoxelGrid grid;
    std::string error;
    const std::string image = dir + "/pair.img";
    ASSERT_EQ(mkfifo(image.c_str(), 0600), 0);
    EXPECT_FALSE(read(grid, error));
    EXPECT_EQ(error, "cannot read " + dir + "/pair.hdr as NIfTI-1: its image file " + image +
                         " is a FIFO, not a regular file");
    ASSERT_EQ(remove(image.c_str()), 0);
    write("pair.img", samples);
    EXPECT_FALSE(read(grid, error, image));
    EXPECT_EQ(error, "cannot read " + dir + "/pair.hdr as NIfTI-1: its image file " + image +
                         " is the output; write the output to another file");
}
