// The second file a header names: only in the header's folder or below, only
// a regular file (never waiting on a FIFO, never a device), never the
// output, and read no further than asked.
#include <gtest/gtest.h>

#include "read/data_file.h"
#include "scratch_dir.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DataFiles : ScratchDirTest {
    // Whether `path` is refused with exactly `message`.
    void expectRefused(const std::string& path, const std::string& message,
                       const std::string& output = "") {
        DataFile file;
        std::string error;
        EXPECT_FALSE(openDataFile(path, "data file", output, file, error)) << path;
        EXPECT_EQ(error, message);
        EXPECT_EQ(file.fd, -1);
    }
};

TEST(DataFilePath, StaysInTheHeadersFolderOrBelow) {
    std::string path, error;
    ASSERT_TRUE(dataFilePath("scans/head.nhdr", "head.raw", path, error)) << error;
    EXPECT_EQ(path, "scans/head.raw");
    ASSERT_TRUE(dataFilePath("/data/scans/head.nhdr", "raw/head..1.raw", path, error));
    EXPECT_EQ(path, "/data/scans/raw/head..1.raw");
    ASSERT_TRUE(dataFilePath("head.nhdr", "..head.raw", path, error));
    EXPECT_EQ(path, "..head.raw");
    const std::string why = "; a header may name only files in its own folder or below, so that "
                            "it cannot point at other files on the machine";
    EXPECT_FALSE(dataFilePath("scans/head.nhdr", "/etc/passwd", path, error));
    EXPECT_EQ(error, "its data file \"/etc/passwd\" is an absolute path" + why);
    for (const char* climbing : {"../../../../etc/passwd", "raw/../../head.raw", "..", "raw/.."}) {
        EXPECT_FALSE(dataFilePath("scans/head.nhdr", climbing, path, error)) << climbing;
        EXPECT_EQ(error,
                  std::string("its data file \"") + climbing + "\" goes through \"..\"" + why);
    }
}

TEST_F(DataFiles, OnlyARegularFileIsOpened) {
    const std::string fifo = dir + "/fifo.raw";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // No writer: a blocking open would wait here for ever.
    expectRefused(fifo, "its data file " + fifo + " is a FIFO, not a regular file");
    expectRefused(dir, "its data file " + dir + " is a directory, not a regular file");
    for (const char* device : {"/dev/null", "/dev/zero", "/dev/urandom"})
        expectRefused(device, std::string("its data file ") + device +
                                  " is a character device, not a regular file");
    const std::string missing = dir + "/missing.raw";
    expectRefused(missing, "its data file: cannot read " + missing + ": No such file or directory");
    const std::string toFifo = dir + "/link-to-fifo.raw";
    ASSERT_EQ(symlink("fifo.raw", toFifo.c_str()), 0);
    expectRefused(toFifo, "its data file " + toFifo + " is a FIFO, not a regular file");

    // A link to a regular file is followed.
    const std::string data = write("data.raw", "0123456789");
    const std::string link = dir + "/link.raw";
    ASSERT_EQ(symlink("data.raw", link.c_str()), 0);
    DataFile file;
    std::string error;
    ASSERT_TRUE(openDataFile(link, "data file", "", file, error)) << error;
    EXPECT_EQ(file.size, 10);
    closeDataFile(file);
    EXPECT_EQ(file.fd, -1);
}

TEST_F(DataFiles, TheOutputIsNeverAnInput) {
    const std::string data = write("data.raw", "0123456789");
    const std::string hard = dir + "/hard.raw";
    ASSERT_EQ(link(data.c_str(), hard.c_str()), 0);
    for (const std::string& output : {data, hard, dir + "/./data.raw"})
        expectRefused(data,
                      "its data file " + data + " is the output; write the output to another file",
                      output);
    DataFile file;
    std::string error;
    ASSERT_TRUE(openDataFile(data, "image file", dir + "/other.vxl", file, error)) << error;
    closeDataFile(file);
}

TEST_F(DataFiles, ReadsNoFurtherThanAsked) {
    const std::string path = write("lines.raw", "one\ntwo\nthree\n0123456789");
    DataFile file;
    std::string error;
    ASSERT_TRUE(openDataFile(path, "data file", "", file, error)) << error;
    EXPECT_EQ(endOfLines(file, 1, file.size), 4);
    EXPECT_EQ(endOfLines(file, 3, file.size), 14);
    EXPECT_EQ(endOfLines(file, 3, 13), -1) << "the third line ends past the bytes allowed";
    EXPECT_EQ(endOfLines(file, 4, file.size), -1);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(readDataBytes(file, path, 16, 3, bytes, error)) << error;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "234");
    EXPECT_FALSE(readDataBytes(file, path, 20, 10, bytes, error));
    EXPECT_EQ(error, "cannot read " + path + ": it became shorter while it was read");
    closeDataFile(file);
}

TEST_F(DataFiles, NamesFromTheHeaderAreShownEscaped) {
    // The name is the header's: a line break or an escape sequence in it
    // must not reach the terminal as itself.
    std::string path, error;
    EXPECT_FALSE(dataFilePath("head.nhdr", "/x\n\x1b[2J", path, error));
    const std::string shown = "its data file \"/x\\n\\x1b[2J\" is an absolute path; ";
    EXPECT_EQ(error.substr(0, shown.size()), shown);
    const std::string missing = dir + "/x\x1b[2J\nvxlconv: done.raw";
    expectRefused(missing, "its data file: cannot read " + dir +
                               "/x\\x1b[2J\\nvxlconv: done.raw: No such file or directory");
    const std::string fifo = dir + "/\x1b]0;title\x07.raw";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    expectRefused(fifo,
                  "its data file " + dir + "/\\x1b]0;title\\x07.raw is a FIFO, not a regular file");
}

} // namespace
