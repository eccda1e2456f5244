// A file read in pieces: wherever the pieces end, the loader reads what the
// fscanf loop reads from the whole file, and it reads no more of the file than
// it parses.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>

#include "dual_load.h"
#include "model/file_window.h"
#include "model/voxel_model.h"

namespace {

// Sets the window's sizes for one test and puts them back after it.
struct WindowSizes {
    size_t savedBytes = fileWindowBytes, savedFirst = fileWindowFirstRead;
    WindowSizes(size_t bytes, size_t first) {
        fileWindowBytes = bytes;
        fileWindowFirstRead = first;
    }
    ~WindowSizes() {
        fileWindowBytes = savedBytes;
        fileWindowFirstRead = savedFirst;
    }
};

// Both loaders on `bytes` with pieces of every size in `sizes`; the first
// difference found, or empty.
std::string compareWithPieces(const std::string& bytes, std::initializer_list<size_t> sizes) {
    std::string path = writeScratchFile(bytes);
    std::string difference;
    for (size_t size : sizes) {
        for (size_t first : {size_t(1), size / 2 + 1, size}) {
            WindowSizes pieces(size, first);
            difference = compareLoaders(path.c_str());
            if (!difference.empty()) {
                difference = "pieces of " + std::to_string(size) + " (first " +
                             std::to_string(first) + "): " + difference;
                break;
            }
        }
        if (!difference.empty())
            break;
    }
    unlink(path.c_str());
    return difference;
}

// Bytes read by this process so far, as the kernel counts them.
long long bytesReadSoFar() {
    FILE* io = fopen("/proc/self/io", "r");
    if (!io)
        return -1;
    char line[128];
    long long value = -1;
    while (fgets(line, sizeof line, io))
        if (sscanf(line, "rchar: %lld", &value) == 1)
            break;
    fclose(io);
    return value;
}

// Numbers cut by the end of a piece in every way: in the middle of digits,
// of an exponent, of a name, between a sign and its digits, inside runs of
// white space, numbers glued together, and failures on either side of a cut.
TEST(FileWindow, PiecesEndingAnywhereReadAsTheWholeFile) {
    const char* files[] = {
        "3 0.5\n1.25 -2.5 3e2 255 256 -1\n-0.125 +7 1e-3 1 2 3\n0x1.8p1 inf -nan 9 8 7\n",
        "2 1 1-2-3-4-5-6-7-8-9-1-2-3",
        "1 1 infinity -Infinity infinit 1 2 3",
        "1 1 infx 1 2 3 4 5",
        "2 1 1e 2e+ 3e- 4 5 6 7 8 9 10 11 12",
        "1 1 1.2.3 4 5 6 7",
        "1 1\n\n\n\n            \t\t\t\t\r\n            1 2 3 4 5 6",
        "1 1 1 2 3 4 5 6a",
        "2 1 1 2 3 4 5 6.5 0 0 7 8 9",
        "1 1 123456789012345678901234567890.5e-20 1 2 3 4 5",
        "3 1 1 2 3 4 5 6 7 8 9 10 11",
        "1 1 1 2 3 4 5",
    };
    for (const char* text : files) {
        SCOPED_TRACE(text);
        EXPECT_EQ(compareWithPieces(text, {1, 2, 3, 5, 7, 11, 16, 64}), "");
    }
    // A number far longer than a piece is kept whole and read exactly.
    std::string longNumber = "1 1 0." + std::string(5000, '0') + "1 2 3 4 5 6";
    EXPECT_EQ(compareWithPieces(longNumber, {16, 100, 4096}), "");
}

// A big file in many styles, so that the record reader, its second thread and
// the number-at-a-time reading across the pieces' ends all meet.
TEST(FileWindow, LargeFileReadInPiecesAsTheWholeFile) {
    std::mt19937 random(11);
    const int count = 60000;
    std::string text = std::to_string(count) + " 0.25\n";
    char record[160];
    for (int i = 0; i < count; ++i) {
        double x = double(int(random() % 2000001) - 1000000) / 1000.0;
        if (random() % 10 == 0)
            snprintf(record, sizeof record, "%.9e %a %.3f %d %d %d\n", x, x, -x,
                     int(random() % 512) - 128, int(random() % 256), int(random() % 256));
        else
            snprintf(record, sizeof record, "%.3f %.4f %.2f %d %d %d\n", x, x / 3, -x,
                     int(random() % 256), int(random() % 256), int(random() % 256));
        text += record;
    }
    EXPECT_EQ(compareWithPieces(text, {4096, 65536, size_t(1) << 20, size_t(3) << 20}), "");
    // Cut anywhere, the file fails or loads the same way for both.
    for (int cut = 0; cut < 6; ++cut) {
        size_t at = random() % text.size();
        SCOPED_TRACE(at);
        EXPECT_EQ(compareWithPieces(text.substr(0, at), {65536}), "");
    }
}

// A huge file whose header asks for one voxel, and one whose voxels stop at
// once, are read no further than that: the rest of the file is never read.
TEST(FileWindow, ReadsNoMoreOfTheFileThanItParses) {
    const off_t size = off_t(1) << 30; // a hole: costs no disk, reads as zeros
    struct Case {
        const char* header;
        bool loads;
    } cases[] = {{"1 1\n1 2 3 4 5 6\n", true}, {"1000 1\n1 2 3 4 5 6\n", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        std::string path = writeScratchFile(c.header);
        ASSERT_EQ(truncate(path.c_str(), size), 0);
        long long before = bytesReadSoFar();
        testing::internal::CaptureStderr();
        VoxelModel* m = loadVoxels(path.c_str());
        std::string err = testing::internal::GetCapturedStderr();
        long long read = bytesReadSoFar() - before;
        EXPECT_EQ(m != nullptr, c.loads) << err;
        if (!c.loads) {
            EXPECT_EQ(err, "Error reading " + path + "\n");
        }
        ASSERT_GE(before, 0) << "no /proc/self/io";
        EXPECT_LE(read, 1 << 20) << "read " << read << " bytes of a file of " << size;
        if (m) {
            EXPECT_EQ(m->positions[2], 3.0f);
            freeVoxelModel(m);
        }
        unlink(path.c_str());
    }
}

// Runs of white space hundreds of pieces long, inside a record and between
// two, are skipped piece by piece.
TEST(FileWindow, WhiteSpaceRunningOverManyPieces) {
    WindowSizes pieces(4096, 4096);
    std::string text = "2 1 1 2 3 " + std::string(1 << 20, ' ') + "4 5 6\n" +
                       std::string(1 << 20, '\n') + "7 8 9 10 11 12\n";
    std::string path = writeScratchFile(text);
    testing::internal::CaptureStderr();
    VoxelModel* m = loadVoxels(path.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_NE(m, nullptr) << err;
    EXPECT_EQ(m->count, 2);
    EXPECT_EQ(m->positions[3], 7.0f);
    EXPECT_EQ(m->colors[0], 4);
    EXPECT_EQ(m->colors[5], 12);
    freeVoxelModel(m);
    unlink(path.c_str());
}

} // namespace
