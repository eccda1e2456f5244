// The idle callback: resting without work, and the spin step that keeps a
// flung turn going about a fixed screen-space axis at a constant rate.
#include <gtest/gtest.h>

#include <cmath>

#include "camera/camera_state.h"
#include "camera/idle_animation.h"
#include "camera/trackball.h"
#include "camera/trackball_state.h"
#include "fakes.h"
#include "platform/perf_clock.h"
#include "view_checks.h"

namespace {

const float quarterTurn = 1.5707964f; // pi / 2 as a float

// Spinning at `speed` about `axis`; the last rotation update was just now.
void startSpin(float speed, Vec3 axis) {
    trackball.spinning = 1;
    trackball.angularSpeed = speed;
    trackball.spinAxis = axis;
    trackball.lastRotationTick = fakeClock.counter;
}

void spinFor(double seconds) {
    advanceClock(seconds);
    idleCallback();
}

} // namespace

TEST(IdleCallback, RestingSleepsAndChangesNothing) {
    resetAllState();
    frameView();
    trackball = {0, 3.0f, {0, 1, 0}, 777};
    advanceClock(1.0);
    idleCallback();
    EXPECT_EQ(fakeClock.sleeps, 1);
    EXPECT_EQ(fakeClock.lastSleepMilliseconds, 10u);
    EXPECT_EQ(fakeClock.frequencyQueries, 0);
    EXPECT_EQ(perfClock.frequencyQueried, 0);
    EXPECT_EQ(fakeWindow.redisplayRequests, 0);
    EXPECT_EQ(trackball.lastRotationTick, 777u);
    expectVec(camera.eye, 0, 0, 10, 0.0);
    EXPECT_EQ(camera.angle, 0.0f);
    EXPECT_EQ(camera.distance, 10.0f);
}

TEST(IdleCallback, SpinningDoesNotSleep) {
    resetAllState();
    frameView();
    startSpin(1.0f, {0, 1, 0});
    for (int i = 0; i < 3; ++i)
        spinFor(0.01);
    EXPECT_EQ(fakeClock.sleeps, 0);
    EXPECT_EQ(fakeWindow.redisplayRequests, 3);
    EXPECT_EQ(trackball.lastRotationTick, fakeClock.counter);
}

TEST(IdleCallback, QuarterTurnAboutEachViewAxis) {
    struct Case {
        Vec3 spinAxis;
        Vec3 axis, eye;
    } cases[] = {
        {{0, 1, 0}, {0, 1, 0}, {-10, 0, 0}}, // the eye ends up looking along +x
        {{1, 0, 0}, {1, 0, 0}, {0, 10, 0}},
        {{0, 0, 1}, {0, 0, 1}, {0, 0, 10}}, // a roll in place
    };
    for (const Case& c : cases) {
        resetAllState();
        frameView();
        startSpin(quarterTurn, c.spinAxis);
        spinFor(1.0);
        EXPECT_NEAR(camera.angle, 1.5708, 1e-4);
        expectVec(camera.axis, c.axis.x, c.axis.y, c.axis.z, 1e-6);
        expectVec(camera.eye, c.eye.x, c.eye.y, c.eye.z, 1e-5);
        expectVec(pivotOf(camera), 0, 0, 0, 1e-5);
        EXPECT_EQ(fakeWindow.redisplayRequests, 1);
    }
}

TEST(IdleCallback, PivotAwayFromTheOrigin) {
    resetAllState();
    frameView();
    camera.eye = {1, 2, 13}; // pivot point (1, 2, 3)
    startSpin(quarterTurn, {0, 1, 0});
    spinFor(1.0);
    expectVec(camera.eye, -9, 2, 3, 1e-5);
    expectVec(pivotOf(camera), 1, 2, 3, 1e-5);
}

TEST(IdleCallback, AxisIsInViewCoordinates) {
    struct Case {
        Vec3 spinAxis;
        double angle;
        Vec3 axis, eye;
    } cases[] = {
        // Looking along +x, a turn about the screen's x axis swings the eye up.
        {{1, 0, 0}, 2 * pi / 3, {0.5774f, 0.5774f, 0.5774f}, {0, 10, 0}},
        {{0, 1, 0}, pi, {0, 1, 0}, {0, 0, -10}},
    };
    for (const Case& c : cases) {
        resetAllState();
        frameView();
        camera.angle = quarterTurn;
        camera.axis = {0, 1, 0};
        camera.eye = {-10, 0, 0};
        startSpin(quarterTurn, c.spinAxis);
        spinFor(1.0);
        EXPECT_NEAR(camera.angle, c.angle, 1e-4);
        expectVec(camera.axis, c.axis.x, c.axis.y, c.axis.z, 1e-4);
        expectVec(camera.eye, c.eye.x, c.eye.y, c.eye.z, 1e-4);
    }
}

TEST(IdleCallback, PastAFullTurnTheStoredAngleFoldsBack) {
    resetAllState();
    frameView();
    startSpin(float(2 * pi + 0.1), {0, 1, 0});
    spinFor(1.0);
    EXPECT_NEAR(camera.angle, 6.1832, 1e-4);
    expectVec(camera.axis, 0, -1, 0, 1e-5);
    expectVec(camera.eye, -0.9983, 0, 9.95, 1e-4);
}

TEST(IdleCallback, LongSpinKeepsTheAngleInRangeAndTheEyeOnItsOrbit) {
    resetAllState();
    frameView();
    camera.eye = {1, 2, 13};
    startSpin(2.7f, {0.6f, 0, 0.8f});
    for (int i = 0; i < 200; ++i) {
        spinFor(0.37);
        ASSERT_GE(camera.angle, 0.0f);
        ASSERT_LE(camera.angle, float(2 * pi));
        Vec3 p = pivotOf(camera);
        ASSERT_NEAR(p.x, 1, 2e-3) << i;
        ASSERT_NEAR(p.y, 2, 2e-3) << i;
        ASSERT_NEAR(p.z, 3, 2e-3) << i;
    }
    // The spin itself is never damped.
    EXPECT_EQ(trackball.angularSpeed, 2.7f);
    expectVec(trackball.spinAxis, 0.6f, 0, 0.8f, 0.0);
    EXPECT_EQ(trackball.spinning, 1);
}

TEST(IdleCallback, TwoHalfStepsEqualOneWholeStep) {
    resetAllState();
    frameView();
    camera.angle = 0.3f;
    camera.axis = {1, 0, 0};
    camera.eye = {0, 10 * std::sin(0.3f), 10 * std::cos(0.3f)};
    CameraState start = camera;
    startSpin(1.3f, {0.6f, 0.8f, 0});
    spinFor(1.0);
    CameraState whole = camera;

    camera = start;
    startSpin(1.3f, {0.6f, 0.8f, 0});
    spinFor(0.5);
    spinFor(0.5);
    EXPECT_NEAR(camera.angle, whole.angle, 1e-5);
    expectVec(camera.axis, whole.axis.x, whole.axis.y, whole.axis.z, 1e-5);
    expectVec(camera.eye, whole.eye.x, whole.eye.y, whole.eye.z, 1e-4);
}

TEST(IdleCallback, ZeroElapsedTimeKeepsTheViewAndStillRedraws) {
    resetAllState();
    frameView();
    camera.angle = 0.9f;
    camera.axis = {0, 0.6f, 0.8f};
    camera.eye = {-5, 1, 7};
    CameraState before = camera;
    startSpin(3.0f, {1, 0, 0});
    uint64_t tick = trackball.lastRotationTick;
    idleCallback();
    EXPECT_NEAR(camera.angle, before.angle, 1e-6);
    expectVec(camera.axis, before.axis.x, before.axis.y, before.axis.z, 1e-6);
    expectVec(camera.eye, before.eye.x, before.eye.y, before.eye.z, 1e-5);
    EXPECT_EQ(trackball.lastRotationTick, tick);
    EXPECT_EQ(fakeWindow.redisplayRequests, 1);
}

TEST(IdleCallback, StepCoversTheTimeSinceTheLastRotationUpdate) {
    resetAllState();
    frameView();
    // The release came 0.1 s after the last drag step and the first idle call
    // another 0.15 s later: the first step turns for the whole 0.25 s.
    startSpin(2.0f, {0, 1, 0});
    advanceClock(0.1);
    trackballRelease();
    ASSERT_EQ(trackball.spinning, 1);
    spinFor(0.15);
    EXPECT_NEAR(camera.angle, 0.5, 1e-5);
}

TEST(IdleCallback, WithoutAClockEachStepCountsAsOneSecond) {
    resetAllState();
    fakeClock.available = false;
    frameView();
    startSpin(0.5f, {0, 1, 0});
    idleCallback();
    EXPECT_NEAR(camera.angle, 0.5, 1e-5);
    idleCallback();
    EXPECT_NEAR(camera.angle, 1.0, 1e-5);
    EXPECT_EQ(fakeClock.frequencyQueries, 1);
}
