#include <gtest/gtest.h>

#include "convert/input_table.h"
#include "read/hdf5_reader.h"
#include "scratch_dir.h"

#include <string>

namespace {

const std::string signature("\x89HDF\r\n\x1a\n", 8);

bool claimed(const std::string& head) {
    return startsWithHdf5(reinterpret_cast<const uint8_t*>(head.data()), head.size());
}

std::string seed(const char* name) {
    return ScratchDirTest::contents(std::string(VOXSCOPE_INPUT_CORPUS) + "/" + name);
}

using Hdf5Reader = ScratchDirTest;

} // namespace

// The superblock starts the file or follows a user block of 512 bytes
// times a power of two; nowhere else.
TEST(Hdf5Content, TheSignatureAtTheStartOrAfterAUserBlock) {
    EXPECT_TRUE(claimed(signature));
    EXPECT_TRUE(claimed(signature + std::string(100, '\0')));
    EXPECT_TRUE(claimed(std::string(512, 'u') + signature));
    EXPECT_TRUE(claimed(std::string(2048, 'u') + signature));
    EXPECT_FALSE(claimed(std::string(256, 'u') + signature));
    EXPECT_FALSE(claimed(std::string(513, 'u') + signature));
    EXPECT_FALSE(claimed(signature.substr(0, 7)));
    EXPECT_FALSE(claimed(std::string(512, 'u') + signature.substr(0, 7)));
    EXPECT_FALSE(claimed(""));
    // By name alone where the first bytes show no signature.
    for (const char* name : {"a.h5", "b.HDF5", "c.he5", "d.nxs", "e.cxi"}) {
        const InputFormat* row = findInputFormat(nullptr, 0, name);
        ASSERT_NE(row, nullptr) << name;
        EXPECT_STREQ(row->name, "HDF5");
        EXPECT_TRUE(row->takesDataset);
    }
}

TEST_F(Hdf5Reader, ReadsTheChosenDatasetAndRefusesWhatDoesNotFit) {
    const std::string path = write("gzip.h5", seed("hdf5_gzip.h5"));
    ReadOptions options;
    options.path = path.c_str();
    SampleVolume volume;
    std::string reason;
    // /exchange/data (3 x 4 x 5 uint16) before its dark field.
    ASSERT_TRUE(readHdf5Samples(path.c_str(), options, volume, reason)) << reason;
    EXPECT_EQ(volume.dims[0], 5);
    EXPECT_EQ(volume.dims[1], 4);
    EXPECT_EQ(volume.dims[2], 3);
    EXPECT_EQ(volume.type, SampleType::uint16);
    EXPECT_EQ(volume.storage.size(), size_t(3 * 4 * 5 * 2));
    options.dataset = "exchange/data_dark";
    ASSERT_TRUE(readHdf5Samples(path.c_str(), options, volume, reason)) << reason;
    EXPECT_EQ(volume.dims[2], 1);
    options.dataset = "/exchange";
    EXPECT_FALSE(readHdf5Samples(path.c_str(), options, volume, reason));
    EXPECT_EQ(reason.rfind("it holds no dataset \"/exchange\"; its datasets of 3 or more "
                           "dimensions: /exchange/data (3 x 4 x 5), /exchange/data_dark",
                           0),
              0u)
        << reason;
    // The volume is held to the memory allowed before it is allocated.
    options.dataset = "";
    options.maxBytes = 100;
    EXPECT_FALSE(readHdf5Samples(path.c_str(), options, volume, reason));
    EXPECT_EQ(reason.rfind("its dataset /exchange/data (3 x 4 x 5) is larger than the memory "
                           "allowed",
                           0),
              0u)
        << reason;
}

TEST_F(Hdf5Reader, SpacingComesFromElementSizeInZYXOrder) {
    const std::string path = write("plain.h5", seed("hdf5_plain.h5"));
    ReadOptions options;
    options.path = path.c_str();
    SampleVolume volume;
    std::string reason;
    ASSERT_TRUE(readHdf5Samples(path.c_str(), options, volume, reason)) << reason;
    // element_size_um = [2, 1, 1]: z is the coarse axis, k.
    EXPECT_EQ(volume.spacing[0], 1.0);
    EXPECT_EQ(volume.spacing[1], 1.0);
    EXPECT_EQ(volume.spacing[2], 2.0);
    EXPECT_EQ(volume.spacingSource, "the dataset's element_size_um");
}
