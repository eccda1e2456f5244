// The three-float vector that positions, directions and axes are stored in,
// and the few products of three-component vectors the camera and the
// converter take. They work in double, so that no float product overflows
// and every caller rounds once, where it stores the result.
#pragma once

#include <cmath>

struct Vec3 {
    float x, y, z;
};

inline double length3(double x, double y, double z) {
    return std::sqrt(x * x + y * y + z * z);
}

inline double dot3(const double a[3], const double b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

inline void cross3(const double a[3], const double b[3], double out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}
