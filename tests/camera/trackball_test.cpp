// The trackball: lifting the pointer onto the ball, one drag step about the
// pivot point, the speed estimate behind a fling and the release decision.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "camera/camera_state.h"
#include "camera/trackball.h"
#include "camera/trackball_state.h"
#include "fakes.h"
#include "view_checks.h"

namespace {

double length(Vec3 a, Vec3 b) {
    double dx = double(a.x) - b.x, dy = double(a.y) - b.y, dz = double(a.z) - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

} // namespace

TEST(TrackballLift, KnownPoints) {
    resetAllState();
    struct Case {
        float x, y;
        Vec3 lifted;
    } cases[] = {
        {0, 0, {0, 0, 1}},
        {1, 0, {0.9524f, 0, 0.3048f}}, // on the hyperbolic sheet
        {-1, 0, {-0.9524f, 0, 0.3048f}},
        {0, 1, {0, 0.9524f, 0.3048f}},
        {0.4f, 0.4f, {0.5f, 0.5f, 0.7071f}}, // where sphere and sheet meet
        {0.8f, 0, {0.8f / 0.8944272f, 0, 0.4f / 0.8944272f}},
    };
    for (const Case& c : cases) {
        Vec3 v = trackballLift(c.x, c.y);
        expectVec(v, c.lifted.x, c.lifted.y, c.lifted.z, 1e-4);
        EXPECT_NEAR(length(v, {0, 0, 0}), 1.0, 1e-6);
    }
}

TEST(TrackballLift, ContinuousWhereSphereMeetsSheet) {
    resetAllState();
    // s = x^2 + y^2 on either side of 0.32, a few float steps apart.
    float below = std::nextafter(0.4f, 0.0f), above = std::nextafter(0.4f, 1.0f);
    Vec3 in = trackballLift(below, 0.4f);
    Vec3 out = trackballLift(above, 0.4f);
    EXPECT_NEAR(in.z, out.z, 1e-6);
    EXPECT_NEAR(in.x, out.x, 1e-6);
    // Along the x axis the boundary is at 0.565685.
    float edge = float(std::sqrt(0.320000022649765));
    Vec3 a = trackballLift(std::nextafter(edge, 0.0f), 0);
    Vec3 b = trackballLift(std::nextafter(edge, 1.0f), 0);
    EXPECT_NEAR(a.z, b.z, 1e-6);
    EXPECT_NEAR(a.z, 0.7071, 1e-4);
}

TEST(TrackballLift, StaysInFrontFarOutside) {
    resetAllState();
    Vec3 v = trackballLift(1000, -1000);
    EXPECT_GT(v.z, 0.0f);
    EXPECT_NEAR(length(v, {0, 0, 0}), 1.0, 1e-6);
}

TEST(TrackballDrag, HorizontalStepFromFramedView) {
    resetAllState();
    frameView();
    trackballDrag(-0.1f, 0, 0.1f, 0);
    EXPECT_NEAR(camera.angle, 0.4, 1e-5);
    expectVec(camera.axis, 0, 1, 0, 1e-5);
    expectVec(camera.eye, -3.8942, 0, 9.2106, 1e-4);
    expectVec(pivotOf(camera), 0, 0, 0, 1e-5);
    expectVec(trackball.spinAxis, 0, 1, 0, 1e-5);
    EXPECT_EQ(camera.distance, 10.0f);
}

TEST(TrackballDrag, VerticalStepFromFramedView) {
    resetAllState();
    frameView();
    trackballDrag(0, -0.1f, 0, 0.1f);
    EXPECT_NEAR(camera.angle, 0.4, 1e-5);
    expectVec(camera.axis, -1, 0, 0, 1e-5);
    expectVec(camera.eye, 0, -3.8942, 9.2106, 1e-4);
    expectVec(pivotOf(camera), 0, 0, 0, 1e-5);
    expectVec(trackball.spinAxis, -1, 0, 0, 1e-5);
}

TEST(TrackballDrag, StepActsInViewCoordinates) {
    resetAllState();
    frameView();
    // A quarter turn about y: the eye at (-10, 0, 0) looks along +x. Dragging
    // up swings the eye down the screen, which is still model -y.
    camera.angle = float(pi / 2);
    camera.axis = {0, 1, 0};
    camera.eye = {-10, 0, 0};
    trackballDrag(0, -0.1f, 0, 0.1f);
    expectVec(camera.eye, -9.2106, -3.8942, 0, 1e-4);
    expectVec(pivotOf(camera), 0, 0, 0, 1e-5);
    expectVec(trackball.spinAxis, -1, 0, 0, 1e-5);
}

TEST(TrackballDrag, TurnsAboutAPivotAwayFromTheOrigin) {
    resetAllState();
    frameView();
    camera.eye = {1, 2, 13}; // pivot point (1, 2, 3)
    trackballDrag(-0.1f, 0, 0.1f, 0);
    expectVec(camera.eye, 1 - 3.8942, 2, 3 + 9.2106, 1e-4);
    expectVec(pivotOf(camera), 1, 2, 3, 1e-5);
}

TEST(TrackballDrag, ManyRandomStepsKeepTheEyeOnItsOrbit) {
    resetAllState();
    frameView();
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> pos(-1.5f, 1.5f);
    float x = 0, y = 0;
    for (int i = 0; i < 300; ++i) {
        float nx = pos(rng), ny = pos(rng);
        trackballDrag(x, y, nx, ny);
        x = nx;
        y = ny;
        ASSERT_GE(camera.angle, 0.0f);
        ASSERT_LE(camera.angle, float(2 * pi));
        ASSERT_NEAR(length(pivotOf(camera), {0, 0, 0}), 0.0, 2e-3) << "step " << i;
        ASSERT_NEAR(length(camera.eye, {0, 0, 0}), 10.0, 2e-3) << "step " << i;
        ASSERT_NEAR(length(trackball.spinAxis, {0, 0, 0}), 1.0, 1e-5);
    }
    EXPECT_EQ(fakeWindow.redisplayRequests, 300);
}

TEST(TrackballDrag, StepWithoutMovementKeepsViewAndDecaysSpeed) {
    resetAllState();
    frameView();
    trackballDrag(-0.1f, 0, 0.1f, 0.05f); // some turned view
    CameraState before = camera;
    trackball.angularSpeed = 4.0f;
    trackball.spinAxis = {1, 0, 0};
    lastUpdateAgo(0.05);
    uint64_t now = fakeClock.counter;

    trackballDrag(0.3f, 0.2f, 0.3f, 0.2f);
    EXPECT_EQ(fakeWindow.redisplayRequests, 2); // still a full step
    EXPECT_NEAR(camera.angle, before.angle, 1e-5);
    expectVec(camera.axis, before.axis.x, before.axis.y, before.axis.z, 1e-5);
    expectVec(camera.eye, before.eye.x, before.eye.y, before.eye.z, 1e-5);
    expectVec(trackball.spinAxis, 0, 0, 1, 0.0);
    EXPECT_NEAR(trackball.angularSpeed, 4.0 * (1 - 0.05 / 0.2), 1e-5);
    EXPECT_EQ(trackball.lastRotationTick, now);

    // A rest longer than the window drops the speed to nothing.
    lastUpdateAgo(0.3);
    trackballDrag(0.3f, 0.2f, 0.3f, 0.2f);
    EXPECT_EQ(trackball.angularSpeed, 0.0f);
}

TEST(TrackballDrag, HugeJumpKeepsAngleInRange) {
    resetAllState();
    frameView();
    const float jumps[][4] = {{0, 0, 1000, -700}, {0, 0, -3, 2}, {5, 5, -5, -5}, {0, 0, 1e6f, 0}};
    for (const auto& j : jumps) {
        trackballDrag(j[0], j[1], j[2], j[3]);
        EXPECT_TRUE(std::isfinite(camera.angle));
        EXPECT_GE(camera.angle, 0.0f);
        EXPECT_LE(camera.angle, float(2 * pi));
        EXPECT_NEAR(length(camera.eye, pivotOf(camera)), 10.0, 1e-4);
        EXPECT_NEAR(length(pivotOf(camera), {0, 0, 0}), 0.0, 1e-4);
    }
}

TEST(TrackballSpeed, AveragesTowardTheStepRate) {
    resetAllState();
    frameView();
    lastUpdateAgo(0);
    // Each step turns 0.4 radians, 0.01 s after the previous one.
    advanceClock(0.01);
    trackballDrag(-0.1f, 0, 0.1f, 0);
    EXPECT_NEAR(trackball.angularSpeed, 2.0, 1e-4);
    EXPECT_EQ(trackball.lastRotationTick, fakeClock.counter);
    advanceClock(0.01);
    trackballDrag(-0.1f, 0, 0.1f, 0);
    EXPECT_NEAR(trackball.angularSpeed, 3.9, 1e-4);
    for (int i = 0; i < 500; ++i) {
        advanceClock(0.01);
        trackballDrag(-0.1f, 0, 0.1f, 0);
    }
    EXPECT_NEAR(trackball.angularSpeed, 40.0, 1e-3);
}

TEST(TrackballSpeed, LongGapReplacesTheAverage) {
    resetAllState();
    for (float previous : {0.0f, 0.8f, 25.0f}) {
        frameView();
        trackball.angularSpeed = previous;
        lastUpdateAgo(0.5);
        trackballDrag(-0.1f, 0, 0.1f, 0);
        EXPECT_NEAR(trackball.angularSpeed, 0.8, 1e-5) << "from " << previous;
    }
}

TEST(TrackballSpeed, BranchesMeetAtTheWindow) {
    resetAllState();
    frameView();
    const double gaps[] = {0.199999, 0.2, 0.200001};
    float speeds[3];
    for (int i = 0; i < 3; ++i) {
        trackball.angularSpeed = 30.0f;
        lastUpdateAgo(gaps[i]);
        trackballDrag(-0.1f, 0, 0.1f, 0);
        speeds[i] = trackball.angularSpeed;
    }
    // 0.4 / 0.2 on both sides; the old 30 has almost no weight left below.
    EXPECT_NEAR(speeds[0], 2.0, 1e-3);
    EXPECT_NEAR(speeds[1], 2.0, 1e-5);
    EXPECT_NEAR(speeds[2], 2.0, 1e-3);
}

TEST(TrackballSpeed, FirstDragOfTheProcessIsNearlyStill) {
    resetAllState();
    frameView();
    ASSERT_EQ(trackball.lastRotationTick, 0u);
    trackballDrag(-0.1f, 0, 0.1f, 0);
    // Measured from the counter's origin, a day back.
    EXPECT_GT(trackball.angularSpeed, 0.0f);
    EXPECT_NEAR(trackball.angularSpeed, 0.4 / 86400.0, 1e-8);
}

TEST(TrackballRelease, SpinsOnlyAfterARecentFastEnoughStep) {
    struct Case {
        const char* name;
        double sinceLastStep;
        float speed;
        bool spins;
    } cases[] = {
        {"recent and fast", 0.1, 1.0f, true},
        {"too late", 0.25, 1.0f, false},
        {"at the speed floor", 0.1, 0.05f, false},
        {"just above the floor", 0.1, 0.0501f, true},
        {"no speed", 0.0, 0.0f, false},
        {"just under the window", 0.199, 3.0f, true},
    };
    for (const Case& c : cases) {
        resetAllState();
        frameView();
        trackball.angularSpeed = c.speed;
        lastUpdateAgo(c.sinceLastStep);
        uint64_t tick = trackball.lastRotationTick;
        CameraState before = camera;
        trackballRelease();
        EXPECT_EQ(trackball.spinning, c.spins ? 1 : 0) << c.name;
        // The decision only reads: speed, tick and view are left alone.
        EXPECT_EQ(trackball.angularSpeed, c.speed) << c.name;
        EXPECT_EQ(trackball.lastRotationTick, tick) << c.name;
        EXPECT_EQ(camera.eye.z, before.eye.z) << c.name;
        EXPECT_EQ(fakeWindow.redisplayRequests, 0) << c.name;
    }
}

TEST(TrackballRelease, ThresholdIsTheFloatTwoTenths) {
    // The float 0.2 is 200000002.98 ns, so exactly 0.2 s still spins.
    struct Case {
        uint64_t nanoseconds;
        bool spins;
    } cases[] = {{200000000ull, true}, {200000002ull, true}, {200000003ull, false}};
    for (const Case& c : cases) {
        resetAllState();
        trackball.angularSpeed = 1.0f;
        trackball.lastRotationTick = fakeClock.counter;
        fakeClock.counter += c.nanoseconds;
        trackballRelease();
        EXPECT_EQ(trackball.spinning, c.spins ? 1 : 0) << c.nanoseconds;
    }
}

TEST(TrackballRelease, NeverSpinsWithoutAClock) {
    resetAllState();
    fakeClock.available = false;
    frameView();
    trackball.lastRotationTick = fakeClock.counter;
    advanceClock(0.01);
    trackballDrag(-0.1f, 0, 0.1f, 0);
    // Every elapsed time reads as one second: the step's angle per second.
    EXPECT_NEAR(trackball.angularSpeed, 0.4, 1e-5);
    trackball.angularSpeed = 100.0f;
    trackballRelease();
    EXPECT_EQ(trackball.spinning, 0);
}
