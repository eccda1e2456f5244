// Which files get a thumbnail: voxel text, as the loader reads it, within the
// voxel and byte limits; binary formats that share the extension, and files
// too big, are refused from their first bytes and their size.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/thumbnail_input.h"
#include "scratch_dir.h"

namespace {

bool looks(const std::string& text, int64_t fileSize = -1, int32_t* count = nullptr) {
    int32_t n = -99;
    bool ok = looksLikeVoxelText(text.data(), text.size(),
                                 fileSize < 0 ? int64_t(text.size()) : fileSize, &n);
    if (count)
        *count = n;
    return ok;
}

TEST(LooksLikeVoxelText, TextAsTheLoaderReadsIt) {
    int32_t count = 0;
    EXPECT_TRUE(looks("3 1.0\n0 0 0 255 0 0\n2 0 0 0 255 0\n0 2 0 0 0 255\n", -1, &count));
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(looks("0 1", -1, &count)) << "an empty model";
    EXPECT_EQ(count, 0);
    // Any white space, signs, exponents, hexadecimal and infinities are text
    // the loader takes.
    EXPECT_TRUE(looks("1\t\r\n0.5e1\v-1 +2 0x1p3 255 -1 256"));
    EXPECT_TRUE(looks("1 inf nan 0 0 1 2 3"));
    // A file the loader stops reading after its count: what follows is not
    // looked at.
    EXPECT_TRUE(looks(std::string("1 1 0 0 0 1 2 3\0\1\2binary", 22)));
    // Fewer voxels than the count: the loader's message is the right answer,
    // not a refusal as a binary file.
    EXPECT_TRUE(looks("5 1.0\n0 0 0 255 0 0\n"));
}

TEST(LooksLikeVoxelText, CutShortByTheProbe) {
    // The probe ends in the middle of a number; the rest of the file follows.
    std::string text = "2 1.0\n0 0 0 255 0 0\n1.25 3";
    EXPECT_TRUE(looks(text, 100));
    // Even in the middle of the header's size: only the count is whole.
    EXPECT_FALSE(looks("200000 1.", 100)) << "the size is cut, nothing whole to judge by";
    EXPECT_TRUE(looks("200000 1.0 ", 100));
    // A cut word is still no number.
    EXPECT_FALSE(looks("2 1.0\n0 0 0 red 0", 100));
}

TEST(LooksLikeVoxelText, BinaryAndOtherFormats) {
    const std::string cases[] = {
        "",
        "   \n",
        std::string("\x00\x04\x00\x00\x00\x04\x00\x00", 8), // Voxlap: little-endian sizes
        std::string("Voxel Animation\0\1\0\0\0", 20),       // Westwood models
        "\xEF\xBB\xBF"
        "1 1.0\n0 0 0 1 2 3\n", // a byte-order mark
        std::string("\xFF\xFE"
                    "1\0 \0",
                    6),                                  // UTF-16
        "12 1.0\n0 0 0 255 0 0\n\x01\x02\x03\xFA\xFB\n", // text, then binary
        "# comment\n1 1\n0 0 0 1 2 3",
        "-3 1.0\n",               // a negative count
        "1",                      // no voxel size
        "1 1.0\n0 0 0 1.5 0 0\n", // ".5" is no colour
    };
    for (const auto& text : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_FALSE(looks(text));
    }
}

struct ThumbnailInput : ScratchDirTest {
    std::string write(const char* name, const std::string& text, int64_t size = -1) {
        std::string path = dir + "/" + name;
        FILE* f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
        if (size >= 0) {
            EXPECT_EQ(truncate(path.c_str(), off_t(size)), 0);
        }
        return path;
    }
    std::string refusal(const std::string& path) {
        std::string error;
        ThumbnailKind kind;
        return checkThumbnailInput(path.c_str(), &kind, &error) ? "accepted" : error;
    }
};

TEST_F(ThumbnailInput, LimitsOfVoxelsAndBytes) {
    const std::string few = write("few.vxl", "1 1.0\n0 0 0 255 0 0\n");
    EXPECT_EQ(refusal(few), "accepted");
    const std::string atLimit =
        write("at.vxl", std::to_string(thumbnailMaxVoxels) + " 1\n0 0 0 1 2 3\n");
    EXPECT_EQ(refusal(atLimit), "accepted") << "the loader, not the limit, refuses its short data";
    const std::string over =
        write("over.vxl", std::to_string(thumbnailMaxVoxels + 1) + " 1\n0 0 0 1 2 3\n");
    EXPECT_EQ(refusal(over), over + " has too many voxels for a thumbnail (1000001, at most " +
                                 std::to_string(thumbnailMaxVoxels) + ")");
    // Sizes from the file system, not from reading: sparse files.
    const std::string exact = write("exact.vxl", "1 1.0\n0 0 0 255 0 0\n", thumbnailMaxBytes);
    EXPECT_EQ(refusal(exact), "accepted");
    const std::string big = write("big.vxl", "1 1.0\n0 0 0 255 0 0\n", thumbnailMaxBytes + 1);
    EXPECT_EQ(refusal(big), big + " is too big for a thumbnail (67108865 bytes, at most 67108864)");
}

TEST_F(ThumbnailInput, WhatIsNotAVoxelTextFile) {
    const std::string binary = write("voxlap.vxl", std::string("\x00\x04\x00\x00", 4));
    EXPECT_EQ(refusal(binary), binary + " is not a voxel text file");
    const std::string empty = write("empty.vxl", "");
    EXPECT_EQ(refusal(empty), empty + " is not a voxel text file");
    EXPECT_EQ(refusal(dir), dir + " is not a regular file");
    const std::string fifo = dir + "/fifo.vxl";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(refusal(fifo), fifo + " is not a regular file") << "and no wait for a writer";
    const std::string missing = dir + "/missing.vxl";
    EXPECT_EQ(refusal(missing), "cannot read " + missing + ": No such file or directory");
    // Only the first bytes are read: a text start with binary far beyond the
    // probe is for the loader to judge.
    std::string start = "1000 1\n";
    while (start.size() < 2 * thumbnailProbeBytes)
        start += "0 0 0 1 2 3\n";
    const std::string longer = write("long.vxl", start + std::string(10, '\0'));
    EXPECT_EQ(refusal(longer), "accepted");
}

TEST_F(ThumbnailInput, MagicaVoxelAndBinvoxByTheirContentAndWithinTheirLimits) {
    auto kindOf = [](const std::string& path) {
        std::string error;
        ThumbnailKind kind = ThumbnailKind::voxelText;
        EXPECT_TRUE(checkThumbnailInput(path.c_str(), &kind, &error)) << error;
        return kind;
    };
    const std::string vox =
        write("scene.vox", std::string("VOX \x96\0\0\0MAIN\0\0\0\0\0\0\0\0", 20));
    EXPECT_EQ(kindOf(vox), ThumbnailKind::magicaVoxel);
    // The content decides, whatever the name says.
    const std::string named = write("scene.vxl", std::string("VOX \x96\0\0\0MAIN", 12));
    EXPECT_EQ(kindOf(named), ThumbnailKind::magicaVoxel);
    const std::string binvox =
        write("chair.binvox", "#binvox 1\ndim 32 32 32\ntranslate 0 0 0\nscale 1\ndata\n\x01\x10");
    EXPECT_EQ(kindOf(binvox), ThumbnailKind::binvox);
    const std::string largest = write("largest.binvox", "#binvox 1\ndim 256 256 256\ndata\n");
    EXPECT_EQ(kindOf(largest), ThumbnailKind::binvox);
    const std::string text = write("model", "1 1.0\n0 0 0 255 0 0\n");
    EXPECT_EQ(kindOf(text), ThumbnailKind::voxelText);

    // Voxlap's .vox: three 32-bit sizes, the voxels, then a palette.
    std::string voxlap("\x20\0\0\0\x20\0\0\0\x20\0\0\0", 12);
    voxlap += std::string(32 * 32 * 32 + 768, '\x07');
    const std::string voxlapFile = write("voxlap.vox", voxlap);
    EXPECT_EQ(refusal(voxlapFile), voxlapFile + " is not a MagicaVoxel file");
    const std::string noMain = write("qubicle.VOX", std::string("VOX \x96\0\0\0PACK", 12));
    EXPECT_EQ(refusal(noMain), noMain + " is not a MagicaVoxel file");
    const std::string textVox = write("text.vox", "1 1.0\n0 0 0 255 0 0\n");
    EXPECT_EQ(refusal(textVox), textVox + " is not a MagicaVoxel file");
    const std::string over = write("over.binvox", "#binvox 1\ndim 257 256 256\ndata\n");
    EXPECT_EQ(refusal(over), over + " has too many voxels for a thumbnail (a grid of more than " +
                                 std::to_string(thumbnailMaxBinvoxCells) + " cells)");
    const std::string huge = write("huge.binvox", "#binvox 1\ndim 99999999999 2 2\ndata\n");
    EXPECT_EQ(refusal(huge), huge + " has too many voxels for a thumbnail (a grid of more than " +
                                 std::to_string(thumbnailMaxBinvoxCells) + " cells)");
    // A header that declares no grid within the probe is no binvox file.
    const std::string noDim = write("nodim.binvox", "#binvox 1\ndata\n");
    EXPECT_EQ(refusal(noDim), noDim + " is not a binvox file");
    const std::string longHeader =
        write("long.binvox",
              "#binvox 1\n" + std::string(thumbnailProbeBytes, '#') + "\ndim 2 2 2\ndata\n");
    EXPECT_EQ(refusal(longHeader), longHeader + " is not a binvox file");
    const std::string badDim = write("bad.binvox", "#binvox 1\ndim 2 x 2\ndata\n");
    EXPECT_EQ(refusal(badDim), badDim + " is not a binvox file");
}

} // namespace
