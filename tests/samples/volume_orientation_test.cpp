#include <gtest/gtest.h>

#include "samples/volume_orientation.h"
#include "samples/volume_resample.h"

#include <array>
#include <cmath>
#include <cstring>
#include <map>

namespace {

// A scan in the patient's RAS frame: 3 x 4 x 5 samples, each value telling
// its place, 2 mm apart along A, 1 mm otherwise, sample 0 at (-10, 20, 30).
constexpr int64_t rasDims[3] = {3, 4, 5};
constexpr double rasSpacing[3] = {1, 2, 1};
constexpr double rasOrigin[3] = {-10, 20, 30};

uint8_t valueAt(const int64_t ras[3]) {
    return uint8_t(1 + ras[0] + 3 * (ras[1] + 4 * ras[2]));
}

// The same scan stored with index axis a along RAS axis axisOf[a], flipped
// where flip[a], its directions stated in `frame`, first index fastest.
SampleVolume storedScan(const int axisOf[3], const bool flip[3], PatientFrame frame) {
    SampleVolume v;
    v.type = SampleType::uint8;
    v.meaning = SampleMeaning::values;
    v.frame = frame;
    double origin[3] = {rasOrigin[0], rasOrigin[1], rasOrigin[2]};
    for (int a = 0; a < 3; ++a) {
        const int r = axisOf[a];
        v.dims[a] = rasDims[r];
        v.spacing[a] = rasSpacing[r];
        for (int e = 0; e < 3; ++e)
            v.directions[a][e] = e == r ? (flip[a] ? -1 : 1) : 0;
        if (flip[a])
            origin[r] += double(rasDims[r] - 1) * rasSpacing[r];
    }
    // LPS counts R and A the other way, LAS R alone.
    const bool negate[3] = {frame != PatientFrame::ras, frame == PatientFrame::lps, false};
    for (int e = 0; e < 3; ++e) {
        v.origin[e] = negate[e] ? -origin[e] : origin[e];
        for (int a = 0; a < 3; ++a)
            if (negate[e])
                v.directions[a][e] = -v.directions[a][e];
    }
    setSampleOrder(v, true);
    v.storage.resize(size_t(v.dims[0] * v.dims[1] * v.dims[2]));
    int64_t index[3];
    for (index[2] = 0; index[2] < v.dims[2]; ++index[2])
        for (index[1] = 0; index[1] < v.dims[1]; ++index[1])
            for (index[0] = 0; index[0] < v.dims[0]; ++index[0]) {
                int64_t ras[3];
                for (int a = 0; a < 3; ++a)
                    ras[axisOf[a]] = flip[a] ? v.dims[a] - 1 - index[a] : index[a];
                v.storage[size_t(index[0] + v.dims[0] * (index[1] + v.dims[1] * index[2]))] =
                    valueAt(ras);
            }
    return v;
}

} // namespace

TEST(VolumeOrientation, EveryStorageOrderAndFlipInEveryFrameShowsTheSameScan) {
    const int perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (PatientFrame frame : {PatientFrame::ras, PatientFrame::lps, PatientFrame::las})
        for (const auto& perm : perms)
            for (int flips = 0; flips < 8; ++flips) {
                const bool flip[3] = {(flips & 1) != 0, (flips & 2) != 0, (flips & 4) != 0};
                SampleVolume v = storedScan(perm, flip, frame);
                std::string note;
                orientToDisplay(v, note);
                SCOPED_TRACE(testing::Message() << "frame " << int(frame) << " axes " << perm[0]
                                                << perm[1] << perm[2] << " flips " << flips);
                EXPECT_EQ(note, "");
                EXPECT_EQ(v.frame, PatientFrame::none);
                // Display x is the patient's left (R reversed), y superior,
                // z anterior.
                EXPECT_EQ(v.dims[0], 3);
                EXPECT_EQ(v.dims[1], 5);
                EXPECT_EQ(v.dims[2], 4);
                EXPECT_EQ(v.spacing[2], 2);
                EXPECT_EQ(v.origin[0], 8);  // the rightmost sample, -(-10 + 2)
                EXPECT_EQ(v.origin[1], 30); // the lowest
                EXPECT_EQ(v.origin[2], 20); // the rearmost
                for (int64_t x = 0; x < 3; ++x)
                    for (int64_t y = 0; y < 5; ++y)
                        for (int64_t z = 0; z < 4; ++z) {
                            const int64_t ras[3] = {2 - x, z, y};
                            ASSERT_EQ(sampleValue(v, x, y, z), valueAt(ras))
                                << "at display " << x << " " << y << " " << z;
                        }
            }
}

TEST(VolumeOrientation, FlippedVolumesBecomeTheSameVoxels) {
    // The whole step to voxels walks a flipped axis backwards: the voxels of
    // a stored-reversed scan are those of the plain one, in any order.
    const int plain[3] = {0, 1, 2}, turned[3] = {2, 0, 1};
    const bool none[3] = {false, false, false}, all[3] = {true, true, true};
    auto voxelsOf = [](SampleVolume v) {
        std::string note;
        orientToDisplay(v, note);
        VoxelGrid grid;
        std::string error;
        EXPECT_TRUE(
            resampleToCubes(v, ThresholdRule{true, 20.0}, ColorMode::grey, 1000, grid, error))
            << error;
        std::map<std::array<float, 3>, int> found;
        for (size_t n = 0; n < grid.voxels.colors.size() / 3; ++n)
            found[{grid.voxels.positions[3 * n], grid.voxels.positions[3 * n + 1],
                   grid.voxels.positions[3 * n + 2]}] = grid.voxels.colors[3 * n];
        return found;
    };
    const auto want = voxelsOf(storedScan(plain, none, PatientFrame::ras));
    // Of the 2 x 3 x 4 cubes of edge 2, those holding a value of 20 or more.
    EXPECT_EQ(want.size(), 19u);
    EXPECT_EQ(voxelsOf(storedScan(plain, all, PatientFrame::ras)), want);
    EXPECT_EQ(voxelsOf(storedScan(turned, all, PatientFrame::lps)), want);
}

TEST(VolumeOrientation, ObliqueScansTurnToTheNearestAxesWithANote) {
    const int axes[3] = {0, 1, 2};
    const bool none[3] = {false, false, false};
    SampleVolume v = storedScan(axes, none, PatientFrame::ras);
    // 20 degrees about S: R leans toward A, A toward L.
    const double c = std::cos(20 * M_PI / 180), s = std::sin(20 * M_PI / 180);
    const double turned[3][3] = {{c, s, 0}, {-s, c, 0}, {0, 0, 1}};
    memcpy(v.directions, turned, sizeof turned);
    std::string note;
    orientToDisplay(v, note);
    EXPECT_EQ(note, "is oblique (its axes lie up to 20.0 degrees off the patient's): it is turned "
                    "to the nearest axes, not resampled");
    EXPECT_EQ(v.dims[0], 3);
    EXPECT_EQ(v.dims[1], 5);
    EXPECT_EQ(v.dims[2], 4);
    const int64_t ras[3] = {2, 0, 0};
    EXPECT_EQ(sampleValue(v, 0, 0, 0), valueAt(ras));

    // 50 degrees: A is nearer R than A now, R nearer -A (posterior).
    const double c50 = std::cos(50 * M_PI / 180), s50 = std::sin(50 * M_PI / 180);
    SampleVolume w = storedScan(axes, none, PatientFrame::ras);
    const double far[3][3] = {{c50, s50, 0}, {-s50, c50, 0}, {0, 0, 1}};
    memcpy(w.directions, far, sizeof far);
    orientToDisplay(w, note);
    EXPECT_NE(note.find("up to 40.0 degrees"), std::string::npos) << note;
    EXPECT_EQ(w.dims[0], 4); // the index axis stored along A now runs along L
    EXPECT_EQ(w.dims[2], 3);
}

TEST(VolumeOrientation, VolumesWithoutAFrameStayAsTheyAre) {
    const int axes[3] = {2, 0, 1};
    const bool flip[3] = {true, false, true};
    SampleVolume v = storedScan(axes, flip, PatientFrame::none);
    const SampleVolume before = v;
    std::string note = "left over";
    orientToDisplay(v, note);
    EXPECT_EQ(note, "");
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(v.dims[a], before.dims[a]);
        EXPECT_EQ(v.strides[a], before.strides[a]);
        EXPECT_EQ(v.origin[a], before.origin[a]);
    }
    EXPECT_EQ(v.offset, before.offset);
}
