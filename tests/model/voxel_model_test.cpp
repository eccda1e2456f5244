// The voxel text file loader: what loads, what each voxel holds, and the one
// line a refused file leaves on stderr.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "model/voxel_model.h"

namespace {

// All fixture files of this run live in one directory, removed at exit.
std::string scratchDir;

void removeScratchDir() {
    if (!scratchDir.empty())
        rmdir(scratchDir.c_str());
}

const std::string& scratch() {
    if (scratchDir.empty()) {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/voxscope-loader-XXXXXX";
        char* made = mkdtemp(&pattern[0]);
        if (!made) {
            ADD_FAILURE() << "mkdtemp failed for " << pattern;
            abort();
        }
        scratchDir = made;
        atexit(removeScratchDir);
    }
    return scratchDir;
}

std::string newPath(const char* stem) {
    static int serial = 0;
    return scratch() + "/" + stem + std::to_string(++serial) + ".vxl";
}

void writeFile(const std::string& path, const std::string& content) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(fwrite(content.data(), 1, content.size(), f), content.size());
    ASSERT_EQ(fclose(f), 0);
}

struct LoadResult {
    VoxelModel* model;
    std::string err; // everything the loader wrote to stderr
    std::string path;
};

LoadResult loadPath(const std::string& path) {
    testing::internal::CaptureStderr();
    VoxelModel* m = loadVoxels(path.c_str());
    return {m, testing::internal::GetCapturedStderr(), path};
}

// Writes `content` to a fresh file, loads it and removes the file again.
LoadResult loadText(const std::string& content) {
    std::string path = newPath("voxels");
    writeFile(path, content);
    LoadResult r = loadPath(path);
    unlink(path.c_str());
    return r;
}

struct BadFile {
    const char* why;
    const char* text;
};

// Each file is refused with the one line a reader that runs out of numbers
// leaves.
template <size_t n> void expectErrorReading(const BadFile (&cases)[n]) {
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.why);
        LoadResult r = loadText(c.text);
        EXPECT_EQ(r.model, nullptr);
        EXPECT_EQ(r.err, "Error reading " + r.path + "\n");
        freeVoxelModel(r.model);
    }
}

struct Voxel {
    float x, y, z;
    int r, g, b;
};

void expectVoxel(const VoxelModel* m, int i, Voxel v) {
    SCOPED_TRACE("voxel " + std::to_string(i));
    ASSERT_LT(i, m->count);
    EXPECT_EQ(m->positions[3 * i + 0], v.x);
    EXPECT_EQ(m->positions[3 * i + 1], v.y);
    EXPECT_EQ(m->positions[3 * i + 2], v.z);
    EXPECT_EQ(m->colors[3 * i + 0], v.r);
    EXPECT_EQ(m->colors[3 * i + 1], v.g);
    EXPECT_EQ(m->colors[3 * i + 2], v.b);
}

uint32_t bitsOf(float f) {
    uint32_t u;
    memcpy(&u, &f, sizeof u);
    return u;
}

int openFdCount() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (!d)
        return -1;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    closedir(d);
    return n;
}

// ---------------------------------------------------------------- success

TEST(Loader, HeaderAloneGivesAnEmptyModel) {
    LoadResult r = loadText("0 1");
    ASSERT_NE(r.model, nullptr) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.model->count, 0);
    EXPECT_EQ(r.model->voxelSize, 1.0f);
    freeVoxelModel(r.model);
}

TEST(Loader, ReadsEveryVoxelAndWrapsColorsToTheirLowByte) {
    LoadResult r = loadText("4 0.25\n"
                            "1 2 3 10 20 30\n"
                            "-1.5 0 2.5e2 255 256 -1\n"
                            "0 0 0 300 -256 511\n"
                            "7 8 9 -255 1024 65535\n");
    ASSERT_NE(r.model, nullptr) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.model->count, 4);
    EXPECT_EQ(r.model->voxelSize, 0.25f);
    expectVoxel(r.model, 0, {1, 2, 3, 10, 20, 30});
    expectVoxel(r.model, 1, {-1.5f, 0, 250, 255, 0, 255});
    expectVoxel(r.model, 2, {0, 0, 0, 44, 0, 255});
    expectVoxel(r.model, 3, {7, 8, 9, 1, 0, 255});
    freeVoxelModel(r.model);
}

TEST(Loader, CountSmallerThanTheDataLoadsExactlyCount) {
    LoadResult r = loadText("2 1\n1 1 1 1 1 1\n2 2 2 2 2 2\n3 3 3 3 3 3\nnot even numbers\n");
    ASSERT_NE(r.model, nullptr) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.model->count, 2);
    expectVoxel(r.model, 0, {1, 1, 1, 1, 1, 1});
    expectVoxel(r.model, 1, {2, 2, 2, 2, 2, 2});
    freeVoxelModel(r.model);
}

// Lines carry no meaning: however the numbers are laid out, the same numbers
// give the same model.
TEST(Loader, LayoutOfWhiteSpaceDoesNotMatter) {
    const std::string layouts[] = {
        "3 0.5\n1 2 3 4 5 6\n-7 8.5 9 10 11 12\n13 14 15 16 17 18\n",
        "3 0.5\r\n1 2 3 4 5 6\r\n-7 8.5 9 10 11 12\r\n13 14 15 16 17 18\r\n",
        "3 0.5 1 2 3 4 5 6 -7 8.5 9 10 11 12 13 14 15 16 17 18",
        "3\n0.5\n1\n2\n3\n4\n5\n6\n-7\n8.5\n9\n10\n11\n12\n13\n14\n15\n16\n17\n18",
        "\t 3\t0.5 1 2\n3 4\r\n5 6 -7\v\f8.5 9 10   11 12 13 14\n\n\n15 16 17 18\n\n",
    };
    for (const std::string& text : layouts) {
        SCOPED_TRACE(text);
        LoadResult r = loadText(text);
        ASSERT_NE(r.model, nullptr) << r.err;
        EXPECT_EQ(r.err, "");
        ASSERT_EQ(r.model->count, 3);
        EXPECT_EQ(r.model->voxelSize, 0.5f);
        expectVoxel(r.model, 0, {1, 2, 3, 4, 5, 6});
        expectVoxel(r.model, 1, {-7, 8.5f, 9, 10, 11, 12});
        expectVoxel(r.model, 2, {13, 14, 15, 16, 17, 18});
        freeVoxelModel(r.model);
    }
}

TEST(Loader, SeventhNumberOnALineShiftsEveryLaterVoxel) {
    LoadResult r = loadText("2 1\n1 2 3 4 5 6 7\n8 9 10 11 12 13\n");
    ASSERT_NE(r.model, nullptr) << r.err;
    ASSERT_EQ(r.model->count, 2);
    expectVoxel(r.model, 0, {1, 2, 3, 4, 5, 6});
    expectVoxel(r.model, 1, {7, 8, 9, 10, 11, 12});
    freeVoxelModel(r.model);

    // Read by lines this would be (8, 9, 10.5) in colour (11, 12, 13); read as
    // a stream, 10 is the red and its fraction cannot start the green.
    r = loadText("2 1\n1 2 3 4 5 6 7\n8 9 10.5 11 12 13\n");
    EXPECT_EQ(r.model, nullptr);
    EXPECT_EQ(r.err, "Error reading " + r.path + "\n");
}

TEST(Loader, BlueWithAFractionLoadsItsIntegerPartAndTheFractionBecomesTheNextX) {
    LoadResult r = loadText("2 1\n0 0 0 1 2 3.5 0 0 7 8 9\n");
    ASSERT_NE(r.model, nullptr) << r.err;
    ASSERT_EQ(r.model->count, 2);
    expectVoxel(r.model, 0, {0, 0, 0, 1, 2, 3});
    expectVoxel(r.model, 1, {0.5f, 0, 0, 7, 8, 9});
    freeVoxelModel(r.model);
}

TEST(Loader, FloatsTakeSignsExponentsAndBareFractions) {
    LoadResult r = loadText("2 +1.5E-1\n"
                            "-.5 +3. 1e3 0 0 0\n"
                            "-2.5E+2 6.25e-2 -0 +7 -0 +9\n");
    ASSERT_NE(r.model, nullptr) << r.err;
    EXPECT_EQ(r.model->voxelSize, 0.15f);
    expectVoxel(r.model, 0, {-0.5f, 3.0f, 1000.0f, 0, 0, 0});
    expectVoxel(r.model, 1, {-250.0f, 0.0625f, 0.0f, 7, 0, 9});
    EXPECT_TRUE(std::signbit(r.model->positions[5])) << "-0 keeps its sign";
    freeVoxelModel(r.model);
}

// The loader reads numbers exactly as the C library's formatted input does;
// any other conversion would move voxels by an ulp or more.
TEST(Loader, NumbersAgreeBitForBitWithTheCLibrary) {
    const char* texts[] = {
        "0.1",
        "3.14159265358979",
        "-2.7182818",
        "1e-3",
        "6.02214076e23",
        "16777217",
        "0.30000001192092896",
        "3.4028235e38",
        "1.17549435e-38",
        "1.4e-45",
        "-0.0",
        "123456.789e-4",
        "9.999999e-41",
        "0.33333333333333333333333333",
        "1e39",
        "-1e-50",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        float expected = 0.0f;
        ASSERT_EQ(sscanf(text, "%f", &expected), 1);
        // The same text as the voxel size, as a coordinate and as the third
        // coordinate after two others.
        LoadResult r = loadText(std::string("1 ") + text + "\n" + text + " 1 " + text + " 4 5 6\n");
        ASSERT_NE(r.model, nullptr) << r.err;
        EXPECT_EQ(bitsOf(r.model->voxelSize), bitsOf(expected));
        EXPECT_EQ(bitsOf(r.model->positions[0]), bitsOf(expected));
        EXPECT_EQ(bitsOf(r.model->positions[2]), bitsOf(expected));
        freeVoxelModel(r.model);
    }
}

// ---------------------------------------------------------------- failures

TEST(Loader, MissingFileCannotBeRead) {
    std::string path = scratch() + "/no-such-file.vxl";
    LoadResult r = loadPath(path);
    EXPECT_EQ(r.model, nullptr);
    EXPECT_EQ(r.err, "Couldn't read " + path + "\n");
}

// On Linux a directory opens for reading; the first read then fails, so it is
// refused as a file that does not read.
TEST(Loader, DirectoryOpensButDoesNotRead) {
    LoadResult r = loadPath(scratch());
    EXPECT_EQ(r.model, nullptr);
    EXPECT_EQ(r.err, "Error reading " + scratch() + "\n");
}

TEST(Loader, MalformedFilesFailWithOneErrorLine) {
    const BadFile cases[] = {
        {"empty file", ""},
        {"only white space", " \n\r\n\t"},
        {"header without size", "3"},
        {"header without size, newline", "3\n"},
        {"word for the count", "three 1\n1 2 3 4 5 6\n"},
        {"word for the size", "1 big\n1 2 3 4 5 6\n"},
        {"data runs out inside a voxel", "2 1\n1 2 3 4 5 6\n7 8 9 10 11"},
        {"word in the first voxel", "1 1\n1 2 three 4 5 6\n"},
        {"word as a colour", "1 1\n1 2 3 red 5 6\n"},
        {"red with a decimal point", "1 1\n0 0 0 0.5 1 2 3 4 5 6\n"},
        {"green with a decimal point", "1 1\n0 0 0 1 0.5 2 3 4 5 6\n"},
        {"blue's fraction leaves the last voxel short", "2 1\n0 0 0 1 2 3.5 0 0 7 8\n"},
    };
    expectErrorReading(cases);
}

// Writes `header` and then leaves a hole up to `size` bytes: a file that can
// hold a huge count, read as zeros, that takes no disk.
std::string sparseFile(const std::string& header, off_t size) {
    std::string path = newPath("sparse");
    writeFile(path, header);
    EXPECT_EQ(truncate(path.c_str(), size), 0) << strerror(errno);
    return path;
}

// Counts that cannot make a drawable model are refused from the header alone,
// before any memory is asked for. A count the file is too short to hold is
// refused as the data running out would refuse it, before the other checks.
TEST(Loader, CountsThatCannotBeLoadedAreRefusedFromTheHeader) {
    LoadResult r = loadText("-1 1\n1 2 3 4 5 6\n");
    EXPECT_EQ(r.model, nullptr);
    EXPECT_EQ(r.err, "Negative voxel count -1 in " + r.path + "\n");

    r = loadText("-2147483648 1\n");
    EXPECT_EQ(r.model, nullptr);
    EXPECT_EQ(r.err, "Negative voxel count -2147483648 in " + r.path + "\n");

    for (const char* text : {"59652324 1\n1 2 3 4 5 6\n", "2147483647 1\n",
                             "100000000 1\n"
                             "1 2 3 4 5 6\n"}) {
        SCOPED_TRACE(text);
        r = loadText(text);
        EXPECT_EQ(r.model, nullptr);
        EXPECT_EQ(r.err, "Error reading " + r.path + "\n");
    }

    // Files big enough for their counts: the draw limit speaks.
    std::string path = sparseFile("59652324 1\n", off_t(59652324) * 6 + 100);
    r = loadPath(path);
    EXPECT_EQ(r.model, nullptr);
    EXPECT_EQ(r.err, "Too many voxels to draw (59652324, at most 59652323) in " + path + "\n");
    unlink(path.c_str());

    path = sparseFile("2147483647 1\n", off_t(2147483647) * 6 + 100);
    r = loadPath(path);
    EXPECT_EQ(r.model, nullptr);
    EXPECT_EQ(r.err, "Too many voxels to draw (2147483647, at most 59652323) in " + path + "\n");
    unlink(path.c_str());
}

// A file that ends before its count of voxels fails the same way however far
// short it falls: whether the loader runs out of numbers while reading, or sees
// from the file's size that it must (the "size check" rows, refused before any
// voxel memory is taken), the user gets the same line.
TEST(Loader, FileShorterThanItsCountFailsAsTheDataRunsOut) {
    const BadFile cases[] = {
        {"count 2, one voxel, 13 bytes after the header", "2 1\n1 2 3 4 5 6\n"},
        {"count 3, two voxels", "3 1\n1 2 3 4 5 6\n7 8 9 10 11 12\n"},
        {"size check: count 1, no voxel", "1 1\n"},
        {"size check: count 3, one voxel", "3 1\n1 2 3 4 5 6\n"},
        {"size check: count 2, 11 bytes after the header", "2 1\n1 2 3 4 5 "},
        {"size check: count 1000000, three voxels",
         "1000000 1\n1 2 3 4 5 6\n7 8 9 10 11 12\n13 14 15 16 17 18\n"},
        {"size check: the most voxels a model may hold, one voxel", "59652323 1\n1 2 3 4 5 6\n"},
    };
    expectErrorReading(cases);
}

// Numbers need not be separated by white space: a sign ends the number before
// it. Such a file is as tight as a voxel file gets and still loads.
TEST(Loader, NumbersNeedNoWhiteSpaceBetweenThem) {
    LoadResult r = loadText("2 1 1-2-3-4-5-6-7-8-9-1-2-3");
    ASSERT_NE(r.model, nullptr) << r.err;
    expectVoxel(r.model, 0, {1, -2, -3, 252, 251, 250});
    expectVoxel(r.model, 1, {-7, -8, -9, 255, 254, 253});
    freeVoxelModel(r.model);
}

TEST(Loader, FailedLoadsLeaveNoFileOpen) {
    const char* texts[] = {
        "",
        "1 1\n1 2 three 4 5 6\n",
        "-4 1\n",
        "70000000 1\n",
        "1000 1\n1 2 3 4 5 6\n",
        "3 1\n1 2 3 4 5 6\n",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        std::string path = newPath("fd");
        writeFile(path, text);
        int before = openFdCount();
        ASSERT_GT(before, 0);
        testing::internal::CaptureStderr();
        VoxelModel* m = loadVoxels(path.c_str());
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(openFdCount(), before);
        EXPECT_EQ(m, nullptr);
        // Exactly one line, naming the file.
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(path), std::string::npos) << err;
        unlink(path.c_str());
    }
    // And a successful load closes its file too.
    std::string path = newPath("fd");
    writeFile(path, "1 1 1 2 3 4 5 6");
    int before = openFdCount();
    LoadResult r = loadPath(path);
    EXPECT_EQ(openFdCount(), before);
    ASSERT_NE(r.model, nullptr) << r.err;
    freeVoxelModel(r.model);
    unlink(path.c_str());
}

// ---------------------------------------------------------------- pipes

// A pipe has no size to check against: the loader grows its arrays as voxels
// arrive. The writer runs on its own thread, since opening a FIFO blocks until
// both ends are open.
LoadResult loadThroughFifo(const std::string& content) {
    signal(SIGPIPE, SIG_IGN); // a reader that stops early must not kill the run
    std::string path = newPath("fifo");
    if (mkfifo(path.c_str(), 0600) != 0) {
        ADD_FAILURE() << "mkfifo " << path << ": " << strerror(errno);
        return {nullptr, "", path};
    }
    std::thread writer([&path, &content] {
        int fd = open(path.c_str(), O_WRONLY);
        if (fd < 0)
            return;
        size_t done = 0;
        while (done < content.size()) {
            ssize_t n = write(fd, content.data() + done, content.size() - done);
            if (n <= 0)
                break;
            done += size_t(n);
        }
        close(fd);
    });
    LoadResult r = loadPath(path);
    writer.join();
    unlink(path.c_str());
    return r;
}

Voxel pipeVoxel(int i) {
    return {float(i), float(-i) * 0.25f, float(i % 1000) + 0.5f, i % 256, (i * 7) % 300, -(i % 3)};
}

std::string pipeText(int claimed, int sent) {
    std::string text = std::to_string(claimed) + " 0.125\n";
    char line[128];
    for (int i = 0; i < sent; ++i) {
        Voxel v = pipeVoxel(i);
        snprintf(line, sizeof line, "%.9g %.9g %.9g %d %d %d\n", v.x, v.y, v.z, v.r, v.g, v.b);
        text += line;
    }
    return text;
}

TEST(Loader, ReadsFromAPipe) {
    // Fewer voxels than the first allocation, and enough to need it to grow
    // more than once.
    for (int n : {3, 65536, 65537, 200000}) {
        SCOPED_TRACE(n);
        LoadResult r = loadThroughFifo(pipeText(n, n));
        ASSERT_NE(r.model, nullptr) << r.err;
        EXPECT_EQ(r.err, "");
        ASSERT_EQ(r.model->count, n);
        EXPECT_EQ(r.model->voxelSize, 0.125f);
        int mismatches = 0;
        for (int i = 0; i < n && mismatches < 5; ++i) {
            Voxel v = pipeVoxel(i);
            const float* p = r.model->positions + 3 * i;
            const uint8_t* c = r.model->colors + 3 * i;
            if (p[0] != v.x || p[1] != v.y || p[2] != v.z || c[0] != uint8_t(v.r) ||
                c[1] != uint8_t(v.g) || c[2] != uint8_t(v.b)) {
                ADD_FAILURE() << "voxel " << i << " differs";
                ++mismatches;
            }
        }
        freeVoxelModel(r.model);
    }
}

TEST(Loader, PipeThatEndsEarlyFails) {
    for (int sent : {0, 10, 70000}) {
        SCOPED_TRACE(sent);
        LoadResult r = loadThroughFifo(pipeText(sent + 1, sent));
        EXPECT_EQ(r.model, nullptr);
        EXPECT_EQ(r.err, "Error reading " + r.path + "\n");
    }
}

// The same file read with the C library's own sscanf, voxel by voxel: what
// loadVoxels must agree with. Returns false where the file must be refused.
bool referenceLoad(const std::string& text, int* count, std::vector<float>* positions,
                   std::vector<uint8_t>* colors) {
    const char* p = text.c_str();
    int used = 0;
    float size = 0;
    if (sscanf(p, "%d%f%n", count, &size, &used) != 2 || *count < 0 || *count > maxVoxelCount)
        return false;
    p += used;
    for (int i = 0; i < *count; ++i) {
        float x, y, z;
        int r, g, b;
        if (sscanf(p, "%f%f%f%d%d%d%n", &x, &y, &z, &r, &g, &b, &used) != 6)
            return false;
        p += used;
        positions->insert(positions->end(), {x, y, z});
        colors->insert(colors->end(), {uint8_t(r), uint8_t(g), uint8_t(b)});
    }
    return true;
}

// Damaged files, made by cutting, overwriting and splicing a good one, never
// crash the loader: each either loads exactly what the C library reads from it
// or is refused with one line naming the file.
TEST(Loader, DamagedFilesLoadAsTheCLibraryReadsThemOrFailWithOneLine) {
    const std::string good = "4 0.5\n1 2 3 10 20 30\n-4.25 5e1 .5 255 256 -1\n"
                             "7 8 9 1 2 3\n0 0 0 99 98 97\n";
    const char alphabet[] = "0123456789 \n\t.-+eEx";
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1664525u + 1013904223u; // a fixed sequence on every machine
        return (seed >> 8) % n;
    };
    int loaded = 0, refused = 0;
    for (int round = 0; round < 2000; ++round) {
        std::string text = good;
        for (uint32_t edits = 1 + next(4); edits > 0; --edits) {
            size_t at = next(uint32_t(text.size()));
            switch (next(4)) {
            case 0: // overwrite one byte
                text[at] = alphabet[next(sizeof alphabet - 1)];
                break;
            case 1: // cut the file short
                text.resize(at);
                break;
            case 2: // insert a byte
                text.insert(at, 1, alphabet[next(sizeof alphabet - 1)]);
                break;
            default: // splice a huge or tiny number in
                text.insert(at, next(2) ? " 99999999999 " : " -1e-45 ");
                break;
            }
            if (text.empty())
                break;
        }
        SCOPED_TRACE("file: \"" + text + "\"");
        int count = 0;
        std::vector<float> positions;
        std::vector<uint8_t> colors;
        bool expectLoad = referenceLoad(text, &count, &positions, &colors);
        LoadResult r = loadText(text);
        if (expectLoad) {
            ++loaded;
            ASSERT_NE(r.model, nullptr) << r.err;
            EXPECT_EQ(r.err, "");
            ASSERT_EQ(r.model->count, count);
            for (int i = 0; i < 3 * count; ++i) {
                EXPECT_EQ(bitsOf(r.model->positions[i]), bitsOf(positions[i])) << "value " << i;
                EXPECT_EQ(r.model->colors[i], colors[i]) << "value " << i;
            }
        } else {
            ++refused;
            EXPECT_EQ(r.model, nullptr);
            ASSERT_FALSE(r.err.empty());
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
            EXPECT_NE(r.err.find(r.path), std::string::npos) << r.err;
        }
        freeVoxelModel(r.model);
    }
    // Both outcomes must really have been exercised.
    EXPECT_GT(loaded, 100);
    EXPECT_GT(refused, 100);
}

} // namespace
