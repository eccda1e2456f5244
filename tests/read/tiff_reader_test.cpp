// TIFF stacks written here through libtiff itself: every layout (strips,
// tiles, planar or not) and compression gives the same samples, y up the
// image; the pages of an ImageJ hyperstack's first channel; a folder of
// slices in natural order; and the refusals, in one line, nothing printed.
#include <gtest/gtest.h>

#include "grid_samples.h"
#include "read/tiff_reader.h"
#include "scratch_dir.h"

#include <cstring>
#include <functional>
#include <tiffio.h>

namespace {

constexpr int64_t plenty = int64_t(1) << 30;

struct PageLayout {
    uint32_t width = 37, height = 23;
    uint16_t bits = 16, format = SAMPLEFORMAT_UINT, samples = 1;
    uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    uint32_t tile = 0;         // tiles of this size; 0: strips
    uint32_t rowsPerStrip = 5; // strips
    std::string description;
};

// The bytes of one sample: `value` as the page's type.
void putSample(const PageLayout& layout, double value, uint8_t* to) {
    if (layout.format == SAMPLEFORMAT_IEEEFP) {
        if (layout.bits == 32) {
            const float f = float(value);
            memcpy(to, &f, 4);
        } else {
            memcpy(to, &value, 8);
        }
        return;
    }
    const int64_t whole = int64_t(value);
    memcpy(to, &whole, layout.bits / 8); // this machine is little-endian, as libtiff writes it
}

using SampleOf = std::function<double(uint32_t x, uint32_t row, uint32_t page, int channel)>;

// Writes `pages` pages of `layout` (page n's samples from `sample`) to `path`.
void writeTiff(const std::string& path, const PageLayout& layout, int pages,
               const SampleOf& sample) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    const size_t item = layout.bits / 8;
    const bool separate = layout.planar == PLANARCONFIG_SEPARATE;
    for (int page = 0; page < pages; ++page) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, layout.format);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, layout.planar);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     layout.samples > 1 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        if (layout.samples == 4) {
            const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
        }
        if (page == 0 && !layout.description.empty())
            TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, layout.description.c_str());
        if (layout.tile) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, layout.tile);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, layout.tile);
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, layout.rowsPerStrip);
        }
        const int planes = separate ? layout.samples : 1;
        const int perPiece = separate ? 1 : layout.samples;
        for (int plane = 0; plane < planes; ++plane) {
            // A piece's samples: rows of `width` (the tile's, padded past the image).
            auto piece = [&](uint32_t x0, uint32_t y0, uint32_t w, uint32_t h) {
                std::vector<uint8_t> bytes(size_t(w) * h * perPiece * item, 0);
                for (uint32_t r = 0; r < h && y0 + r < layout.height; ++r)
                    for (uint32_t c = 0; c < w && x0 + c < layout.width; ++c)
                        for (int s = 0; s < perPiece; ++s)
                            putSample(layout, sample(x0 + c, y0 + r, page, separate ? plane : s),
                                      &bytes[((size_t(r) * w + c) * perPiece + s) * item]);
                return bytes;
            };
            if (layout.tile) {
                for (uint32_t y = 0; y < layout.height; y += layout.tile)
                    for (uint32_t x = 0; x < layout.width; x += layout.tile) {
                        std::vector<uint8_t> bytes = piece(x, y, layout.tile, layout.tile);
                        ASSERT_GT(TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, plane),
                                                       bytes.data(), tmsize_t(bytes.size())),
                                  0);
                    }
            } else {
                const uint32_t strips =
                    (layout.height + layout.rowsPerStrip - 1) / layout.rowsPerStrip;
                for (uint32_t s = 0; s < strips; ++s) {
                    const uint32_t y = s * layout.rowsPerStrip;
                    std::vector<uint8_t> bytes =
                        piece(0, y, layout.width, std::min(layout.rowsPerStrip, layout.height - y));
                    ASSERT_GT(TIFFWriteEncodedStrip(tif, plane * strips + s, bytes.data(),
                                                    tmsize_t(bytes.size())),
                              0);
                }
            }
        }
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
}

double grey(uint32_t x, uint32_t row, uint32_t page, int) {
    return double(x * 7 + row * 300 + page * 11000);
}

double colour(uint32_t x, uint32_t row, uint32_t page, int channel) {
    return double((x * 3 + row * 5 + page * 17 + channel * 60) % 256);
}

bool readFile(const std::string& path, SampleVolume& v, std::string& reason,
              int64_t maxBytes = plenty) {
    const std::vector<uint8_t> bytes = fileBytes(path);
    return parseTiff(bytes.data(), bytes.size(), maxBytes, v, reason);
}

// Sample (i, j, k) is the file's column i, row height-1-j, page k.
void expectStack(const SampleVolume& v, const PageLayout& layout, int pages,
                 const SampleOf& sample) {
    ASSERT_EQ(v.dims[0], layout.width);
    ASSERT_EQ(v.dims[1], layout.height);
    ASSERT_EQ(v.dims[2], pages);
    ASSERT_EQ(v.channels, int(layout.samples));
    int wrong = 0;
    for (int64_t k = 0; k < pages; ++k)
        for (int64_t j = 0; j < v.dims[1]; ++j)
            for (int64_t i = 0; i < v.dims[0] && wrong < 5; ++i) {
                const uint32_t row = uint32_t(layout.height - 1 - j);
                if (layout.samples == 1) {
                    const double want = sample(uint32_t(i), row, uint32_t(k), 0);
                    const double got = sampleValue(v, i, j, k);
                    wrong += got != want;
                    EXPECT_EQ(got, want) << i << " " << j << " " << k;
                    continue;
                }
                const uint8_t* at =
                    sampleBytes(v) + i * v.strides[0] + j * v.strides[1] + k * v.strides[2];
                for (int c = 0; c < layout.samples; ++c) {
                    const double want = sample(uint32_t(i), row, uint32_t(k), c);
                    wrong += at[c * v.channelStride] != want;
                    EXPECT_EQ(at[c * v.channelStride], want) << i << " " << j << " " << k;
                }
            }
}

using TiffStack = ScratchDirTest;

} // namespace

TEST_F(TiffStack, EveryLayoutAndCompressionGivesTheSameSamples) {
    struct Variant {
        const char* name;
        uint16_t compression;
        uint32_t tile;
        uint32_t rowsPerStrip;
    };
    const Variant variants[] = {
        {"none", COMPRESSION_NONE, 0, 5},         {"one strip", COMPRESSION_NONE, 0, 23},
        {"lzw", COMPRESSION_LZW, 0, 4},           {"deflate", COMPRESSION_ADOBE_DEFLATE, 0, 7},
        {"packbits", COMPRESSION_PACKBITS, 0, 3}, {"tiles", COMPRESSION_NONE, 16, 0},
        {"lzw tiles", COMPRESSION_LZW, 16, 0},
    };
    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.name);
        PageLayout layout;
        layout.compression = variant.compression;
        layout.tile = variant.tile;
        layout.rowsPerStrip = variant.rowsPerStrip;
        const std::string path = dir + "/grey.tif";
        writeTiff(path, layout, 3, grey);
        SampleVolume v;
        std::string reason;
        ASSERT_TRUE(readFile(path, v, reason)) << reason;
        EXPECT_EQ(v.type, SampleType::uint16);
        EXPECT_EQ(v.meaning, SampleMeaning::values);
        expectStack(v, layout, 3, grey);
        // RGB and RGBA, pixels together or planes apart.
        for (uint16_t samples : {3, 4})
            for (uint16_t planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE}) {
                SCOPED_TRACE(std::to_string(samples) + " samples, planar " +
                             std::to_string(planar));
                PageLayout rgb = layout;
                rgb.bits = 8;
                rgb.samples = samples;
                rgb.planar = planar;
                writeTiff(path, rgb, 2, colour);
                ASSERT_TRUE(readFile(path, v, reason)) << reason;
                EXPECT_EQ(v.meaning, SampleMeaning::occupancy);
                expectStack(v, rgb, 2, colour);
            }
    }
}

TEST_F(TiffStack, SignedUnsignedAndFloatSamplesKeepTheirValues) {
    const struct {
        uint16_t bits, format;
        SampleType type;
    } types[] = {
        {8, SAMPLEFORMAT_UINT, SampleType::uint8},
        {8, SAMPLEFORMAT_INT, SampleType::int8},
        {16, SAMPLEFORMAT_INT, SampleType::int16},
        {32, SAMPLEFORMAT_UINT, SampleType::uint32},
        {32, SAMPLEFORMAT_INT, SampleType::int32},
        {32, SAMPLEFORMAT_IEEEFP, SampleType::float32},
        {64, SAMPLEFORMAT_IEEEFP, SampleType::float64},
    };
    for (const auto& type : types) {
        SCOPED_TRACE(sampleTypeName(type.type));
        PageLayout layout;
        layout.bits = type.bits;
        layout.format = type.format;
        layout.compression = COMPRESSION_ADOBE_DEFLATE;
        const bool isSigned = type.format != SAMPLEFORMAT_UINT;
        const SampleOf sample = [&](uint32_t x, uint32_t row, uint32_t page, int) {
            const double v = double((x + row * 3 + page * 5) % 100);
            return isSigned ? v - 50 : v;
        };
        writeTiff(dir + "/typed.tif", layout, 2, sample);
        SampleVolume v;
        std::string reason;
        ASSERT_TRUE(readFile(dir + "/typed.tif", v, reason)) << reason;
        EXPECT_EQ(v.type, type.type);
        expectStack(v, layout, 2, sample);
    }
}

TEST_F(TiffStack, AnImageJHyperstackGivesTheFirstChannelsSlicesAndItsSpacing) {
    PageLayout layout;
    layout.width = 6;
    layout.height = 4;
    layout.description = "ImageJ=1.11a\nimages=12\nchannels=2\nslices=3\nframes=2\n"
                         "hyperstack=true\nunit=micron\nspacing=2.5\n";
    const std::string path = dir + "/hyper.tif";
    // Every sample of page n is n.
    writeTiff(path, layout, 12,
              [](uint32_t, uint32_t, uint32_t page, int) { return double(page); });
    TIFF* tif = TIFFOpen(path.c_str(), "r+");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 4.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 2.0f);
    TIFFRewriteDirectory(tif);
    TIFFClose(tif);
    SampleVolume v;
    std::string reason;
    ASSERT_TRUE(readFile(path, v, reason)) << reason;
    ASSERT_EQ(v.dims[2], 3);
    for (int64_t k = 0; k < 3; ++k)
        EXPECT_EQ(sampleValue(v, 1, 2, k), double(2 * k)) << k;
    EXPECT_EQ(v.spacing[0], 0.25);
    EXPECT_EQ(v.spacing[1], 0.5);
    EXPECT_EQ(v.spacing[2], 2.5);
    EXPECT_EQ(v.spacingSource, "ImageJ's XResolution, YResolution and spacing");
}

TEST_F(TiffStack, BrokenAndOversizedStacksAreRefusedInOneLineWithNothingPrinted) {
    PageLayout layout;
    writeTiff(dir + "/big.tif", layout, 4, grey);
    {
        TIFF* b = TIFFOpen((dir + "/bilevel.tif").c_str(), "w");
        ASSERT_NE(b, nullptr);
        TIFFSetField(b, TIFFTAG_IMAGEWIDTH, 8);
        TIFFSetField(b, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(b, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(b, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        uint8_t rows[2] = {0xff, 0x0f};
        TIFFWriteEncodedStrip(b, 0, rows, 2);
        TIFFClose(b);
    }
    // Deflated tiles that claim to be 65520 samples a side: each tile's
    // buffer would pass the memory allowed.
    PageLayout tiled = layout;
    tiled.tile = 16;
    tiled.compression = COMPRESSION_ADOBE_DEFLATE;
    writeTiff(dir + "/huge_tiles.tif", tiled, 1, grey);
    std::string hugeTiles = contents(dir + "/huge_tiles.tif");
    int patched = 0;
    for (const char tag : {'\x42', '\x43'}) // TileWidth, TileLength (322, 323) as SHORT
        for (size_t at = 8; at + 12 <= hugeTiles.size(); at += 2)
            if (hugeTiles.compare(at, 8, std::string{tag, 1, 3, 0, 1, 0, 0, 0}) == 0) {
                hugeTiles[at + 8] = '\xf0';
                hugeTiles[at + 9] = '\xff';
                ++patched;
                break;
            }
    ASSERT_EQ(patched, 2);
    write("huge_tiles.tif", hugeTiles);
    std::string truncated = contents(dir + "/big.tif");
    truncated.resize(truncated.size() / 2);
    write("truncated.tif", truncated);
    write("junk.tif", std::string("II*\0\xff\xff\xff\x7f", 8) + std::string(64, 'x'));

    testing::internal::CaptureStderr();
    const struct {
        std::string path;
        int64_t maxBytes;
        std::string reasonStart;
    } cases[] = {
        {dir + "/big.tif", 4 * 37 * 23 * 2 - 1,
         "the stack of 4 pages of 37 x 23 uint16 samples is larger than the memory allowed"},
        {dir + "/bilevel.tif", plenty, "page 1 has 1-bit samples of format 1; this reads 8"},
        {VOXSCOPE_INPUT_CORPUS "/page_loop.tif", plenty,
         "its chain of pages loops back or does not read to its end"},
        {VOXSCOPE_INPUT_CORPUS "/huge_pages.tif", int64_t(1) << 40,
         "page 1's strips hold 138 bytes of the file; its 1073741824 x 3 uint8 samples need"},
        {dir + "/truncated.tif", plenty, "its chain of pages loops back or does not read"},
        {dir + "/huge_tiles.tif", plenty,
         "page 1's tile of 65520 x 65520 is larger than the memory allowed"},
        {dir + "/junk.tif", plenty, "libtiff cannot open it (TIFFFetchDirectory: "},
    };
    for (const auto& c : cases) {
        SampleVolume v;
        std::string reason;
        EXPECT_FALSE(readFile(c.path, v, reason, c.maxBytes)) << c.path;
        EXPECT_EQ(reason.substr(0, c.reasonStart.size()), c.reasonStart) << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(TiffStack, AFolderOfSlicesIsReadInTheNaturalOrderOfItsNames) {
    PageLayout layout;
    layout.width = 5;
    layout.height = 3;
    for (int n : {10, 2, 1}) {
        layout.compression = n == 2 ? COMPRESSION_LZW : COMPRESSION_NONE;
        writeTiff(dir + "/img_" + std::to_string(n) + ".tif", layout, 1,
                  [n](uint32_t x, uint32_t, uint32_t, int) { return double(n * 100 + x); });
    }
    write("readme.txt", "not a slice");
    ASSERT_TRUE(isTiffFolder(dir.c_str()));
    ReadOptions options;
    SampleVolume v;
    std::string reason;
    ASSERT_TRUE(readTiffFolder(dir.c_str(), options, v, reason)) << reason;
    ASSERT_EQ(v.dims[2], 3);
    EXPECT_EQ(sampleValue(v, 4, 0, 0), 104);
    EXPECT_EQ(sampleValue(v, 4, 0, 1), 204);
    EXPECT_EQ(sampleValue(v, 0, 2, 2), 1000);

    // The output, a slice of another size and a slice of two pages are
    // refused by name.
    const std::string output = dir + "/img_2.tif";
    options.output = output.c_str();
    EXPECT_FALSE(readTiffFolder(dir.c_str(), options, v, reason));
    EXPECT_EQ(reason, "its slice " + output + " is the output; write the output to another file");
    options.output = "";
    PageLayout wide = layout;
    wide.width = 6;
    writeTiff(dir + "/img_3.tif", wide, 1, grey);
    EXPECT_FALSE(readTiffFolder(dir.c_str(), options, v, reason));
    EXPECT_EQ(reason, "its slice img_3.tif is 6 x 3 uint16; the first, img_1.tif, is 5 x 3 "
                      "uint16");
    writeTiff(dir + "/img_3.tif", layout, 2, grey);
    EXPECT_FALSE(readTiffFolder(dir.c_str(), options, v, reason));
    EXPECT_EQ(reason, "its slice img_3.tif holds more than one page; a folder's slices are "
                      "single pages");
    EXPECT_FALSE(isTiffFolder((dir + "/img_1.tif").c_str()));
}
