// Shared ground for the navigation tests: the start view they begin from, and
// the view's directions worked out independently of the quaternion code.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "camera/camera_state.h"
#include "camera/trackball_state.h"
#include "fakes.h"

constexpr double pi = 3.14159265358979323846;

// The start view of a model of framing size 5 centred at the origin, with the
// eye `distance` in front of it.
inline void frameView(float distance = 10.0f) {
    camera.center = {0, 0, 0};
    camera.extent = 5;
    camera.eye = {0, 0, distance};
    camera.angle = 0;
    camera.axis = {0, 0, 1};
    camera.distance = distance;
}

// Every field of the two views is the same float, bit for bit.
inline void expectSameView(const CameraState& a, const CameraState& b) {
    EXPECT_EQ(a.center.x, b.center.x);
    EXPECT_EQ(a.center.y, b.center.y);
    EXPECT_EQ(a.center.z, b.center.z);
    EXPECT_EQ(a.extent, b.extent);
    EXPECT_EQ(a.eye.x, b.eye.x);
    EXPECT_EQ(a.eye.y, b.eye.y);
    EXPECT_EQ(a.eye.z, b.eye.z);
    EXPECT_EQ(a.angle, b.angle);
    EXPECT_EQ(a.axis.x, b.axis.x);
    EXPECT_EQ(a.axis.y, b.axis.y);
    EXPECT_EQ(a.axis.z, b.axis.z);
    EXPECT_EQ(a.distance, b.distance);
}

inline void expectVec(Vec3 v, double x, double y, double z, double tol) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

// A direction `v` of the view in model coordinates, by Rodrigues' formula
// rather than the code under test: v turned by -angle about the axis.
inline Vec3 modelDirectionOf(const CameraState& c, Vec3 v) {
    double n = std::sqrt(double(c.axis.x) * c.axis.x + double(c.axis.y) * c.axis.y +
                         double(c.axis.z) * c.axis.z);
    double kx = c.axis.x / n, ky = c.axis.y / n, kz = c.axis.z / n;
    double cs = std::cos(-double(c.angle)), sn = std::sin(-double(c.angle));
    double along = (kx * v.x + ky * v.y + kz * v.z) * (1 - cs);
    return {float(v.x * cs + (ky * v.z - kz * v.y) * sn + kx * along),
            float(v.y * cs + (kz * v.x - kx * v.z) * sn + ky * along),
            float(v.z * cs + (kx * v.y - ky * v.x) * sn + kz * along)};
}

// Backward (the view's +z) in model coordinates.
inline Vec3 backwardOf(const CameraState& c) {
    return modelDirectionOf(c, {0, 0, 1});
}

// The point straight ahead of the eye at the pivot distance.
inline Vec3 pivotOf(const CameraState& c) {
    Vec3 b = backwardOf(c);
    return {float(c.eye.x - double(c.distance) * b.x), float(c.eye.y - double(c.distance) * b.y),
            float(c.eye.z - double(c.distance) * b.z)};
}

// The last rotation update happened `secondsAgo` before the clock's reading.
inline void lastUpdateAgo(double secondsAgo) {
    trackball.lastRotationTick =
        fakeClock.counter - uint64_t(std::llround(secondsAgo * double(fakeClock.frequency)));
}
