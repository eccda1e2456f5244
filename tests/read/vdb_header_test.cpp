// The walk of a .vdb file's grid descriptors that refuses a cut or damaged
// file before libopenvdb is started, on the input fuzzer's seeds.
#include <gtest/gtest.h>

#include "container/inflate_stream.h"
#include "grid_samples.h"
#include "read/vdb_header.h"

#include <cstring>

namespace {

std::vector<uint8_t> seed(const char* name) {
    return fileBytes(std::string(VOXSCOPE_INPUT_CORPUS) + "/" + name);
}

// Where the first grid's descriptor keeps its three offsets: after the
// header (8 + 4 + 4 + 4 + 1 + 36 bytes), an empty file metadata map, the
// grid count and three strings.
size_t firstOffsets(const std::vector<uint8_t>& bytes) {
    size_t at = 57 + 4 + 4;
    for (int s = 0; s < 3; ++s) {
        uint32_t length;
        memcpy(&length, bytes.data() + at, 4);
        at += 4 + length;
    }
    return at;
}

} // namespace

TEST(VdbHeader, WholeFilesFitAndEveryCutIsRefusedAtTheGridItCuts) {
    const std::vector<uint8_t> packed = seed("vdb_colours_and_mask.vdb.gz");
    std::vector<uint8_t> colours;
    std::string error;
    ASSERT_TRUE(
        inflateStream(packed.data(), packed.size(), DeflateWrapper::gzip, 1 << 20, colours, error))
        << error;
    for (const auto& [name, bytes] : {std::make_pair("vdb_fog.vdb", seed("vdb_fog.vdb")),
                                      std::make_pair("vdb_colours_and_mask.vdb", colours)}) {
        std::string reason;
        ASSERT_TRUE(vdbGridsFit(bytes.data(), bytes.size(), reason)) << name << ": " << reason;
        for (size_t length = 0; length < bytes.size(); length += 7) {
            EXPECT_FALSE(vdbGridsFit(bytes.data(), length, reason)) << name << " cut to " << length;
            EXPECT_EQ(reason.rfind("it ends before its ", 0), 0u) << reason;
        }
        EXPECT_FALSE(vdbGridsFit(bytes.data(), bytes.size() - 1, reason));
        EXPECT_NE(reason.find("\" does: it holds " + std::to_string(bytes.size() - 1) +
                              " bytes, the grid ends at " + std::to_string(bytes.size())),
                  std::string::npos)
            << reason;
    }
}

TEST(VdbHeader, MisplacedGridsAreRefusedAndFilesWithoutOffsetsLeftToTheLibrary) {
    const std::vector<uint8_t> bytes = seed("vdb_fog.vdb");
    const size_t offsets = firstOffsets(bytes);
    std::string reason;
    int64_t stated[3]; // the grid's start, its data's and its end
    memcpy(stated, bytes.data() + offsets, sizeof stated);
    // Each a byte before the one before it: the grid not where its
    // descriptor ends, its data before it, its end before its data.
    const int64_t misplaced[3] = {stated[0] + 1, stated[0] - 1, stated[1] - 1};
    for (size_t field = 0; field < 3; ++field) {
        std::vector<uint8_t> moved = bytes;
        memcpy(moved.data() + offsets + 8 * field, &misplaced[field], 8);
        EXPECT_FALSE(vdbGridsFit(moved.data(), moved.size(), reason)) << field;
        EXPECT_EQ(reason, "its grid \"density\" is placed where its descriptor cannot be");
    }
    // No offsets stated (the flag after the library version): nothing to walk.
    std::vector<uint8_t> unstated = bytes;
    unstated[20] = 0;
    EXPECT_TRUE(vdbGridsFit(unstated.data(), 100, reason));
    // A version before grid instancing keeps other descriptors: left alone.
    std::vector<uint8_t> old = bytes;
    old[8] = 215, old[9] = 0;
    EXPECT_TRUE(vdbGridsFit(old.data(), 100, reason));
}
