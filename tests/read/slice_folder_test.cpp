// A folder of slices: its slice files in the natural order of their names.
#include <gtest/gtest.h>

#include "read/slice_folder.h"
#include "scratch_dir.h"

#include <algorithm>
#include <sys/stat.h>

namespace {

const char* const tiffNames[] = {".tif", ".tiff", nullptr};

using SliceFolder = ScratchDirTest;

} // namespace

TEST(NaturalOrder, NumbersInNamesCompareAsNumbers) {
    std::vector<std::string> names = {"img_10.tif", "img_2.tif",  "img_1.tif",
                                      "b.tif",      "img_02.tif", "a10b2",
                                      "a10b10",     "a9b99",      "img_100.tif"};
    std::sort(names.begin(), names.end(), naturalLess);
    const std::vector<std::string> expected = {"a9b99",     "a10b2",      "a10b10",
                                               "b.tif",     "img_1.tif",  "img_02.tif",
                                               "img_2.tif", "img_10.tif", "img_100.tif"};
    EXPECT_EQ(names, expected);
    // A strict order: nothing before itself, equal numbers told apart by bytes.
    EXPECT_FALSE(naturalLess("img_2", "img_2"));
    EXPECT_NE(naturalLess("img_02", "img_2"), naturalLess("img_2", "img_02"));
    // Runs of digits too long for any integer still compare.
    EXPECT_TRUE(naturalLess("s99999999999999999999999", "s100000000000000000000000"));
}

TEST_F(SliceFolder, OnlyVisibleRegularTiffFilesAreSlices) {
    write("z_10.TIF", "0123456789");
    write("z_9.tiff", "01234");
    write("z_1.tif", "0");
    write("notes.txt", "not a slice");
    write(".z_0.tif", "hidden");
    ASSERT_EQ(mkdir((dir + "/z_5.tif").c_str(), 0700), 0);
    std::vector<std::string> names;
    std::string reason;
    ASSERT_TRUE(sliceNames(dir.c_str(), tiffNames, names, reason)) << reason;
    EXPECT_EQ(names, (std::vector<std::string>{"z_1.tif", "z_9.tiff", "z_10.TIF"}));
    EXPECT_EQ(sliceBytes(dir.c_str(), tiffNames), 16);
    EXPECT_FALSE(sliceNames((dir + "/missing").c_str(), tiffNames, names, reason));
    EXPECT_EQ(reason, "cannot list the folder: No such file or directory");
    EXPECT_EQ(sliceBytes((dir + "/missing").c_str(), tiffNames), 0);
}
