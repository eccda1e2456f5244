// Turning the view about the pivot point: the eye swings round the pivot at
// the pivot distance, the step is taken in view coordinates, what is returned
// is the rotation stored, and near the float limit the eye stays a number.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "camera/camera_state.h"
#include "camera/pivot_turn.h"
#include "fakes.h"
#include "view_checks.h"

namespace {

TEST(TurnAboutPivot, HalfTurnPutsTheEyeBeyondThePivotLookingBack) {
    resetAllState();
    frameView();
    camera.eye = {1, 2, 13}; // pivot point (1, 2, 3)
    // Half a turn about the view's vertical axis.
    Quaternion q = turnAboutPivot({0, 0, 1, 0});
    expectVec(camera.eye, 1, 2, -7, 1e-5);
    expectVec(pivotOf(camera), 1, 2, 3, 1e-5);
    expectVec(backwardOf(camera), 0, 0, -1, 1e-6);
    EXPECT_EQ(camera.distance, 10.0f);
    EXPECT_NEAR(camera.angle, pi, 1e-6);
    // The rotation handed back is the one stored: (0, 0, +-1, 0).
    EXPECT_NEAR(std::fabs(q.y), 1.0, 1e-6);
    EXPECT_NEAR(q.w, 0.0, 1e-6);
    EXPECT_NEAR(q.y * camera.axis.y, 1.0, 1e-6);
}

TEST(TurnAboutPivot, StepsComposeInViewCoordinates) {
    resetAllState();
    frameView();
    const double s = std::sqrt(0.5);
    // A quarter turn about the view's vertical: the eye swings to -x, looking
    // along +x. Then a quarter turn about the view's horizontal, which is now
    // model +z: the eye rises to +y, looking down. Taken about model axes
    // instead, the second would roll the picture and leave the eye at -x.
    turnAboutPivot({float(s), 0, float(s), 0});
    expectVec(camera.eye, -10, 0, 0, 1e-5);
    Quaternion q = turnAboutPivot({float(s), float(s), 0, 0});
    expectVec(camera.eye, 0, 10, 0, 1e-5);
    // Together a third of a turn about (1, 1, 1), which is what is stored and
    // handed back.
    EXPECT_NEAR(camera.angle, 2 * pi / 3, 1e-6);
    expectVec(camera.axis, 1 / std::sqrt(3.0), 1 / std::sqrt(3.0), 1 / std::sqrt(3.0), 1e-6);
    EXPECT_NEAR(q.w, 0.5, 1e-6);
    EXPECT_NEAR(q.x, 0.5, 1e-6);
    EXPECT_NEAR(q.y, 0.5, 1e-6);
    EXPECT_NEAR(q.z, 0.5, 1e-6);
    expectVec(backwardOf(camera), 0, 1, 0, 1e-6);
    expectVec(pivotOf(camera), 0, 0, 0, 1e-5);
}

// The eye looks along +z from 3e38 at a pivot 3e37 beyond it; half a turn
// would put it 3e37 beyond the pivot, past the float limit.
TEST(TurnAboutPivot, EyeStaysFiniteWhereTheOrbitLeavesFloatRange) {
    resetAllState();
    camera.center = {0, 0, 3.2e38f};
    camera.extent = 1e37f;
    camera.angle = float(pi);
    camera.axis = {0, 1, 0};
    camera.eye = {0, 0, 3e38f};
    camera.distance = 3e37f;
    turnAboutPivot({0, 0, 1, 0});
    EXPECT_TRUE(std::isfinite(camera.eye.x));
    EXPECT_TRUE(std::isfinite(camera.eye.y));
    EXPECT_EQ(camera.eye.z, FLT_MAX);
    expectVec(backwardOf(camera), 0, 0, 1, 1e-6);
}

} // namespace
