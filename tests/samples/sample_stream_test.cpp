// Samples streamed from a file slab by slab against the same samples held
// whole and taken through samplesToGrid and the grid stages: the same grid,
// bit for bit, for every type, turn, option and slab edge.
#include <gtest/gtest.h>

#include "samples/sample_grid.h"
#include "samples/sample_stream.h"
#include "samples/volume_orientation.h"
#include "scratch_dir.h"
#include "stages/coarse_grid.h"
#include "stages/hollow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A lumpy ball with graded values, off centre in a box of unequal sides.
double ballValue(int64_t i, int64_t j, int64_t k) {
    const double x = double(i) - 6.3, y = double(j) - 4.8, z = double(k) - 5.6;
    const double r = std::sqrt(x * x + 1.3 * y * y + z * z);
    return r < 5.2 ? 180 - 23 * r + double((i * 7 + j * 3 + k) % 5) : 0;
}

const int64_t testDims[3] = {14, 11, 12};

// The turns a header may state: none, every axis flipped, axes swapped
// with a flip (LPS), and an oblique one.
void setTurn(SampleLayout& layout, int turn) {
    const double none[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const double flipped[3][3] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
    const double swapped[3][3] = {{0, 0, 1}, {-1, 0, 0}, {0, 1, 0}};
    const double oblique[3][3] = {{0.98, 0.2, 0}, {-0.2, 0.98, 0}, {0, 0, -1}};
    const double(*pick)[3] = turn == 1 ? flipped : turn == 2 ? swapped : turn == 3 ? oblique : none;
    layout.frame = turn == 0   ? PatientFrame::none
                   : turn == 2 ? PatientFrame::lps
                               : PatientFrame::ras;
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b)
            layout.directions[a][b] = pick[a][b];
    layout.origin[0] = 3.25;
    layout.origin[1] = -7.5;
    layout.origin[2] = 1000.125;
}

struct StreamCase {
    SampleType type = SampleType::uint8;
    int turn = 0;
    bool bigEndian = false;
    double slope = 1, intercept = 0;
    ColorMode mode = ColorMode::grey;
    ThresholdRule threshold{true, 1, 0};
    double cellSize = 0;
    int64_t resolution = 0;
    bool hollow = false;
    SampleMeaning meaning = SampleMeaning::values;
};

struct SampleStreamTest : ScratchDirTest {
    // The samples of `c` as a file holds them (after a few bytes of
    // header) and as a volume in memory, both turned to the display frame.
    void makeVolumes(const StreamCase& c, SampleVolume& whole, SampleVolume& streamed,
                     SampleSource& source) {
        SampleLayout layout;
        layout.type = c.type;
        std::copy(testDims, testDims + 3, layout.dims);
        layout.spacing[0] = layout.spacing[1] = layout.spacing[2] = 0.75;
        setTurn(layout, c.turn);
        const size_t size = sampleTypeSize(c.type);
        std::vector<uint8_t> native;
        for (int64_t k = 0; k < testDims[2]; ++k)
            for (int64_t j = 0; j < testDims[1]; ++j)
                for (int64_t i = 0; i < testDims[0]; ++i)
                    withSampleType(c.type, [&](auto* tag) {
                        using T = std::remove_pointer_t<decltype(tag)>;
                        const T v = T(ballValue(i, j, k));
                        const uint8_t* at = reinterpret_cast<const uint8_t*>(&v);
                        native.insert(native.end(), at, at + size);
                    });
        std::string file = "HEADER";
        std::vector<uint8_t> stored = native;
        toNativeByteOrder(stored.data(), stored.size() / size, size, c.bigEndian);
        file.append(stored.begin(), stored.end());
        const std::string path = write("volume.raw", file);
        takeSamples(layout, native, 0, whole);
        describeSamples(layout, streamed);
        for (SampleVolume* v : {&whole, &streamed}) {
            v->slope = c.slope;
            v->intercept = c.intercept;
            v->meaning = c.meaning;
            std::string note;
            orientToDisplay(*v, note);
        }
        close(source.fd);
        source.fd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(source.fd, 0);
        source.start = 6;
        source.bigEndian = c.bigEndian;
    }

    // What the in-memory path and the grid stages make.
    static void reference(const SampleVolume& volume, const StreamCase& c, VoxelGrid& grid) {
        SampleRules rules;
        rules.threshold = c.threshold;
        rules.colors = c.mode;
        rules.voxelSize = c.cellSize;
        rules.resolution = c.resolution;
        std::string error;
        ASSERT_TRUE(samplesToGrid(volume, ColorMode::grey, rules, 1000000, grid, error)) << error;
        ASSERT_FALSE(grid.atAskedSize) << "the case asks for a finer grid";
        int64_t skipped = 0;
        if (c.cellSize > 0 || c.resolution > 0) {
            ASSERT_TRUE(coarsenGrid(grid, c.cellSize, c.resolution, 1000000, skipped, error))
                << error;
        }
        if (c.hollow) {
            ASSERT_TRUE(hollowGrid(grid, skipped, error)) << error;
        }
    }

    // The same streamed in slabs of `slab` slices.
    void streamed(const SampleVolume& volume, SampleSource source, const StreamCase& c,
                  int64_t slab, VoxelGrid& grid) {
        source.slabSlices = slab;
        SampleBox box;
        std::string error;
        ASSERT_TRUE(scanSampleBox(volume, source, c.threshold, box, error)) << error;
        StreamPlan plan;
        plan.threshold = c.threshold;
        plan.mode = c.mode;
        plan.cellSize = c.cellSize;
        plan.resolution = c.resolution;
        const bool coarse = c.cellSize > 0 || c.resolution > 0;
        plan.hollow = c.hollow && !coarse;
        plan.maxVoxels = 1000000;
        if (coarse) {
            ASSERT_TRUE(coarseCellsFit(volume, box, plan));
        }
        int64_t kept = 0;
        ASSERT_TRUE(streamSamples(volume, source, plan, box, grid, kept, error)) << error;
        EXPECT_EQ(kept, int64_t(grid.voxels.colors.size() / 3));
        // The stages that follow a coarser grid: hollowing runs on it.
        int64_t offLattice = 0;
        if (coarse && c.hollow) {
            ASSERT_TRUE(hollowGrid(grid, offLattice, error)) << error;
        }
    }

    void expectSame(const StreamCase& c, std::initializer_list<int64_t> slabs) {
        SampleVolume whole, stream;
        SampleSource source;
        makeVolumes(c, whole, stream, source);
        VoxelGrid expected;
        reference(whole, c, expected);
        ASSERT_FALSE(expected.voxels.colors.empty());
        for (int64_t slab : slabs) {
            SCOPED_TRACE("slabs of " + std::to_string(slab) + " slices");
            VoxelGrid got;
            streamed(stream, source, c, slab, got);
            EXPECT_EQ(got.voxels.voxelSize, expected.voxels.voxelSize);
            EXPECT_TRUE(got.voxels.positions == expected.voxels.positions);
            EXPECT_TRUE(got.voxels.colors == expected.voxels.colors);
            EXPECT_EQ(got.voxels.colors.size(), expected.voxels.colors.size());
            EXPECT_EQ(got.madeUpColors, expected.madeUpColors);
            EXPECT_EQ(got.step, expected.step);
        }
        close(source.fd);
    }
};

} // namespace

TEST_F(SampleStreamTest, EveryTypeAndTurnGivesTheCubesOfTheWholeVolume) {
    const SampleType types[] = {SampleType::uint8,   SampleType::int8,   SampleType::int16,
                                SampleType::uint16,  SampleType::int32,  SampleType::uint64,
                                SampleType::float32, SampleType::float64};
    for (SampleType type : types)
        for (int turn = 0; turn < 4; ++turn) {
            SCOPED_TRACE(std::string(sampleTypeName(type)) + " turn " + std::to_string(turn));
            StreamCase c;
            c.type = type;
            c.turn = turn;
            c.bigEndian = turn % 2 == 1;
            c.threshold = {true, 40.5, 0};
            expectSame(c, {1, 4, 0});
        }
}

TEST_F(SampleStreamTest, ThresholdsScalingAndColoursFollowTheWholeVolume) {
    StreamCase c;
    c.type = SampleType::int16;
    c.turn = 2;
    c.slope = -0.5;
    c.intercept = 100;
    c.threshold = {true, 20, 0};
    for (ColorMode mode : {ColorMode::grey, ColorMode::map, ColorMode::height}) {
        c.mode = mode;
        expectSame(c, {2, 0});
    }
    // No threshold: every value but the background.
    c = StreamCase();
    c.meaning = SampleMeaning::labels;
    c.threshold = {false, 0, 0};
    c.mode = ColorMode::labels;
    expectSame(c, {3});
    c.threshold = {false, 0, 180};
    c.mode = ColorMode::height;
    expectSame(c, {3});
}

TEST_F(SampleStreamTest, HollowingMatchesTheHollowStageAtEverySlabEdge) {
    StreamCase c;
    c.hollow = true;
    c.threshold = {true, 30, 0};
    for (int turn = 0; turn < 3; ++turn) {
        c.turn = turn;
        c.mode = turn == 0 ? ColorMode::map : ColorMode::grey;
        expectSame(c, {1, 2, 3, 5, 0});
    }
}

TEST_F(SampleStreamTest, CoarserGridsMatchTheCoarseGridStageAtEverySlabEdge) {
    StreamCase c;
    c.threshold = {true, 30, 0};
    // Cells of three samples: slabs of one fewer, as many and one more.
    c.cellSize = 2.25;
    for (int turn = 0; turn < 4; ++turn) {
        c.turn = turn;
        expectSame(c, {1, 2, 3, 4, 0});
    }
    c.cellSize = 0;
    c.turn = 2;
    for (int64_t resolution : {1, 3, 4, 7}) {
        c.resolution = resolution;
        c.mode = resolution == 4 ? ColorMode::height : ColorMode::grey;
        expectSame(c, {1, 3, 0});
        c.hollow = true;
        expectSame(c, {2});
        c.hollow = false;
    }
}

TEST_F(SampleStreamTest, AFileCutShortIsRefused) {
    StreamCase c;
    SampleVolume whole, stream;
    SampleSource source;
    makeVolumes(c, whole, stream, source);
    const std::string path = dir + "/volume.raw";
    ASSERT_EQ(truncate(path.c_str(), 6 + 14 * 11 * 5), 0);
    SampleBox box;
    std::string error;
    EXPECT_FALSE(scanSampleBox(stream, source, c.threshold, box, error));
    EXPECT_EQ(error, "the file ends before its samples do (it has become shorter)");
    close(source.fd);
}

TEST_F(SampleStreamTest, TooManyVoxelsAreCountedNotKept) {
    StreamCase c;
    c.hollow = true;
    SampleVolume whole, stream;
    SampleSource source;
    makeVolumes(c, whole, stream, source);
    VoxelGrid expected;
    reference(whole, c, expected);
    const int64_t count = int64_t(expected.voxels.colors.size() / 3);
    SampleBox box;
    std::string error;
    ASSERT_TRUE(scanSampleBox(stream, source, c.threshold, box, error));
    StreamPlan plan;
    plan.threshold = c.threshold;
    plan.mode = c.mode;
    plan.hollow = true;
    plan.maxVoxels = count - 1;
    VoxelGrid grid;
    int64_t kept = 0;
    ASSERT_TRUE(streamSamples(stream, source, plan, box, grid, kept, error)) << error;
    EXPECT_EQ(kept, count);
    EXPECT_TRUE(grid.voxels.colors.empty());
    close(source.fd);
}
