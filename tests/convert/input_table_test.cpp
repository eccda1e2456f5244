// Every row of the table of input formats, through its samples: the kept
// fuzzing corpus, tools/make_grids.py's samples, the examples and the
// loader's corpus, each read by the row its content (or name) chooses.
// Every sample is cut at every length (tests/support/sample_prefixes) and
// fed hostile headers: each of its first bytes set to 0, 0x7F, 0xFF and its
// neighbours' values, and each decimal number of a text header replaced by
// -1, 0, a huge number and nan. Whatever comes out is a refusal in one line
// that names the input and says why, or voxels no more than allowed, each
// with its colour, finite where they come from samples; a cut reads as the
// whole file or is refused. A new row is held to all of it by its samples
// alone. Run under the sanitizers too, so that no read goes past the bytes.
#include <gtest/gtest.h>

#include "convert/input_read.h"
#include "convert/input_table.h"
#include "fuzz_file.h"
#include "sample_prefixes.h"
#include "scratch_dir.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <sys/stat.h>

namespace {

struct RowSample {
    SampleFile file;     // its path (a second file a header names lies beside it)
    InputChoice choice;  // the row its content or name chooses
    bool generated;      // one of make_grids.py's samples, which all read whole
    bool read;           // the whole file reads
    VoxelGrid whole;     // what it reads as
    std::string refusal; // or why not
};

constexpr int64_t maxVoxels = 1000000;

bool readBytes(const InputChoice& choice, const std::string& bytes, const std::string& path,
               VoxelGrid& grid, std::string& error) {
    ReadOptions options;
    options.path = path.c_str();
    options.maxVoxels = maxVoxels;
    options.maxBytes = int64_t(64) << 20;
    SampleRules rules;
    rules.threshold = ThresholdRule{true, 1.0};
    // Exactly the bytes given, so that a read past them shows.
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    if (!choice.format->readSamplesAt)
        return readInputAs(choice, copy.data(), copy.size(), options, rules, grid, error);
    // A reader by path is given the bytes as a file alone in its folder, and
    // its messages are held to the sample's own path.
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string written =
        writeFuzzInputAlone("input_table", name.c_str(), copy.data(), copy.size());
    options.path = written.c_str();
    const bool read = readInputAs(choice, copy.data(), copy.size(), options, rules, grid, error);
    for (size_t at; (at = error.find(written)) != std::string::npos;)
        error.replace(at, written.size(), path);
    return read;
}

// Reads `bytes` under `path` as the converter would: the row they choose
// (`format`, null when no row reads them). False with `error` for a refusal.
bool readAsConverter(const std::string& bytes, const std::string& path, VoxelGrid& grid,
                     std::string& error, const InputFormat*& format) {
    InputChoice choice;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    format = nullptr;
    const bool chosen = chooseInput(data, bytes.size(), path.c_str(), choice, error);
    format = choice.format;
    return chosen && format && readBytes(choice, bytes, path, grid, error);
}

std::vector<RowSample> rowSamples() {
    std::vector<SampleFile> files;
    addSampleFiles(VOXSCOPE_GRID_SAMPLES, "", &files);
    addSampleFiles(VOXSCOPE_GRID_SAMPLES "/dtypes", "", &files);
    const size_t generated = files.size();
    addSampleFiles(VOXSCOPE_INPUT_CORPUS, "", &files);
    addSampleFiles(VOXSCOPE_EXAMPLES, ".vox", &files);
    addSampleFiles(VOXSCOPE_LOADER_CORPUS, "", &files);
    std::vector<RowSample> samples;
    for (size_t n = 0; n < files.size(); ++n) {
        RowSample s{files[n], InputChoice(), n < generated, false, VoxelGrid(), ""};
        const auto* data = reinterpret_cast<const uint8_t*>(s.file.bytes.data());
        std::string error;
        if (!chooseInput(data, s.file.bytes.size(), s.file.path.c_str(), s.choice, error) ||
            !s.choice.format)
            continue; // no row reads it: a data file a header names, the expectations
        s.read = readBytes(s.choice, s.file.bytes, s.file.path, s.whole, s.refusal);
        samples.push_back(s);
    }
    return samples;
}

const std::vector<RowSample>& samplesOfRows() {
    static const std::vector<RowSample> samples = rowSamples();
    return samples;
}

// A refusal is one line that names the input, says what it was read as
// where a reader of samples refused it, and then says why: "cannot read
// PATH as FORMAT: REASON" (FORMAT the row's name, or gzip data), "PATH:
// REASON" from the step to voxels; a reader of voxels words its own, after
// "cannot read PATH" or "PATH".
std::string refusalProblem(const std::string& error, const std::string& path,
                           const InputFormat& format) {
    if (error.find('\n') != std::string::npos)
        return "more than one line";
    std::string reason;
    for (const std::string& start : {"cannot read " + path + " as " + format.name + ": ",
                                     "cannot read " + path + " as gzip data: ", path + ": "})
        if (error.rfind(start, 0) == 0)
            reason = error.substr(start.size());
    if (reason.empty() && format.readVoxels) {
        for (const std::string& start : {"cannot read " + path, path})
            if (reason.empty() && error.rfind(start, 0) == 0)
                reason = error.substr(start.size());
        const size_t at = reason.find_first_not_of(":( ");
        reason = at == std::string::npos || at == 0 ? "" : reason.substr(at);
    }
    if (reason.empty())
        return "not \"cannot read PATH as FORMAT: REASON\" or \"PATH: REASON\"";
    return "";
}

bool sameVoxels(const VoxelGrid& a, const VoxelGrid& b) {
    const VoxelList &p = a.voxels, &q = b.voxels;
    // Bit for bit: positions that are not numbers compare so too.
    return p.positions.size() == q.positions.size() && p.colors == q.colors &&
           memcmp(&p.voxelSize, &q.voxelSize, sizeof p.voxelSize) == 0 &&
           (p.positions.empty() || memcmp(p.positions.data(), q.positions.data(),
                                          p.positions.size() * sizeof(float)) == 0);
}

// What a read that succeeded must hold: no more voxels than allowed, each
// with a position and a colour; from samples, finite positions and a
// normal voxel size.
std::string voxelsProblem(const VoxelGrid& grid, const InputFormat& format) {
    const VoxelList& v = grid.voxels;
    if (v.colors.size() % 3 != 0 || v.positions.size() != v.colors.size())
        return "positions and colours do not match";
    if (int64_t(v.colors.size() / 3) > maxVoxels)
        return "more voxels than allowed";
    if (readsSamples(format)) {
        if (!std::isnormal(v.voxelSize) || v.voxelSize < 0)
            return "a voxel size that is not a normal positive float";
        for (float p : v.positions)
            if (!std::isfinite(p))
                return "a position that is not finite";
    }
    return "";
}

bool numberCharacter(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
}

bool textCharacter(char c) {
    return (c >= 32 && c < 127) || c == '\n' || c == '\r' || c == '\t';
}

// The bytes of a header that hostile values go into.
constexpr size_t hostileBytes = 384;

// Every way the first bytes of `bytes` are made hostile: each byte set to
// 0, 0x7F, 0xFF and its neighbouring values; each decimal number among
// text replaced by -1, 0, a number beyond 64 bits and floats, and nan.
std::vector<std::string> hostileVersions(const std::string& bytes) {
    std::vector<std::string> out;
    const size_t end = std::min(bytes.size(), hostileBytes);
    for (size_t i = 0; i < end; ++i) {
        const uint8_t b = uint8_t(bytes[i]);
        for (int value : {0x00, 0x7f, 0xff, b - 1, b + 1}) {
            if (value < 0 || value > 0xff || value == b)
                continue;
            out.push_back(bytes);
            out.back()[i] = char(value);
        }
    }
    for (size_t i = 0; i < end;) {
        size_t j = i;
        bool digit = false;
        while (j < bytes.size() && numberCharacter(bytes[j]))
            digit = digit || (bytes[j] >= '0' && bytes[j] <= '9'), ++j;
        const bool text = (i == 0 || textCharacter(bytes[i - 1])) &&
                          (j == bytes.size() || textCharacter(bytes[j]));
        if (digit && text)
            for (const char* number : {"-1", "0", "99999999999999999999999", "1e39", "nan"})
                out.push_back(bytes.substr(0, i) + number + bytes.substr(j));
        i = j > i ? j : i + 1;
    }
    return out;
}

} // namespace

TEST(InputTable, EveryRowHasSamples) {
    std::map<const InputFormat*, int> count;
    for (const RowSample& s : samplesOfRows())
        ++count[s.choice.format];
    // A row read by path (a folder of slices) is given no bytes; its own
    // tests read its files.
    for (const InputFormat* format : inputFormats()) {
        if (format->readSamplesAt)
            continue;
        EXPECT_GE(count[format], 3) << format->name << " has too few samples to be tested";
    }
}

TEST(InputTable, EveryCutOfEverySampleIsRefusedOrReadAsTheWhole) {
    size_t cuts = 0, generatedCuts = 0, generatedRefused = 0, generatedFiles = 0;
    for (const RowSample& s : samplesOfRows()) {
        const InputFormat& format = *s.choice.format;
        const std::string& bytes = s.file.bytes;
        if (s.generated) {
            ++generatedFiles;
            ASSERT_TRUE(s.read) << s.file.path << ": " << s.refusal;
            ASSERT_TRUE(readsSamples(format)) << s.file.path << " read as " << format.name;
        }
        int failures = 0;
        for (size_t length : prefixLengths(bytes.size())) {
            if (length == bytes.size() || failures >= 3)
                continue;
            SCOPED_TRACE(s.file.path + " read as " + format.name + ", cut to " +
                         std::to_string(length) + " bytes");
            const std::string cut = bytes.substr(0, length);
            VoxelGrid grid;
            std::string error;
            const InputFormat* chosen = nullptr;
            const bool read = readAsConverter(cut, s.file.path, grid, error, chosen);
            ++cuts;
            generatedCuts += s.generated;
            std::string problem;
            if (!chosen && error.empty()) {
                // Too short for its content test, and named as no row is:
                // the importer's to refuse.
                generatedRefused += s.generated;
            } else if (!read) {
                generatedRefused += s.generated;
                problem = refusalProblem(error, s.file.path, chosen ? *chosen : format);
            } else if (!(problem = voxelsProblem(grid, format)).empty()) {
            } else if (s.read && !sameVoxels(grid, s.whole)) {
                // A cut inside a decimal number of a voxel file reads as a
                // shorter number (its own test holds it to the viewer's
                // loader); no reader of samples reads a cut at all but for
                // bytes after its samples.
                if (!(format.readVoxels && length > 0 && numberCharacter(bytes[length - 1]) &&
                      numberCharacter(bytes[length])))
                    problem = "read as other voxels than the whole file";
            }
            if (!problem.empty()) {
                ADD_FAILURE() << problem << ": " << error;
                ++failures;
            }
        }
    }
    ASSERT_GE(generatedFiles, size_t(80));
    // Only cuts of what follows the samples (a gzip trailer, a header's last
    // line break) can be read at all.
    EXPECT_GT(generatedRefused, generatedCuts * 95 / 100)
        << generatedRefused << " of " << generatedCuts;
    EXPECT_GT(generatedCuts, size_t(20000));
    EXPECT_GT(cuts, generatedCuts);
}

TEST(InputTable, HostileHeadersAreRefusedInOneLineOrReadWithinTheLimits) {
    size_t versions = 0, refused = 0;
    std::set<const InputFormat*> rows;
    for (const RowSample& s : samplesOfRows()) {
        int failures = 0;
        // A row read by path costs a file and a reading process for each
        // version: it is given every third one, or fewer, spread over the
        // whole file, so that no seed passes about a hundred, and none that
        // change only a DICOM file's preamble, which no reader looks at. The
        // OpenVDB row's process also loads libopenvdb, seconds apiece under
        // the address checker: its seeds pass about twenty-five.
        const bool vdb = s.choice.format && strcmp(s.choice.format->name, "OpenVDB") == 0;
        const bool byPath = s.choice.format && (s.choice.format->readSamplesAt || vdb);
        const size_t preamble =
            s.file.bytes.size() >= 132 && s.file.bytes.compare(128, 4, "DICM") == 0 ? 128 : 0;
        const std::vector<std::string> all = hostileVersions(s.file.bytes);
        const size_t stride = std::max<size_t>(3, all.size() / (vdb ? 25 : 100));
        size_t nth = 0;
        for (const std::string& hostile : all) {
            if (failures >= 3)
                break;
            if (byPath &&
                (nth++ % stride != 0 || hostile.compare(preamble, std::string::npos, s.file.bytes,
                                                        preamble, std::string::npos) == 0))
                continue;
            VoxelGrid grid;
            std::string error;
            const InputFormat* format = nullptr;
            const bool read = readAsConverter(hostile, s.file.path, grid, error, format);
            ++versions;
            std::string problem;
            if (!format && error.empty())
                continue; // no row reads it now: the importer's to refuse
            if (!read) {
                ++refused;
                problem = refusalProblem(error, s.file.path, format ? *format : *s.choice.format);
            } else {
                rows.insert(format);
                problem = voxelsProblem(grid, *format);
            }
            if (!problem.empty()) {
                ADD_FAILURE() << s.file.path << " made hostile: " << problem << ": " << error;
                ++failures;
            }
        }
    }
    EXPECT_GT(versions, size_t(100000));
    EXPECT_GT(refused, versions / 2);
    // Some of every row's hostile versions still read: the checks above saw
    // voxels from each.
    for (const InputFormat* format : inputFormats())
        EXPECT_TRUE(rows.count(format) || format->readSamplesAt) << format->name;
}

namespace {

using InputFolder = ScratchDirTest;

} // namespace

// A folder of slices is its row's, and the memory cap counts its slices'
// bytes (an input file's own size is counted apart, so a file counts none).
TEST_F(InputFolder, AFolderOfSlicesIsChosenAndItsSlicesCountedForTheMemoryCap) {
    EXPECT_EQ(findInputFolder(dir.c_str()), nullptr);
    EXPECT_EQ(seriesFileBytes(dir.c_str()), 0);
    write("a_1.tif", std::string(1000, 'x'));
    write("a_2.TIFF", std::string(234, 'x'));
    write("notes.txt", std::string(5000, 'x'));
    const InputFormat* row = findInputFolder((dir + "/").c_str());
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->name, "TIFF slices");
    EXPECT_NE(row->readSamplesAt, nullptr);
    EXPECT_EQ(seriesFileBytes(dir.c_str()), 1234);
    EXPECT_EQ(seriesFileBytes((dir + "//").c_str()), 1234);
    EXPECT_EQ(seriesFileBytes((dir + "/a_1.tif").c_str()), 0);
    EXPECT_EQ(seriesFileBytes((dir + "/missing").c_str()), 0);
}

// A Zarr store is its row's by its metadata, or by its name; its metadata
// file, whatever its name, by content; the memory cap counts its files.
TEST_F(InputFolder, AZarrStoreIsChosenByItsMetadataAndItsFilesCounted) {
    write(".zarray", "{\"zarr_format\": 2}");
    mkdir((dir + "/0").c_str(), 0755);
    write("0/0", std::string(100, 'x'));
    const InputFormat* row = findInputFolder(dir.c_str());
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->name, "Zarr");
    EXPECT_TRUE(row->takesDataset && row->takesLevel);
    EXPECT_EQ(seriesFileBytes(dir.c_str()), 100 + 18);
    const std::string named = dir + "/empty.zarr";
    mkdir(named.c_str(), 0755);
    EXPECT_EQ(findInputFolder(named.c_str()), row);
    const std::string meta = "{\n  \"chunks\": [64],\n  \"zarr_format\": 2\n}";
    InputChoice choice;
    std::string error;
    ASSERT_TRUE(chooseInput(reinterpret_cast<const uint8_t*>(meta.data()), meta.size(), "meta",
                            choice, error));
    EXPECT_EQ(choice.format, row);
}
