#include <gtest/gtest.h>

#include "read/hdf5_superblock.h"
#include "scratch_dir.h"

#include <string>

namespace {

using Hdf5Superblock = ScratchDirTest;

std::string seed(const char* name) {
    return ScratchDirTest::contents(std::string(VOXSCOPE_INPUT_CORPUS) + "/" + name);
}

} // namespace

// Both superblock layouts (version 0 from h5py's oldest, 3 from its newest)
// state where the file ends: every cut before that is refused at once.
TEST_F(Hdf5Superblock, EveryCutOfEitherLayoutIsRefusedBeforeTheLibrary) {
    // Where each superblock's end of file address ends: 8-byte addresses
    // from 24 bytes in (version 0) and from 12 (version 3), the third.
    for (const auto& [name, fieldEnd] :
         {std::make_pair("hdf5_plain.h5", 48), std::make_pair("hdf5_gzip.h5", 36)}) {
        const std::string whole = seed(name);
        ASSERT_GT(whole.size(), 1000u) << name;
        std::string reason;
        EXPECT_TRUE(hdf5SuperblockFits(write(name, whole).c_str(), reason)) << reason;
        for (size_t length = 0; length < whole.size(); length += length < 64 ? 1 : 97) {
            SCOPED_TRACE(std::string(name) + " cut to " + std::to_string(length));
            EXPECT_FALSE(hdf5SuperblockFits(write(name, whole.substr(0, length)).c_str(), reason));
            const std::string cut = length < 8 ? "it holds no HDF5 signature"
                                    : length < size_t(fieldEnd)
                                        ? "it is cut short inside its superblock"
                                        : "it is cut short: its superblock says it "
                                          "ends at byte " +
                                              std::to_string(whole.size());
            EXPECT_EQ(reason.substr(0, cut.size()), cut);
        }
    }
}

TEST_F(Hdf5Superblock, TheSignatureAfterAUserBlockAndWhatIsLeftToTheLibrary) {
    const std::string plain = seed("hdf5_plain.h5");
    std::string reason;
    // After a user block of 512 or 1024 bytes; not after 256.
    EXPECT_TRUE(hdf5SuperblockFits(write("a.h5", std::string(512, 'u') + plain).c_str(), reason));
    EXPECT_TRUE(hdf5SuperblockFits(write("b.h5", std::string(1024, 0) + plain).c_str(), reason));
    EXPECT_FALSE(hdf5SuperblockFits(write("c.h5", std::string(256, 'u') + plain).c_str(), reason));
    EXPECT_EQ(reason, "it holds no HDF5 signature at 0, 512, 1024 ... bytes");
    // An undefined end of file, or a version this does not know: the
    // library's to judge.
    std::string undefinedEnd = plain;
    undefinedEnd.replace(24 + 16, 8, std::string(8, '\xff'));
    EXPECT_TRUE(hdf5SuperblockFits(write("d.h5", undefinedEnd.substr(0, 100)).c_str(), reason));
    std::string future = plain;
    future[8] = 9;
    EXPECT_TRUE(hdf5SuperblockFits(write("e.h5", future.substr(0, 100)).c_str(), reason));
    EXPECT_FALSE(hdf5SuperblockFits(dir.c_str(), reason));
    EXPECT_EQ(reason, "it is not a regular file that can be opened");
}
