// Framing the model: the box measured on the first reset, the view every reset
// restores, and the limits navigation keeps the pivot distance and eye within.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "camera/camera_state.h"
#include "camera/trackball_state.h"
#include "fakes.h"
#include "model/voxel_model.h"
#include "render/frame_drawing.h"
#include "view_checks.h"

namespace {

// A model over caller-owned arrays; `positions` may be empty, giving null.
VoxelModel makeModel(std::vector<float>& positions, std::vector<uint8_t>& colors, float size) {
    colors.assign(positions.size(), 128);
    VoxelModel m = {};
    m.count = int32_t(positions.size() / 3);
    m.positions = positions.empty() ? nullptr : positions.data();
    m.colors = colors.empty() ? nullptr : colors.data();
    m.voxelSize = size;
    return m;
}

// Frames `positions` (x, y, z per voxel) with voxel edge `size`.
CameraState frame(std::vector<float> positions, float size) {
    resetAllState();
    std::vector<uint8_t> colors;
    VoxelModel m = makeModel(positions, colors, size);
    model = &m;
    resetCamera();
    model = nullptr;
    return camera;
}

void expectFramed(const CameraState& c) {
    // Always in front of the centre on +z, unturned, pivoting on the centre.
    EXPECT_EQ(c.eye.x, c.center.x);
    EXPECT_EQ(c.eye.y, c.center.y);
    EXPECT_EQ(c.eye.z, c.center.z + 2.0f * c.extent);
    EXPECT_EQ(c.distance, 2.0f * c.extent);
    EXPECT_EQ(c.angle, 0.0f);
    EXPECT_EQ(c.axis.x, 0.0f);
    EXPECT_EQ(c.axis.y, 0.0f);
    EXPECT_EQ(c.axis.z, 1.0f);
}

TEST(Framing, SingleVoxelIsFramedByItsOwnSize) {
    CameraState c = frame({1, 2, 3}, 0.5f);
    EXPECT_EQ(c.center.x, 1.0f);
    EXPECT_EQ(c.center.y, 2.0f);
    EXPECT_EQ(c.center.z, 3.0f);
    EXPECT_EQ(c.extent, 1.414f); // exactly half of the float 2.828
    EXPECT_EQ(c.distance, 2.828f);
    EXPECT_FLOAT_EQ(c.eye.z, 5.828f);
    expectFramed(c);
}

TEST(Framing, TwoVoxelsAreFramedByTheirDiagonalPlusTheVoxelSize) {
    CameraState c = frame({0, 0, 0, 3, 4, 0}, 1.0f);
    EXPECT_EQ(c.center.x, 1.5f);
    EXPECT_EQ(c.center.y, 2.0f);
    EXPECT_EQ(c.center.z, 0.0f);
    EXPECT_FLOAT_EQ(c.extent, 7.828f);
    EXPECT_FLOAT_EQ(c.distance, 15.656f);
    EXPECT_FLOAT_EQ(c.eye.z, 15.656f);
    expectFramed(c);
}

TEST(Framing, BoxSpansTheExtremesOnEachAxisSeparately) {
    // No voxel holds all three minima or maxima, and the first voxel is not at
    // either end of any axis.
    CameraState c = frame({1, 1, 1, -3, 5, 2, 4, -2, 0, 0, 0, 9}, 0.0f);
    EXPECT_EQ(c.center.x, 0.5f);
    EXPECT_EQ(c.center.y, 1.5f);
    EXPECT_EQ(c.center.z, 4.5f);
    EXPECT_FLOAT_EQ(c.extent, std::sqrt(7.0f * 7.0f + 7.0f * 7.0f + 9.0f * 9.0f));
    expectFramed(c);
}

TEST(Framing, ResetRestoresTheFirstFramingAndStopsASpin) {
    resetAllState();
    std::vector<float> positions = {0, 0, 0, 3, 4, 0};
    std::vector<uint8_t> colors;
    VoxelModel m = makeModel(positions, colors, 1.0f);
    model = &m;
    resetCamera();
    const CameraState first = camera;

    // As if the user had turned, panned, zoomed and flung the view.
    camera.eye = {-40.0f, 17.5f, 0.25f};
    camera.angle = 2.5f;
    camera.axis = {0.6f, 0.0f, 0.8f};
    camera.distance = 0.001f;
    trackball.spinning = 1;
    trackball.angularSpeed = 3.0f;

    resetCamera();
    EXPECT_EQ(trackball.spinning, 0);
    EXPECT_EQ(trackball.angularSpeed, 3.0f) << "only the spin flag is the reset's business";
    expectSameView(camera, first);
    model = nullptr;
}

TEST(Framing, ResetDoesNotMeasureAgain) {
    resetAllState();
    std::vector<float> positions = {0, 0, 0, 3, 4, 0};
    std::vector<uint8_t> colors;
    VoxelModel m = makeModel(positions, colors, 1.0f);
    model = &m;
    resetCamera();
    const CameraState first = camera;

    positions = {100, 100, 100, 200, 300, 400};
    m.voxelSize = 10.0f;
    resetCamera();
    EXPECT_EQ(camera.center.x, first.center.x);
    EXPECT_EQ(camera.center.y, first.center.y);
    EXPECT_EQ(camera.center.z, first.center.z);
    EXPECT_EQ(camera.extent, first.extent);
    EXPECT_EQ(camera.eye.z, first.eye.z);
    model = nullptr;
}

// A model with nothing to measure still gets a usable view: a positive framing
// size, so a positive pivot distance and a valid depth range.
TEST(Framing, ModelsWithoutAUsableSizeAreFramedByTheirBoxOrAUnitView) {
    const struct {
        const char* why;
        std::vector<float> positions;
        float size;
        float center[3];
        float extent;
    } cases[] = {
        {"no voxels, size 1: the voxel size alone", {}, 1.0f, {0, 0, 0}, 2.828f},
        {"no voxels, size 0", {}, 0.0f, {0, 0, 0}, 1.0f},
        {"one point, size 0", {5, -6, 7, 5, -6, 7, 5, -6, 7}, 0.0f, {5, -6, 7}, 1.0f},
        {"negative size, single voxel", {2, 2, 2}, -0.5f, {2, 2, 2}, 1.0f},
        {"infinite size, single voxel", {0, 0, 0}, INFINITY, {0, 0, 0}, 1.0f},
        // A voxel size that gives no framing size leaves the box alone to frame by.
        {"negative size outweighs the box", {0, 0, 0, 3, 4, 0}, -2.0f, {1.5f, 2, 0}, 5.0f},
        {"NaN size", {0, 0, 0, 3, 4, 0}, NAN, {1.5f, 2, 0}, 5.0f},
        {"infinite size", {0, 0, 0, 3, 4, 0}, INFINITY, {1.5f, 2, 0}, 5.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CameraState s = frame(c.positions, c.size);
        EXPECT_EQ(s.center.x, c.center[0]);
        EXPECT_EQ(s.center.y, c.center[1]);
        EXPECT_EQ(s.center.z, c.center[2]);
        EXPECT_EQ(s.extent, c.extent);
        EXPECT_EQ(s.distance, 2.0f * c.extent);
        expectFramed(s);
        FrustumBounds f;
        EXPECT_TRUE(frameFrustum(600, 600, s.distance, &f));
    }
}

TEST(Framing, NegativeSizeThatLeavesAPositiveExtentIsKept) {
    // Diagonal 10 less 0.1 x 2.828: still a box to frame.
    CameraState c = frame({0, 0, 0, 6, 8, 0}, -0.1f);
    EXPECT_FLOAT_EQ(c.extent, 10.0f - 0.2828f);
    expectFramed(c);
}

// Coordinates that are not finite say nothing about where the model is; the box
// is taken over the finite ones on each axis, wherever in the file they come.
TEST(Framing, NonFiniteCoordinatesAreLeftOutOfTheBox) {
    CameraState c = frame({0, 0, 0, 2, 0, 0, NAN, 5, INFINITY}, 1.0f);
    EXPECT_EQ(c.center.x, 1.0f);
    EXPECT_EQ(c.center.y, 2.5f);
    EXPECT_EQ(c.center.z, 0.0f);
    EXPECT_FLOAT_EQ(c.extent, std::sqrt(29.0f) + 2.828f);
    expectFramed(c);

    // The first voxel is not a number at all.
    c = frame({NAN, NAN, NAN, 1, 1, 1, 3, 3, 3}, 0.0f);
    EXPECT_EQ(c.center.x, 2.0f);
    EXPECT_EQ(c.center.y, 2.0f);
    EXPECT_EQ(c.center.z, 2.0f);
    EXPECT_FLOAT_EQ(c.extent, std::sqrt(12.0f));
    expectFramed(c);

    // An axis with no finite coordinate at all is centred on 0 with no depth.
    c = frame({-INFINITY, 0, 4, INFINITY, 6, 4, NAN, 3, 4}, 1.0f);
    EXPECT_EQ(c.center.x, 0.0f);
    EXPECT_EQ(c.center.y, 3.0f);
    EXPECT_EQ(c.center.z, 4.0f);
    EXPECT_FLOAT_EQ(c.extent, 6.0f + 2.828f);
    expectFramed(c);
}

// Near the float limit the box's diagonal, or the voxel size term, overflows.
// Such a model is framed from as far back as the eye can stand: the largest
// framing size navigation allows (an eighth of the float range), or less where
// the eye in front of the centre would leave float range.
TEST(Framing, ModelsBeyondTheFramingRangeAreFramedFromAsFarAsPossible) {
    const float largest = float(FLT_MAX / 8.0);
    const struct {
        const char* why;
        std::vector<float> positions;
        float size;
        float extent; // 0: only finite and positive is required
    } cases[] = {
        {"box diagonal overflows", {-3e38f, 0, 0, 3e38f, 0, 0}, 1.0f, largest},
        {"voxel size term overflows", {0, 0, 0}, 3e38f, largest},
        {"box larger than the range", {0, 0, 0, 1e38f, 0, 0}, 1e36f, largest},
        {"centre near the limit", {0, 0, 3e38f, 0, 0, 3.4e38f}, 1e36f, 0},
        {"centre at the limit", {0, 0, FLT_MAX}, 1e37f, 0},
        {"just inside the range is kept", {0, 0, 0, 4e37f, 0, 0}, 0.0f, 4e37f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CameraState s = frame(c.positions, c.size);
        if (c.extent != 0.0f) {
            EXPECT_EQ(s.extent, c.extent);
        }
        EXPECT_GT(s.extent, 0.0f);
        EXPECT_LE(s.extent, largest);
        EXPECT_TRUE(std::isfinite(s.eye.z));
        expectFramed(s);
        FrustumBounds f;
        EXPECT_TRUE(frameFrustum(600, 600, s.distance * viewScale(s.distance), &f));
    }
}

// ---------------------------------------------------------------- limits

TEST(Framing, DistanceRangeScalesWithTheFramingSize) {
    const struct {
        float extent;
        double lo, hi;
    } cases[] = {
        {2.0f, 2e-4, 2e4},
        {0.5f, 0.5e-4, 0.5e4},
        {1000.0f, 0.1, 1e7},
        {0.0f, 1e-4, 1e4}, // not yet measured: as for a unit view
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extent);
        resetAllState();
        camera.extent = c.extent;
        double lo = 0, hi = 0;
        distanceRange(&lo, &hi);
        EXPECT_DOUBLE_EQ(lo, c.lo);
        EXPECT_DOUBLE_EQ(hi, c.hi);
    }
}

TEST(Framing, ClampDistanceKeepsThePivotInRange) {
    resetAllState();
    camera.extent = 2.0f;
    const struct {
        float in, out;
    } cases[] = {
        {4.0f, 4.0f},         {0.0002f, 0.0002f},       {19999.0f, 19999.0f},
        {1e-5f, float(2e-4)}, {0.0f, float(2e-4)},      {-0.0f, float(2e-4)},
        {-5.0f, float(2e-4)}, {-INFINITY, float(2e-4)}, {FLT_TRUE_MIN, float(2e-4)},
        {1e6f, 2e4f},         {INFINITY, 2e4f},         {FLT_MAX, 2e4f},
        {NAN, 4.0f}, // the framed view's distance
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(clampDistance(c.in), c.out);
    }
}

// Whatever the model's size and whatever a navigation step asks for, the
// clamped distance, scaled as the frame scales it, gives a projection that can
// be drawn.
TEST(Framing, ClampedDistanceAlwaysGivesAFrustum) {
    const float extents[] = {1e-30f, 1e-3f, 1.0f, 2.828f, 1e6f, 1e30f, FLT_MAX};
    const float asked[] = {0.0f, -1.0f, NAN, INFINITY, -INFINITY, FLT_TRUE_MIN, FLT_MAX, 1.0f};
    for (float extent : extents) {
        for (float d : asked) {
            SCOPED_TRACE(testing::Message() << "extent " << extent << " distance " << d);
            resetAllState();
            camera.extent = extent;
            float clamped = clampDistance(d);
            ASSERT_TRUE(std::isfinite(clamped));
            ASSERT_GT(clamped, 0.0f);
            FrustumBounds f;
            ASSERT_TRUE(frameFrustum(800, 600, clamped * viewScale(clamped), &f));
            EXPECT_LT(f.left, f.right);
            EXPECT_LT(f.bottom, f.top);
            EXPECT_LT(f.nearPlane, f.farPlane);
        }
    }
}

TEST(Framing, ClampEyeKeepsEachCoordinateNearTheModel) {
    resetAllState();
    camera.center = {1.0f, 2.0f, 3.0f};
    camera.extent = 2.0f; // eye within 2e5 of the centre per axis

    Vec3 inside = clampEye({-150000.0f, 7.25f, 200003.0f});
    EXPECT_EQ(inside.x, -150000.0f);
    EXPECT_EQ(inside.y, 7.25f);
    EXPECT_EQ(inside.z, 200003.0f);

    Vec3 far = clampEye({1e9f, -1e9f, 200004.0f});
    EXPECT_EQ(far.x, 200001.0f);
    EXPECT_EQ(far.y, -199998.0f);
    EXPECT_EQ(far.z, 200003.0f);

    Vec3 odd = clampEye({INFINITY, -INFINITY, NAN});
    EXPECT_EQ(odd.x, 200001.0f);
    EXPECT_EQ(odd.y, -199998.0f);
    EXPECT_EQ(odd.z, 3.0f) << "a coordinate that is not a number goes back to the centre";

    // The limit scales with the framing size.
    camera.extent = 0.5f;
    Vec3 small = clampEye({1e9f, 2.0f, 3.0f});
    EXPECT_EQ(small.x, 50001.0f);
}

TEST(Framing, ClampEyeStaysFiniteForAHugeModel) {
    resetAllState();
    camera.center = {0.0f, 0.0f, 0.0f};
    camera.extent = FLT_MAX;
    Vec3 e = clampEye({INFINITY, -INFINITY, FLT_MAX});
    EXPECT_TRUE(std::isfinite(e.x));
    EXPECT_TRUE(std::isfinite(e.y));
    EXPECT_TRUE(std::isfinite(e.z));
    EXPECT_GT(e.x, 0.0f);
    EXPECT_LT(e.y, 0.0f);
}

} // namespace
