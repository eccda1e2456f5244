// The private folder: made under $TMPDIR with mode 0700, removed with what
// is in it, and a folder that cannot be made refused in one line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/private_folder.h"
#include "scratch_dir.h"

namespace {

struct PrivateFolder : ScratchDirTest {
    void TearDown() override {
        if (saved.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", saved.c_str(), 1);
        ScratchDirTest::TearDown();
    }
    void SetUp() override {
        ScratchDirTest::SetUp();
        if (const char* tmp = getenv("TMPDIR"))
            saved = tmp;
    }
    std::string saved;
};

TEST_F(PrivateFolder, IsMadeUnderTmpdirForTheUserAloneAndRemovedWhole) {
    setenv("TMPDIR", (dir + "/").c_str(), 1);
    std::string error;
    const std::string folder = makePrivateFolder("vxltest", &error);
    ASSERT_FALSE(folder.empty()) << error;
    EXPECT_EQ(folder.rfind(dir + "/vxltest-", 0), 0u) << folder;
    struct stat info;
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    write(folder.substr(dir.size() + 1) + "/model.vxl", "1 1\n0 0 0 1 2 3\n");
    write(folder.substr(dir.size() + 1) + "/.vxlconv-abc123", "cut short");
    ASSERT_TRUE(removePrivateFolder(folder, &error)) << error;
    EXPECT_NE(access(folder.c_str(), F_OK), 0);
    // Gone already is no failure.
    EXPECT_TRUE(removePrivateFolder(folder, &error));
}

TEST_F(PrivateFolder, FallsBackToTmpAndRefusesAFolderThatCannotBeMade) {
    setenv("TMPDIR", "", 1);
    std::string error;
    const std::string folder = makePrivateFolder("vxltest", &error);
    ASSERT_EQ(folder.rfind("/tmp/vxltest-", 0), 0u) << folder;
    EXPECT_TRUE(removePrivateFolder(folder, &error));
    setenv("TMPDIR", (dir + "/missing").c_str(), 1);
    EXPECT_EQ(makePrivateFolder("vxltest", &error), "");
    EXPECT_EQ(error, "cannot make a folder under " + dir + "/missing: No such file or directory");
}

} // namespace
