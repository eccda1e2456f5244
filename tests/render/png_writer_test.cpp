// Pictures encoded into the pending output file: what is written reads back
// through libpng pixel for pixel, and an encoding libpng refuses leaves an
// existing file as it was and no temporary file behind.
#include <gtest/gtest.h>

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/output_file.h"
#include "render/png_writer.h"
#include "scratch_dir.h"

namespace {

struct PngWriter : ScratchDirTest {
    void TearDown() override {
        abandonOutputFile();
        ScratchDirTest::TearDown();
    }
};

std::vector<uint8_t> readBack(const std::string& path, int channels, png_uint_32* w,
                              png_uint_32* h) {
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return {};
    image.format = channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
        return {};
    *w = image.width;
    *h = image.height;
    return pixels;
}

TEST_F(PngWriter, RoundTripsRgbAndRgba) {
    for (int channels : {3, 4}) {
        SCOPED_TRACE(channels);
        const int w = 7, h = 5;
        std::vector<uint8_t> pixels(size_t(w * h * channels));
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = uint8_t(i * 37 + 11);
        const std::string out = dir + "/picture.png";
        std::string error;
        ASSERT_TRUE(beginOutputFile(out.c_str(), "vxlrender", &error)) << error;
        ASSERT_TRUE(finishPngFile(pixels.data(), w, h, channels, &error)) << error;
        png_uint_32 gw = 0, gh = 0;
        EXPECT_EQ(readBack(out, channels, &gw, &gh), pixels) << "rows from the top, unchanged";
        EXPECT_EQ(gw, png_uint_32(w));
        EXPECT_EQ(gh, png_uint_32(h));
        EXPECT_TRUE(others("picture.png").empty());
        // Bytes for embedding are the same file, made in memory.
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(encodePngBytes(pixels.data(), w, h, channels, bytes, &error)) << error;
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), contents(out));
    }
}

TEST_F(PngWriter, FailuresLeaveTheOldFileAndNoTemporary) {
    const std::string out = dir + "/kept.png";
    FILE* f = fopen(out.c_str(), "wb");
    fputs("an earlier picture", f);
    fclose(f);
    std::string error;
    // libpng refuses a picture of no width: nothing replaces the old one.
    ASSERT_TRUE(beginOutputFile(out.c_str(), "vxlrender", &error));
    EXPECT_EQ(others("kept.png").size(), 1u) << "the temporary file is made at once";
    uint8_t pixel[3] = {1, 2, 3};
    EXPECT_FALSE(finishPngFile(pixel, 0, 1, 3, &error));
    EXPECT_EQ(error.rfind("cannot write " + out + ": ", 0), 0u) << error;
    EXPECT_EQ(contents(out), "an earlier picture");
    EXPECT_TRUE(others("kept.png").empty());
    // Finishing without beginning.
    EXPECT_FALSE(finishPngFile(pixel, 1, 1, 3, &error));
    EXPECT_EQ(contents(out), "an earlier picture");
    // A full disk under a picture larger than the stream's buffer: libpng's
    // write fails mid-picture, and the line says why, not just that it did.
    std::vector<uint8_t> noise(300 * 300 * 3);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = uint8_t((i * 2654435761u) >> 13);
    ASSERT_TRUE(beginOutputFile(out.c_str(), "vxlrender", &error));
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    ASSERT_GE(dup2(full, fileno(outputFileStream())), 0);
    close(full);
    EXPECT_FALSE(finishPngFile(noise.data(), 300, 300, 3, &error));
    EXPECT_EQ(error, "cannot write " + out + ": No space left on device");
    EXPECT_EQ(contents(out), "an earlier picture");
    EXPECT_TRUE(others("kept.png").empty());
}

} // namespace
