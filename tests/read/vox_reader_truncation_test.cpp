// Every kept .vox file cut at every length. The format declares the size of
// every chunk, so a cut file is short of what its MAIN chunk claims and must
// be refused as truncated, with the reason, never read as a smaller scene;
// only a cut past the MAIN chunk's end reads as the whole file. A cut whose
// MAIN chunk is re-declared to end there must be refused at the chunk it cuts,
// or, cut between chunks, read as the chunks before the cut.
#include <gtest/gtest.h>

#include "read/vox_reader.h"
#include "sample_prefixes.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

uint32_t u32At(const std::string& bytes, size_t at) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The reader's outcome on exactly `length` bytes, copied to a buffer of that
// size so that a read past them is a sanitizer's error.
struct Parsed {
    bool ok;
    std::string error;
    VoxScene scene;
};

Parsed parse(const std::string& bytes, size_t length) {
    std::vector<uint8_t> copy(bytes.begin(), bytes.begin() + long(length));
    Parsed out = {false, "", VoxScene()};
    out.ok = parseVox(copy.data(), copy.size(), out.scene, out.error);
    return out;
}

bool sameNode(const VoxNode& a, const VoxNode& b) {
    return a.kind == b.kind && a.hidden == b.hidden && a.layer == b.layer && a.child == b.child &&
           a.rotation == b.rotation &&
           std::equal(a.translation, a.translation + 3, b.translation) && a.children == b.children;
}

bool sameModel(const VoxModelData& a, const VoxModelData& b) {
    return std::equal(a.size, a.size + 3, b.size) && a.voxels == b.voxels;
}

// Empty when `part` holds the first `models` models of `whole`, only nodes and
// layers that `whole` has, as it has them, and either its palette or the
// default one.
std::string partOfScene(const VoxScene& part, const VoxScene& whole, size_t models, size_t nodes,
                        bool ownPalette) {
    if (part.models.size() != models)
        return std::to_string(part.models.size()) + " models, not " + std::to_string(models);
    for (size_t i = 0; i < models; ++i)
        if (!sameModel(part.models[i], whole.models[i]))
            return "model " + std::to_string(i) + " differs";
    if (part.nodes.size() != nodes)
        return std::to_string(part.nodes.size()) + " nodes, not " + std::to_string(nodes);
    for (const auto& [id, node] : part.nodes) {
        auto found = whole.nodes.find(id);
        if (found == whole.nodes.end() || !sameNode(node, found->second))
            return "node " + std::to_string(id) + " differs";
    }
    for (const auto& [layer, hidden] : part.hiddenLayers) {
        auto found = whole.hiddenLayers.find(layer);
        if (found == whole.hiddenLayers.end() || found->second != hidden)
            return "layer " + std::to_string(layer) + " differs";
    }
    uint8_t palette[256][4];
    defaultVoxPalette(palette);
    if (memcmp(part.palette, ownPalette ? whole.palette : palette, sizeof palette) != 0)
        return ownPalette ? "not the file's palette" : "not the default palette";
    return "";
}

std::string sceneDifference(const VoxScene& a, const VoxScene& b) {
    std::string difference = partOfScene(a, b, b.models.size(), b.nodes.size(), true);
    if (difference.empty() && a.hiddenLayers != b.hiddenLayers)
        return "layers differ";
    return difference;
}

// The error the reader must give for the first `length` bytes of `bytes`, a
// file whose MAIN chunk, when it has one, ends at `mainEnd`; empty past that.
std::string refusalOfCut(const std::string& bytes, size_t length, uint64_t mainEnd) {
    if (length < 8 || bytes.compare(0, 4, "VOX ") != 0)
        return "not a .vox file (no \"VOX \" header)";
    if (length < 20 || bytes.compare(8, 4, "MAIN") != 0)
        return "no MAIN chunk after the header";
    if (length < mainEnd)
        return "truncated file: the MAIN chunk claims more bytes than there are";
    return "";
}

std::vector<SampleFile> voxSamples() {
    std::vector<SampleFile> samples;
    addSampleFiles(VOXSCOPE_EXAMPLES, ".vox", &samples);
    addSampleFiles(VOXSCOPE_INPUT_CORPUS, ".vox", &samples);
    return samples;
}

TEST(VoxTruncation, EveryCutIsRefusedAsTruncatedUntilTheMainChunkEnds) {
    const std::vector<SampleFile> samples = voxSamples();
    ASSERT_GT(samples.size(), 8u);
    int wholeFilesRead = 0;
    for (const SampleFile& sample : samples) {
        SCOPED_TRACE(sample.path);
        const std::string& bytes = sample.bytes;
        const uint64_t mainEnd =
            bytes.size() >= 20 ? 20 + uint64_t(u32At(bytes, 12)) + u32At(bytes, 16) : 0;
        const Parsed whole = parse(bytes, bytes.size());
        wholeFilesRead += whole.ok;
        ReadOptions options;
        options.path = "cut.vox";
        VoxelGrid wholeGrid;
        std::string wholeGridError;
        const bool wholeGridOk = readVoxGrid(reinterpret_cast<const uint8_t*>(bytes.data()),
                                             bytes.size(), options, wholeGrid, wholeGridError);
        int failures = 0;
        for (size_t length : prefixLengths(bytes.size())) {
            if (failures >= 3)
                break;
            const Parsed cut = parse(bytes, length);
            const std::string refusal = refusalOfCut(bytes, length, mainEnd);
            std::vector<uint8_t> copy(bytes.begin(), bytes.begin() + long(length));
            VoxelGrid grid;
            std::string gridError;
            const bool gridOk = readVoxGrid(copy.data(), copy.size(), options, grid, gridError);
            std::string problem;
            if (!refusal.empty()) {
                if (cut.ok || cut.error != refusal)
                    problem = "read as \"" + cut.error + "\", not refused as \"" + refusal + "\"";
                else if (gridOk || gridError != "cannot read cut.vox: " + refusal)
                    problem = "the grid reader said \"" + gridError + "\"";
            } else if (cut.ok != whole.ok || cut.error != whole.error) {
                problem = "past the MAIN chunk, yet \"" + cut.error + "\" against the whole's \"" +
                          whole.error + "\"";
            } else if (!(problem = sceneDifference(cut.scene, whole.scene)).empty()) {
                problem = "past the MAIN chunk, yet " + problem;
            } else if (gridOk != wholeGridOk || gridError != wholeGridError ||
                       grid.voxels.positions != wholeGrid.voxels.positions ||
                       grid.voxels.colors != wholeGrid.voxels.colors) {
                problem = "past the MAIN chunk, yet the grid differs: \"" + gridError + "\"";
            }
            if (!problem.empty()) {
                ADD_FAILURE() << "cut at " << length << " of " << bytes.size()
                              << " bytes: " << problem;
                ++failures;
            }
        }
    }
    // The samples are not all refusals: scenes are read whole and cut.
    EXPECT_GE(wholeFilesRead, 5);
}

// A chunk of the MAIN chunk's children in a file that reads whole.
struct ChunkSpan {
    size_t start; // its 12-byte header
    size_t end;   // after its content and children
    std::string id;
};

TEST(VoxTruncation, CutWithItsMainChunkRedeclaredReadsAsTheChunksBeforeTheCut) {
    int cutsBetweenChunks = 0, scenesFromCuts = 0;
    for (const SampleFile& sample : voxSamples()) {
        const std::string& bytes = sample.bytes;
        const Parsed whole = parse(bytes, bytes.size());
        if (!whole.ok)
            continue;
        SCOPED_TRACE(sample.path);
        const size_t begin = 20 + u32At(bytes, 12);
        const size_t end = begin + u32At(bytes, 16);
        std::vector<ChunkSpan> chunks;
        for (size_t pos = begin; pos < end;) {
            ChunkSpan c = {pos, pos + 12 + u32At(bytes, pos + 4) + u32At(bytes, pos + 8),
                           bytes.substr(pos, 4)};
            chunks.push_back(c);
            pos = c.end;
        }
        ASSERT_FALSE(chunks.empty());
        ASSERT_EQ(chunks.back().end, end) << "a file that reads whole ends on a chunk";
        int failures = 0;
        size_t next = 0; // the first chunk not wholly before the cut
        size_t models = 0, nodes = 0;
        bool ownPalette = false;
        for (size_t length = begin; length < end && failures < 3; ++length) {
            if (length == chunks[next].end) {
                const std::string& id = chunks[next].id;
                models += id == "XYZI";
                nodes += id == "nTRN" || id == "nGRP" || id == "nSHP";
                ownPalette = ownPalette || id == "RGBA";
                ++next;
            }
            std::string cutBytes = bytes.substr(0, length);
            const uint32_t children = uint32_t(length - begin);
            for (int k = 0; k < 4; ++k)
                cutBytes[16 + k] = char(children >> (8 * k));
            const Parsed cut = parse(cutBytes, cutBytes.size());
            const ChunkSpan& cutChunk = chunks[next];
            std::string problem;
            if (length == cutChunk.start) {
                ++cutsBetweenChunks;
                if (models == 0) {
                    if (cut.ok || cut.error != "no models in the file")
                        problem = "no model before the cut, yet \"" + cut.error + "\"";
                } else if (!cut.ok) {
                    problem = "refused as \"" + cut.error + "\"";
                } else {
                    ++scenesFromCuts;
                    problem = partOfScene(cut.scene, whole.scene, models, nodes, ownPalette);
                }
            } else {
                const std::string expected = length < cutChunk.start + 12
                                                 ? "truncated chunk header"
                                                 : "truncated " + cutChunk.id + " chunk";
                if (cut.ok || cut.error != expected)
                    problem = "read as \"" + cut.error + "\", not refused as \"" + expected + "\"";
            }
            if (!problem.empty()) {
                ADD_FAILURE() << "cut at " << length << " of " << end << " bytes: " << problem;
                ++failures;
            }
        }
    }
    EXPECT_GT(cutsBetweenChunks, 20);
    EXPECT_GT(scenesFromCuts, 5);
}

} // namespace
