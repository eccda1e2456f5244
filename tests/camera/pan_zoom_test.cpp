// Pan and zoom: moves in units of the pivot distance along the view's own
// frame, the fixed pivot under a zoom, and the range the navigation keeps the
// distance and the eye in.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "camera/camera_state.h"
#include "camera/pan_zoom.h"
#include "camera/trackball_state.h"
#include "fakes.h"
#include "view_checks.h"

namespace {} // namespace

TEST(MoveCamera, PanMovesAgainstThePointerByPivotDistance) {
    resetAllState();
    frameView(10);
    moveCamera(0.1f, 0.2f, 0);
    expectVec(camera.eye, -0.35355, -0.70711, 10, 1e-5);
    EXPECT_EQ(camera.distance, 10.0f);
    EXPECT_EQ(fakeWindow.redisplayRequests, 1);
}

TEST(MoveCamera, PanFollowsTheTurnedView) {
    resetAllState();
    frameView(10);
    // Turned a quarter about y the eye looks along +x: the view's right is
    // model +z, up stays +y.
    camera.angle = float(pi / 2);
    camera.axis = {0, 1, 0};
    camera.eye = {-10, 0, 0};
    moveCamera(0.1f, 0.2f, 0);
    expectVec(camera.eye, -10, -0.70711, -0.35355, 1e-5);
    // The pivot travels with the eye.
    expectVec(pivotOf(camera), 0, -0.70711, -0.35355, 1e-5);
}

TEST(MoveCamera, ZoomKeepsThePivotFixed) {
    resetAllState();
    frameView(7.5f);
    moveCamera(0, 0, 0.05f);
    EXPECT_NEAR(camera.distance, 6.7020, 1e-4);
    expectVec(camera.eye, 0, 0, 7.5 - 0.7980, 1e-4);
    expectVec(pivotOf(camera), 0, 0, 0, 1e-6);
}

TEST(MoveCamera, ZoomStepFactors) {
    resetAllState();
    struct Case {
        float dz;
        double factor;
    } cases[] = {
        {zoomStep, 0.8936}, {-zoomStep, 1.1191}, {0.5f, std::exp(-1.125)}, {-1.0f, std::exp(2.25)}};
    for (const Case& c : cases) {
        frameView(10);
        moveCamera(0, 0, c.dz);
        EXPECT_NEAR(camera.distance, 10 * c.factor, 1e-3) << c.dz;
        EXPECT_NEAR(camera.eye.z, 10 * c.factor, 1e-3) << c.dz;
    }
}

TEST(MoveCamera, ZoomAlongATurnedLineOfSight) {
    resetAllState();
    frameView(10);
    camera.angle = 2.0f;
    camera.axis = {0.3f, -0.8f, 0.52f};
    camera.eye = {4, -1, 2};
    Vec3 pivot = pivotOf(camera);
    moveCamera(0, 0, 0.3f);
    EXPECT_NEAR(camera.distance, 10 * std::exp(-0.675), 1e-4);
    expectVec(pivotOf(camera), pivot.x, pivot.y, pivot.z, 1e-5);
    EXPECT_EQ(camera.angle, 2.0f); // the rotation is left alone
}

TEST(MoveCamera, ZoomInThenOutRestores) {
    resetAllState();
    frameView(10);
    camera.angle = 0.7f;
    camera.axis = {1, 1, 0};
    camera.eye = {3, -3, 7};
    CameraState before = camera;
    for (float dz : {0.05f, 0.4f, 1.3f}) {
        moveCamera(0, 0, dz);
        moveCamera(0, 0, -dz);
        EXPECT_NEAR(camera.distance, before.distance, 1e-5) << dz;
        expectVec(camera.eye, before.eye.x, before.eye.y, before.eye.z, 1e-5);
    }
}

TEST(MoveCamera, NonUnitAxisGivesTheSameFrame) {
    resetAllState();
    frameView(10);
    camera.angle = 1.1f;
    camera.axis = {0.6f, 0, 0.8f};
    camera.eye = {1, 2, 3};
    moveCamera(0.3f, -0.2f, 0.1f);
    CameraState unit = camera;

    frameView(10);
    camera.angle = 1.1f;
    camera.axis = {3, 0, 4};
    camera.eye = {1, 2, 3};
    moveCamera(0.3f, -0.2f, 0.1f);
    expectVec(camera.eye, unit.eye.x, unit.eye.y, unit.eye.z, 1e-6);
    EXPECT_NEAR(camera.distance, unit.distance, 1e-6);
}

TEST(MoveCamera, NoMoveStillRedraws) {
    resetAllState();
    frameView(10);
    camera.eye = {1, 2, 13};
    moveCamera(0, 0, 0);
    expectVec(camera.eye, 1, 2, 13, 0.0);
    EXPECT_EQ(camera.distance, 10.0f);
    EXPECT_EQ(fakeWindow.redisplayRequests, 1);
}

TEST(MoveCamera, LeavesTheTrackballAlone) {
    resetAllState();
    frameView(10);
    trackball = {1, 2.5f, {0, 1, 0}, 12345};
    moveCamera(0.2f, 0.1f, 0.3f);
    EXPECT_EQ(trackball.spinning, 1);
    EXPECT_EQ(trackball.angularSpeed, 2.5f);
    EXPECT_EQ(trackball.spinAxis.y, 1.0f);
    EXPECT_EQ(trackball.lastRotationTick, 12345u);
}

TEST(MoveCamera, HugeZoomStopsAtTheEndOfTheRange) {
    resetAllState();
    // Framing size 5: the distance is kept within [5e-4, 5e4].
    struct Case {
        float dz;
        double expected;
    } cases[] = {{-1e6f, 5e4}, {1e6f, 5e-4}, {-100.0f, 5e4}, {100.0f, 5e-4}};
    int calls = 0;
    for (const Case& c : cases) {
        frameView(10);
        moveCamera(0, 0, c.dz);
        ++calls;
        EXPECT_TRUE(std::isfinite(camera.distance)) << c.dz;
        EXPECT_GT(camera.distance, 0.0f) << c.dz;
        // The near end is reached from 10 in float steps of about 1e-6.
        EXPECT_NEAR(camera.distance, c.expected, std::fmax(c.expected * 1e-6, 1e-6)) << c.dz;
        EXPECT_TRUE(std::isfinite(camera.eye.z)) << c.dz;
        expectVec(pivotOf(camera), 0, 0, 0, 1e-5);
        EXPECT_EQ(fakeWindow.redisplayRequests, calls);
    }
}

TEST(MoveCamera, ZoomFromTheRangeEndCannotGoFurther) {
    resetAllState();
    frameView(10);
    moveCamera(0, 0, -1e6f);
    float far = camera.distance;
    moveCamera(0, 0, -zoomStep);
    EXPECT_EQ(camera.distance, far);
    moveCamera(0, 0, zoomStep);
    EXPECT_NEAR(camera.distance, far * 0.8936, far * 1e-4);
}

TEST(MoveCamera, NaNZoomLeavesTheDistance) {
    resetAllState();
    frameView(10);
    moveCamera(0, 0, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(camera.distance, 10.0f);
    expectVec(camera.eye, 0, 0, 10, 0.0);
}

TEST(MoveCamera, PanKeepsTheEyeNearTheModel) {
    resetAllState();
    frameView(10);
    camera.center = {1, -2, 3};
    // The eye stays within 1e5 framing sizes (5e5) of the centre on each axis.
    moveCamera(1e10f, -1e10f, 0);
    EXPECT_EQ(camera.eye.x, float(1 - 5e5));
    EXPECT_EQ(camera.eye.y, float(-2 + 5e5));
    EXPECT_EQ(camera.eye.z, 10.0f);
    EXPECT_EQ(camera.distance, 10.0f);
    // Repeated far pans cannot push it further.
    for (int i = 0; i < 10; ++i)
        moveCamera(1e30f, 0, 0);
    EXPECT_EQ(camera.eye.x, float(1 - 5e5));
    EXPECT_TRUE(std::isfinite(camera.eye.y));
}

TEST(ClampDistance, KeepsWithinTheRangeAndReplacesNaN) {
    resetAllState();
    camera.extent = 5;
    double lo = 0, hi = 0;
    distanceRange(&lo, &hi);
    EXPECT_NEAR(lo, 5e-4, 1e-12);
    EXPECT_NEAR(hi, 5e4, 1e-8);
    struct Case {
        float in, out;
    } cases[] = {
        {7.0f, 7.0f},
        {0.0f, 5e-4f},
        {-3.0f, 5e-4f},
        {1e9f, 5e4f},
        {std::numeric_limits<float>::infinity(), 5e4f},
        {std::numeric_limits<float>::quiet_NaN(), 10.0f}, // the framed view's distance
    };
    for (const Case& c : cases)
        EXPECT_NEAR(clampDistance(c.in), c.out, c.out * 1e-6) << c.in;
}
