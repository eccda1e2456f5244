// Every kept voxel file cut at every length: whatever is left must read as the
// fscanf loop reads it, from a file read whole or in small pieces and from
// memory, refused in one of the loader's own lines or loaded in full; and once
// the cut lies past everything the whole file's load reads, the outcome is the
// whole file's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "dual_load.h"
#include "model/file_window.h"
#include "model/voxel_model.h"
#include "sample_prefixes.h"

namespace {

// Where one number lies in a file: its first character and the one after it.
struct NumberSpan {
    long start;
    long end;
};

// The numbers the loader reads, in its order and with its conversions (count,
// voxel size, then x, y, z, red, green, blue per voxel), as fscanf finds them
// in the file at `path`: as many as the header's count asks for, up to the
// first that does not convert. `stop` is where the stream stood after the last
// conversion tried, converted or not.
struct NumberWalk {
    std::vector<NumberSpan> spans;
    long stop;
};

NumberWalk walkNumbers(const char* path) {
    NumberWalk walk = {{}, 0};
    FILE* f = fopen(path, "rb");
    if (!f)
        abort();
    long wanted = 2;
    for (long k = 0; k < wanted; ++k) {
        if (fscanf(f, " ") < 0 && ferror(f))
            abort();
        long start = ftell(f);
        bool integer = k == 0 || (k >= 2 && (k - 2) % 6 >= 3);
        int i = 0;
        float x = 0.0f;
        int converted = integer ? fscanf(f, "%d", &i) : fscanf(f, "%f", &x);
        walk.stop = ftell(f);
        if (converted != 1)
            break;
        walk.spans.push_back({start, walk.stop});
        if (k == 0)
            wanted = i > 0 ? 2 + 6 * long(i) : 2;
    }
    fclose(f);
    return walk;
}

// The bytes the in-memory reader is given, and a loader of them in the shape
// loadCapturingStderr takes.
const char* memoryText = nullptr;
size_t memorySize = 0;

VoxelModel* readFromMemory(const char* path) {
    return readVoxelText(memoryText, memorySize, path);
}

// The file read in small pieces (a 16th of the text, at least 7 bytes), so
// that the end of the text read so far falls inside numbers and inside the
// white space between them, the file's end among them.
VoxelModel* loadInSmallPieces(const char* path) {
    size_t bytes = fileWindowBytes, first = fileWindowFirstRead;
    fileWindowBytes = std::max(memorySize / 16, size_t(7));
    fileWindowFirstRead = 3;
    VoxelModel* m = loadVoxels(path);
    fileWindowBytes = bytes;
    fileWindowFirstRead = first;
    return m;
}

// Whether `line` is `before`, then one or more characters from `middle`,
// then `after`.
bool framedBy(const std::string& line, const std::string& before, const char* middle,
              const std::string& after) {
    if (line.size() <= before.size() + after.size() || line.compare(0, before.size(), before) ||
        line.compare(line.size() - after.size(), after.size(), after))
        return false;
    const std::string inside =
        line.substr(before.size(), line.size() - before.size() - after.size());
    return inside.find_first_not_of(middle) == std::string::npos;
}

// Whether `messages` is exactly one of the lines the loader refuses a
// readable file with, naming `path`.
bool isOneRefusalLine(const std::string& messages, const std::string& path) {
    if (messages.empty() || messages.find('\n') != messages.size() - 1)
        return false;
    const std::string line = messages.substr(0, messages.size() - 1);
    return line == "Error reading " + path ||
           framedBy(line, "Negative voxel count -", "0123456789", " in " + path) ||
           framedBy(line, "Too many voxels to draw (", "0123456789, atmos", ") in " + path);
}

// Whether the model `cut` equals `whole` in every value but the last number
// the whole file's load reads (the blue of its last voxel, or the voxel size
// when it has none): a number cut short changes itself alone.
std::string differenceBesidesLastNumber(const VoxelModel& cut, const VoxelModel& whole) {
    if (cut.count != whole.count)
        return "count " + std::to_string(cut.count) + " against " + std::to_string(whole.count);
    const size_t values = 3 * size_t(whole.count);
    if (values == 0)
        return "";
    if (memcmp(&cut.voxelSize, &whole.voxelSize, sizeof(float)) != 0)
        return "voxel size differs";
    if (memcmp(cut.positions, whole.positions, sizeof(float) * values) != 0)
        return "a position differs";
    if (memcmp(cut.colors, whole.colors, values - 1) != 0)
        return "a colour before the last differs";
    return "";
}

// Cuts `sample` at each of its prefix lengths and checks each outcome,
// reporting the first few failures.
void checkEveryPrefix(const SampleFile& sample) {
    SCOPED_TRACE(sample.path);
    const std::string path = writeScratchFile(sample.bytes);
    const size_t size = sample.bytes.size();
    LoadOutcome whole = loadCapturingStderr(loadVoxels, path.c_str());
    const NumberWalk walk = walkNumbers(path.c_str());

    // Past `settled` the cut file holds every number the whole file's load
    // reads and the byte after the last, which ends it: nothing it reads
    // differs. Up to `headerStart` the voxel size has not begun, and up to
    // `lastStart` a file that loads whole is short of its last number.
    const size_t settled = std::min(size_t(walk.stop) + 1, size);
    const long headerStart = walk.spans.size() >= 2 ? walk.spans[1].start : -1;
    long lastStart = -1;
    int failures = 0;
    if (whole.model) {
        if (walk.spans.size() != 2 + 6 * size_t(whole.model->count)) {
            ADD_FAILURE() << "fscanf finds " << walk.spans.size() << " numbers, not those of "
                          << whole.model->count << " voxels";
            failures = 3;
        } else {
            lastStart = walk.spans.back().start;
        }
    }

    for (size_t length : prefixLengths(size)) {
        if (failures >= 3)
            break;
        cutFile(path, length);
        // Exactly the cut's bytes in memory, so that a read past them is a
        // sanitizer's error.
        std::unique_ptr<char[]> exact(new char[length]);
        memcpy(exact.get(), sample.bytes.data(), length);
        memoryText = exact.get();
        memorySize = length;
        LoadOutcome reference = loadCapturingStderr(loadVoxelsWithStdio, path.c_str());
        LoadOutcome read[3] = {loadCapturingStderr(loadVoxels, path.c_str()),
                               loadCapturingStderr(loadInSmallPieces, path.c_str()),
                               loadCapturingStderr(readFromMemory, path.c_str())};
        const char* ways[3] = {"read whole", "read in small pieces", "read from memory"};
        std::string problem;
        for (int w = 0; w < 3 && problem.empty(); ++w) {
            std::string difference = describeDifference(read[w], reference);
            if (!difference.empty())
                problem = std::string(ways[w]) + " against fscanf: " + difference;
        }
        const LoadOutcome& fast = read[0];
        if (problem.empty() && !fast.model && !isOneRefusalLine(fast.messages, path))
            problem = "refused without one of the loader's lines: \"" + fast.messages + "\"";
        if (problem.empty() && fast.model && !fast.messages.empty())
            problem = "loaded, yet wrote \"" + fast.messages + "\"";
        if (problem.empty() && fast.model && fast.model->count > 0 &&
            (!fast.model->positions || !fast.model->colors))
            problem = "a model of voxels without its arrays";
        if (problem.empty() && length >= settled) {
            std::string difference = describeDifference(fast, whole);
            if (!difference.empty())
                problem = "past everything the whole file's load reads, yet " + difference;
        }
        const bool shortOfHeader = headerStart >= 0 && long(length) <= headerStart;
        const bool shortOfLast = lastStart >= 0 && long(length) <= lastStart;
        if (problem.empty() && (shortOfHeader || shortOfLast) &&
            (fast.model || fast.messages != "Error reading " + path + "\n"))
            problem = std::string("cut before the ") +
                      (shortOfHeader ? "voxel size" : "last number") +
                      ", yet not refused as unreadable: \"" + fast.messages + "\"";
        if (problem.empty() && whole.model && fast.model && length < settled) {
            std::string difference = differenceBesidesLastNumber(*fast.model, *whole.model);
            if (!difference.empty())
                problem = "cut in the last number, yet " + difference;
        }
        if (!problem.empty()) {
            ADD_FAILURE() << "cut at " << length << " of " << size << " bytes: " << problem;
            ++failures;
        }
        releaseOutcome(&reference);
        for (LoadOutcome& outcome : read)
            releaseOutcome(&outcome);
    }
    releaseOutcome(&whole);
    unlink(path.c_str());
}

TEST(LoaderTruncation, HostileFilesCutAtEveryLength) {
    std::vector<SampleFile> samples;
    addSampleFiles(VOXSCOPE_HOSTILE_DIR, ".vxl", &samples);
    ASSERT_GT(samples.size(), 20u);
    for (const SampleFile& sample : samples)
        checkEveryPrefix(sample);
}

TEST(LoaderTruncation, FuzzSeedsCutAtEveryLength) {
    // The seeds that copy hostile files are cut in the test above.
    std::vector<SampleFile> hostile, samples;
    addSampleFiles(VOXSCOPE_HOSTILE_DIR, ".vxl", &hostile);
    const size_t copies = hostile.size();
    addSampleFiles(VOXSCOPE_LOADER_CORPUS, ".vxl", &hostile);
    samples.assign(hostile.begin() + long(copies), hostile.end());
    ASSERT_GT(samples.size(), 10u);
    for (const SampleFile& sample : samples)
        checkEveryPrefix(sample);
}

// The bundled example is 200 KB: cut at every length of its first 2 KiB, then
// at every 499th, then at each of its last 64 lengths, where its last voxel
// ends.
TEST(LoaderTruncation, TerrainExampleCutAtManyLengths) {
    std::vector<SampleFile> samples;
    addSampleFiles(VOXSCOPE_EXAMPLES, ".vxl", &samples);
    ASSERT_EQ(samples.size(), 1u);
    ASSERT_GT(samples[0].bytes.size(), allPrefixLengthsUpTo);
    checkEveryPrefix(samples[0]);
}

} // namespace
