// The loader against the fscanf loop it replaces, on the same bytes: every
// file must give the same model to the bit, or the same refusal line.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "dual_load.h"
#include "model/voxel_model.h"

namespace {

// Files where reading a number exactly as the C library does decides the
// outcome: which voxel gets which number, and whether the file loads at all.
TEST(LoaderDifferential, TrickyFilesLoadAsTheFscanfLoopLoadsThem) {
    const char* files[] = {
        "1 1 0x1.8p1 -0X.8P-2 0x1p 7 8 9",
        "1 1 0x 1 2 3 4 5",
        "1 1 0x. 1 2 3 4 5",
        "1 1 nan -NaN INF 1 2 3",
        "1 1 nan(123) 1 2 3 4 5",
        "1 1 infinity -Infinity infinit 1 2 3",
        "1 1 infx 1 2 3 4 5",
        "2 1 1e 2e+ 3e- 4 5 6 7 8 9 10 11 12",
        "1 1 1e+-2 3 4 5 6",
        "1 1 1.2.3 4 5 6 7",
        "1 1 . 1 2 3 4 5",
        "1 1 + 1 2 3 4 5",
        "1 1 -.5 +.5e1 5. 1 2 3",
        "1 1e39 1e-50 -1e-46 1.4e-45 1 2 3",
        "1 0.5 3.4028235e38 3.4028236e38 -3.40282357e38 1 2 3",
        "1 1 1 2 3 99999999999 -99999999999 99999999999999999999999",
        "1 1 1 2 3 2147483648 4294967296 -9223372036854775809",
        "4294967297 1 1 2 3 4 5 6",
        "-4294967295 1 1 2 3 4 5 6",
        "1 1 1 2 3 4 5 6a",
        "1 1 1 2 3 4 5a 6",
        "1 1 1 2 3 4.5 6 7",
        "2 1 1 2 3 4 5 6.5 0 0 7 8 9",
        "1 1 16777217 16777217.000000001 8388609.5 1 2 3",
        "1 1 0.1 0.30000001192092896 1.00000005960464477539062500001 1 2 3",
        "1\v1\f1\r2\t3\n4 5 6",
        "1 1 1 2 3 4 5",
        "",
        "\x01",
        "1",
        "1 1 1 2 3 4 5 6\0 7",
        "1 1 1 2 3\0 4 5 6",
    };
    for (const char* text : files) {
        SCOPED_TRACE(text);
        EXPECT_EQ(compareLoadersOnBytes(text), "");
    }
    // NUL bytes are characters like any other to both readers.
    EXPECT_EQ(compareLoadersOnBytes(std::string("1 1 1 2 3 4 5 6\0 7", 18)), "");
    EXPECT_EQ(compareLoadersOnBytes(std::string("1 1 1 2 3\0 4 5 6", 16)), "");
}

// The seeds kept for the fuzz target, hostile files among them.
TEST(LoaderDifferential, FuzzSeedsLoadAsTheFscanfLoopLoadsThem) {
    DIR* dir = opendir(VOXSCOPE_LOADER_CORPUS);
    ASSERT_NE(dir, nullptr) << VOXSCOPE_LOADER_CORPUS;
    int seeds = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::string path = std::string(VOXSCOPE_LOADER_CORPUS) + "/" + entry->d_name;
        SCOPED_TRACE(path);
        EXPECT_EQ(compareLoaders(path.c_str()), "");
        ++seeds;
    }
    closedir(dir);
    EXPECT_GT(seeds, 0);
}

// A large file in many number styles at once, long enough that the fast
// paths, their fall-backs and the end of the text all meet.
TEST(LoaderDifferential, LargeMixedFileLoadsAsTheFscanfLoopLoadsIt) {
    std::mt19937 random(7);
    const int count = 30000;
    std::string text = std::to_string(count) + " 0.5\n";
    char number[64];
    for (int i = 0; i < 6 * count; ++i) {
        bool color = i % 6 >= 3;
        double value = double(int(random() % 2000001) - 1000000) / 1000.0;
        switch (random() % 8) {
        case 0:
            snprintf(number, sizeof number, "%d", int(random() % 2000000000u) - 1000000000);
            break;
        case 1:
            snprintf(number, sizeof number, "%.9e", value);
            break;
        case 2:
            snprintf(number, sizeof number, "%.17g", value);
            break;
        case 3:
            if (color)
                snprintf(number, sizeof number, "%+d", int(value));
            else
                snprintf(number, sizeof number, "%a", value);
            break;
        default:
            if (color)
                snprintf(number, sizeof number, "%d", int(random() % 256));
            else
                snprintf(number, sizeof number, "%.4f", value);
            break;
        }
        text += number;
        text += " \n\t\r"[random() % 4];
    }
    EXPECT_EQ(compareLoadersOnBytes(text), "");
    // Cut anywhere, the file fails or loads the same way for both.
    for (int cut = 0; cut < 20; ++cut) {
        size_t at = random() % text.size();
        SCOPED_TRACE(at);
        EXPECT_EQ(compareLoadersOnBytes(text.substr(0, at)), "");
    }
}

} // namespace
