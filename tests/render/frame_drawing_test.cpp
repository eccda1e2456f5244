// The projection of one frame: a fixed angle across the window's diagonal, the
// split between width and height following the window, and a depth range
// around the pivot distance.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>

#include "render/frame_drawing.h"

namespace {

TEST(FrameFrustum, SquareWindow) {
    FrustumBounds f;
    ASSERT_TRUE(frameFrustum(500, 500, 20.0f, &f));
    EXPECT_EQ(f.nearPlane, 1.0f);
    EXPECT_EQ(f.farPlane, 400.0f);
    EXPECT_FLOAT_EQ(f.top, 0.25f);
    EXPECT_FLOAT_EQ(f.right, 0.25f);
    EXPECT_EQ(f.top, f.right);
    EXPECT_EQ(f.bottom, -f.top);
    EXPECT_EQ(f.left, -f.right);
}

TEST(FrameFrustum, FourByThreeWindow) {
    FrustumBounds f;
    ASSERT_TRUE(frameFrustum(800, 600, 20.0f, &f));
    EXPECT_EQ(f.nearPlane, 1.0f);
    EXPECT_EQ(f.farPlane, 400.0f);
    EXPECT_FLOAT_EQ(f.top, 0.2121320f);
    EXPECT_FLOAT_EQ(f.right, 0.2828427f);
    EXPECT_EQ(f.bottom, -f.top);
    EXPECT_EQ(f.left, -f.right);
}

TEST(FrameFrustum, DepthRangeFollowsTheDistance) {
    const struct {
        float distance, nearPlane, farPlane;
    } cases[] = {
        {1.0f, 0.05f, 20.0f},
        {0.002f, 0.0001f, 0.04f},
        {15.656f, 15.656f / 20.0f, 313.12f},
        {1e30f, 5e28f, 2e31f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.distance);
        FrustumBounds f;
        ASSERT_TRUE(frameFrustum(640, 480, c.distance, &f));
        EXPECT_FLOAT_EQ(f.nearPlane, c.nearPlane);
        EXPECT_FLOAT_EQ(f.farPlane, c.farPlane);
        // The window scales with the near plane: same angle at every distance.
        EXPECT_NEAR(f.top / f.nearPlane, 0.6 * 0.5 * 0.70710677, 1e-6);
    }
}

// Whatever the window's shape, the view spans the same angle across its
// diagonal, and a pixel covers as much height as width.
TEST(FrameFrustum, DiagonalAngleIsTheSameForEveryWindowShape) {
    const struct {
        int w, h;
    } windows[] = {
        {500, 500}, {800, 600}, {1920, 1080}, {600, 800}, {1, 1},
        {4000, 10}, {10, 4000}, {1, 3000},    {7, 5},     {INT_MAX, INT_MAX},
    };
    const double pi = 3.14159265358979323846;
    for (const auto& win : windows) {
        for (float distance : {20.0f, 0.37f, 5000.0f}) {
            SCOPED_TRACE(testing::Message() << win.w << " x " << win.h << " at " << distance);
            FrustumBounds f;
            ASSERT_TRUE(frameFrustum(win.w, win.h, distance, &f));
            double halfDiagonal = std::hypot(double(f.top), double(f.right)) / f.nearPlane;
            EXPECT_NEAR(halfDiagonal, 0.35355339, 0.35355339 * 1e-6);
            EXPECT_NEAR(2.0 * std::atan(halfDiagonal) * 180.0 / pi, 38.94, 0.005);
            double aspect = double(win.w) / double(win.h);
            EXPECT_NEAR(double(f.right) / double(f.top), aspect, aspect * 1e-6);
            EXPECT_GT(f.top, 0.0f);
            EXPECT_GT(f.right, 0.0f);
            EXPECT_EQ(f.bottom, -f.top);
            EXPECT_EQ(f.left, -f.right);
        }
    }
}

// Any of these would hand GL a projection it rejects or one without numbers.
TEST(FrameFrustum, NoProjectionWithoutAreaOrDepthRange) {
    const struct {
        const char* why;
        int w, h;
        float distance;
    } cases[] = {
        {"zero width", 0, 600, 20.0f},
        {"zero height", 800, 0, 20.0f},
        {"zero size (minimised)", 0, 0, 20.0f},
        {"negative width", -800, 600, 20.0f},
        {"negative height", 800, -600, 20.0f},
        {"both negative", -800, -600, 20.0f},
        {"distance zero", 800, 600, 0.0f},
        {"distance negative zero", 800, 600, -0.0f},
        {"negative distance", 800, 600, -20.0f},
        {"NaN distance", 800, 600, NAN},
        {"infinite distance", 800, 600, INFINITY},
        {"negative infinite distance", 800, 600, -INFINITY},
        {"far plane overflows", 800, 600, 1e38f},
        {"largest float", 800, 600, FLT_MAX},
        {"near plane underflows to zero", 800, 600, FLT_TRUE_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        FrustumBounds f;
        EXPECT_FALSE(frameFrustum(c.w, c.h, c.distance, &f));
    }
}

// Ordinary distances are drawn as they are; beyond 2^20 either way the scene
// is scaled by a power of two (exact in every product) that brings the
// distance to between 1 and 2, so GL's single-precision projection has room.
TEST(ViewScale, OnlyDistancesFarFromOneAreScaledAndThenByAPowerOfTwo) {
    const float unscaled[] = {1.0f, 20.0f, 0x1p20f, 0x1.fffffep20f, 0x1p-20f, 7.656f, 1e-6f};
    for (float d : unscaled) {
        SCOPED_TRACE(d);
        EXPECT_EQ(viewScale(d), 1.0f);
    }
    const struct {
        float distance, scale;
    } scaled[] =
        {
            {0x1p21f, 0x1p-21f},      {3e20f, 0x1p-68f},  {FLT_MAX, 0x1p-127f},
            {0x1.8p-21f, 0x1p21f},    {1e-30f, 0x1p100f}, {FLT_MIN, 0x1p126f},
            {FLT_TRUE_MIN, 0x1p126f}, // as far as a float scale reaches
        };
    for (const auto& c : scaled) {
        SCOPED_TRACE(c.distance);
        EXPECT_EQ(viewScale(c.distance), c.scale);
        float d = c.distance * c.scale;
        if (c.distance >= FLT_MIN) {
            EXPECT_GE(d, 1.0f);
            EXPECT_LT(d, 2.0f);
        }
        FrustumBounds f;
        EXPECT_TRUE(frameFrustum(800, 600, d, &f));
    }
    // Nothing to scale: frameFrustum refuses these anyway.
    for (float d : {0.0f, -5.0f, NAN, INFINITY})
        EXPECT_EQ(viewScale(d), 1.0f);
}

TEST(FrameFrustum, LargestDistanceWhoseFarPlaneFits) {
    FrustumBounds f;
    ASSERT_TRUE(frameFrustum(800, 600, FLT_MAX / 32.0f, &f));
    EXPECT_TRUE(std::isfinite(f.farPlane));
    EXPECT_GT(f.top, 0.0f);
}

} // namespace
