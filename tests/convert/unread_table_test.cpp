#include <gtest/gtest.h>

#include "convert/input_read.h"
#include "convert/unread_table.h"

#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

std::vector<uint8_t> bytesOf(const std::string& text, size_t size = 0) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    if (bytes.size() < size)
        bytes.resize(size);
    return bytes;
}

std::string whatIs(const std::vector<uint8_t>& bytes, const char* path) {
    const UnreadFormat* row = findUnreadFormat(bytes.data(), bytes.size(), path);
    return row ? row->what : "nothing";
}

std::vector<uint8_t> gzipped(const std::vector<uint8_t>& bytes) {
    z_stream z = {};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, bytes.size()) + 32);
    z.next_in = const_cast<uint8_t*>(bytes.data());
    z.avail_in = unsigned(bytes.size());
    z.next_out = out.data();
    z.avail_out = unsigned(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// An MGH header: version 1, 4 x 5 x 6, one frame, uchar.
std::vector<uint8_t> mghHeader() {
    std::vector<uint8_t> bytes(284);
    const uint32_t fields[6] = {1, 4, 5, 6, 1, 0};
    for (int f = 0; f < 6; ++f)
        for (int b = 0; b < 4; ++b)
            bytes[size_t(4 * f + b)] = uint8_t(fields[f] >> (24 - 8 * b));
    return bytes;
}

} // namespace

TEST(UnreadTable, EachFormatIsKnownByItsContentWhateverItsName) {
    std::vector<uint8_t> analyze(348);
    analyze[0] = 0x5c, analyze[1] = 0x01; // 348, least significant first
    std::vector<uint8_t> bigAnalyze(348);
    bigAnalyze[2] = 0x01, bigAnalyze[3] = 0x5c;
    const struct {
        std::vector<uint8_t> bytes;
        const char* path;
        const char* what;
    } cases[] = {
        {bytesOf("\x89HDF\r\n\x1a\n", 64), "scan.mnc", "a MINC-2 volume (HDF5)"},
        {bytesOf("CDF\x01", 64), "scan.MNC", "a MINC-1 volume (NetCDF)"},
        {bytesOf("\x0e\x03\x13\x01", 64), "swath", "an HDF4 file"},
        {bytesOf("\x01\x02\x03"), "old.HDF", "an HDF4 file"},
        {bytesOf("CDF\x02", 64), "climate", "a NetCDF file"},
        {analyze, "brain.hdr", "an Analyze 7.5 header"},
        {bigAnalyze, "brain", "an Analyze 7.5 header"},
        {bytesOf("# === DATA DESCRIPTION FILE ===\n"), "t1", "a Philips PAR header"},
        {bytesOf("\ntype = string-attribute\nname = HISTORY_NOTE\n"), "x", "an AFNI header"},
        // Known by name alone where the content says nothing.
        {bytesOf("\x01\x02\x03"), "T1.REC", "a Philips REC image"},
        {bytesOf("\x01\x02\x03"), "anat+orig.BRIK", "an AFNI image"},
        {bytesOf("\x01\x02\x03"), "odd.mnc", "a MINC volume"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(whatIs(c.bytes, c.path), c.what) << c.path;
}

TEST(UnreadTable, WhatItDoesNotKnowIsLeftToTheImporter) {
    // A binary STL with a zeroed 80-byte header, a text mesh, a stray 348.
    std::vector<uint8_t> stl(284);
    stl[80] = 12;
    std::vector<uint8_t> almostMgh = mghHeader();
    almostMgh[23] = 2; // no MGH type 2
    std::vector<uint8_t> shortAnalyze(300);
    shortAnalyze[0] = 0x5c, shortAnalyze[1] = 0x01;
    for (const auto& c : {std::make_pair(stl, "part.stl"), std::make_pair(almostMgh, "x"),
                          std::make_pair(shortAnalyze, "x"),
                          std::make_pair(bytesOf("solid duck\nfacet normal 0 0 1\n"), "duck"),
                          std::make_pair(bytesOf("NDimsX = 3\n"), "x"),
                          std::make_pair(bytesOf("{\"asset\": {}}"), "scene.gltf")})
        EXPECT_EQ(whatIs(c.first, c.second), "nothing") << c.second;
}

TEST(UnreadTable, ChoosingAnInputNamesWhatAGzipStreamHolds) {
    const std::vector<uint8_t> netcdf = gzipped(bytesOf("CDF\x02", 64));
    InputChoice choice;
    std::string error;
    ASSERT_TRUE(chooseInput(netcdf.data(), netcdf.size(), "climate.nc.gz", choice, error)) << error;
    EXPECT_EQ(choice.format, nullptr);
    ASSERT_NE(choice.unread, nullptr);
    EXPECT_STREQ(choice.unread->what, "a NetCDF file");
    // HDF5 is read, but a MINC-2 volume, HDF5 by content, is known by its
    // content and name together before the plainer row reads it.
    const std::vector<uint8_t> hdf5 = bytesOf("\x89HDF\r\n\x1a\n", 64);
    const std::vector<uint8_t> hdf5Gz = gzipped(hdf5);
    for (const auto& [name, bytes] :
         {std::make_pair("scan.mnc", hdf5), std::make_pair("scan.MNC.gz", hdf5Gz)}) {
        ASSERT_TRUE(chooseInput(bytes.data(), bytes.size(), name, choice, error)) << error;
        EXPECT_EQ(choice.format, nullptr) << name;
        ASSERT_NE(choice.unread, nullptr) << name;
        EXPECT_STREQ(choice.unread->what, "a MINC-2 volume (HDF5)");
    }
    for (const char* name : {"scan.h5.gz", "data.gz"}) {
        ASSERT_TRUE(chooseInput(hdf5Gz.data(), hdf5Gz.size(), name, choice, error)) << error;
        ASSERT_NE(choice.format, nullptr) << name;
        EXPECT_STREQ(choice.format->name, "HDF5");
        EXPECT_EQ(choice.unread, nullptr);
    }
    // An MGH header in gzip (.mgz) is its reader's now.
    const std::vector<uint8_t> mgz = gzipped(mghHeader());
    ASSERT_TRUE(chooseInput(mgz.data(), mgz.size(), "brain.mgz", choice, error)) << error;
    ASSERT_NE(choice.format, nullptr);
    EXPECT_STREQ(choice.format->name, "MGH");
    EXPECT_TRUE(choice.gzip);
    // A row that reads the bytes wins: no unread row is looked for.
    const std::vector<uint8_t> npy = bytesOf("\x93NUMPY\x01\x00\x76\x00{'descr': '|u1', "
                                             "'fortran_order': False, 'shape': (1,), }",
                                             128);
    ASSERT_TRUE(chooseInput(npy.data(), npy.size(), "x.tif", choice, error)) << error;
    EXPECT_NE(choice.format, nullptr);
    EXPECT_EQ(choice.unread, nullptr);
}
