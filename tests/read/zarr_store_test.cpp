#include "read/zarr_store.h"

#include "scratch_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(ZarrStore, PathsInsideTheStoreStayInside) {
    std::string clean, reason;
    EXPECT_TRUE(storeRelativePath("/labels//small/./", true, "--dataset", clean, reason));
    EXPECT_EQ(clean, "labels/small");
    EXPECT_TRUE(storeRelativePath("", true, "--dataset", clean, reason));
    EXPECT_EQ(clean, "");
    EXPECT_FALSE(storeRelativePath("/etc", false, "its path", clean, reason));
    EXPECT_EQ(reason, "its path \"/etc\" is an absolute path");
    for (const char* escape : {"..", "a/../../b", "/..", "a/.."}) {
        EXPECT_FALSE(storeRelativePath(escape, true, "--dataset", clean, reason)) << escape;
        EXPECT_NE(reason.find("goes through \"..\""), std::string::npos) << reason;
    }
    // A name with dots that is not ".." is a name.
    EXPECT_TRUE(storeRelativePath("a/..b/c..", false, "its path", clean, reason));
    EXPECT_EQ(clean, "a/..b/c..");
}

using ZarrStoreFolder = ScratchDirTest;

TEST_F(ZarrStoreFolder, AMetadataFileNamesItsFolderAndAFolderItself) {
    EXPECT_EQ(zarrStoreRoot(dir.c_str()), dir);
    EXPECT_EQ(zarrStoreRoot((dir + "//").c_str()), dir);
    EXPECT_FALSE(holdsZarrMetadata(dir));
    const std::string meta = write(".zgroup", "{\"zarr_format\": 2}");
    EXPECT_EQ(zarrStoreRoot(meta.c_str()), dir);
    EXPECT_TRUE(holdsZarrMetadata(dir));
    EXPECT_EQ(zarrStoreRoot("zarr.json"), ".");
}
