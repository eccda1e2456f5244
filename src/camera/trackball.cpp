#include "camera/trackball.h"

#include <cmath>

#include "camera/pivot_turn.h"
#include "camera/trackball_state.h"
#include "platform/perf_clock.h"
#include "window/glut_window.h"

// Ball radius 0.8 in normalised pointer units. The squared radius is the float
// product, one unit in the last place above the float nearest 0.64, and the
// sphere meets the hyperbolic sheet where x^2 + y^2 is half of it.
static constexpr float ballRadius = 0.8f;
static constexpr float ballRadiusSquared = ballRadius * ballRadius;
static constexpr float sheetStart = ballRadiusSquared / 2.0f;

// The pointer is taken this far ahead of where it is, along its motion, so
// that the picture keeps up with the hand: a step turns 0.8 * 2.5 = 2 radians
// per normalised unit of pointer travel.
static constexpr float extrapolation = 1.5f;

// Below this speed (radians per second) a release never spins.
static constexpr float minSpinSpeed = 0.05f;

Vec3 trackballLift(float x, float y) {
    double s = double(x) * x + double(y) * y;
    double z = s < sheetStart ? std::sqrt(ballRadiusSquared - s) : sheetStart / std::sqrt(s);
    return vectorNormalize({x, y, float(z)});
}

void trackballDrag(float prevX, float prevY, float curX, float curY) {
    curX = float(curX + double(extrapolation) * (double(curX) - prevX));
    curY = float(curY + double(extrapolation) * (double(curY) - prevY));

    Quaternion step = {1.0f, 0.0f, 0.0f, 0.0f};
    if (curX != prevX || curY != prevY) {
        Vec3 p1 = trackballLift(prevX, prevY);
        Vec3 p2 = trackballLift(curX, curY);
        // The lifted points give only the axis; the angle follows the planar
        // travel, which keeps the turn rate the same over the whole window.
        const double from[3] = {p1.x, p1.y, p1.z}, to[3] = {p2.x, p2.y, p2.z};
        double axis[3];
        cross3(from, to, axis);
        Vec3 n = vectorNormalize({float(axis[0]), float(axis[1]), float(axis[2])});
        double dx = double(curX) - prevX, dy = double(curY) - prevY;
        float phi = float(double(ballRadius) * std::sqrt(dx * dx + dy * dy));
        step = quaternionFromAngleAxis(phi, n);
    }
    turnAboutPivot(step);

    // The angle actually turned, from the stored w: a step too small to move w
    // in 32 bits counts as no turn.
    float turned = float(2.0 * std::acos(double(step.w)));
    trackball.spinAxis =
        turned == 0.0f ? Vec3{0.0f, 0.0f, 1.0f} : vectorNormalize({step.x, step.y, step.z});

    // Moving average over the speed window: the newest rate enters with weight
    // dt / window, and a gap longer than the window replaces the average.
    uint64_t now = 0;
    double dt = elapsedSeconds(trackball.lastRotationTick, &now);
    if (dt > speedWindowSeconds)
        trackball.angularSpeed = float(turned / dt);
    else
        trackball.angularSpeed = float((1.0 - dt / speedWindowSeconds) * trackball.angularSpeed +
                                       turned / double(speedWindowSeconds));
    trackball.lastRotationTick = now;
    postRedisplay();
}

void trackballRelease() {
    uint64_t now = 0;
    double dt = elapsedSeconds(trackball.lastRotationTick, &now);
    if (dt < speedWindowSeconds && std::fabs(trackball.angularSpeed) > minSpinSpeed)
        trackball.spinning = 1;
}
