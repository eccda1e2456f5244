#include "camera/quaternion.h"

#include <cmath>

Quaternion quaternionFromAngleAxis(double angle, Vec3 axis) {
    double half = angle * 0.5;
    double s = std::sin(half);
    double n = length3(axis.x, axis.y, axis.z);
    return {float(std::cos(half)), float(axis.x * s / n), float(axis.y * s / n),
            float(axis.z * s / n)};
}

Quaternion quaternionMultiply(Quaternion a, Quaternion b) {
    double aw = a.w, ax = a.x, ay = a.y, az = a.z;
    double bw = b.w, bx = b.x, by = b.y, bz = b.z;
    return {
        float(aw * bw - ax * bx - ay * by - az * bz), float(aw * bx + ax * bw + ay * bz - az * by),
        float(aw * by - ax * bz + ay * bw + az * bx), float(aw * bz + ax * by - ay * bx + az * bw)};
}

Quaternion quaternionNormalize(Quaternion q) {
    double w = q.w, x = q.x, y = q.y, z = q.z;
    double n = std::sqrt(w * w + x * x + y * y + z * z);
    if (n == 0.0)
        return {1.0f, 0.0f, 0.0f, 0.0f};
    return {float(w / n), float(x / n), float(y / n), float(z / n)};
}

Vec3 vectorNormalize(Vec3 v) {
    double n = length3(v.x, v.y, v.z);
    if (n == 0.0)
        return {0.0f, 0.0f, 1.0f};
    return {float(v.x / n), float(v.y / n), float(v.z / n)};
}

Vec3 quaternionTurn(Quaternion q, Vec3 v) {
    double n = length3(v.x, v.y, v.z);
    if (n == 0.0)
        return v;
    Quaternion r = quaternionNormalize(quaternionMultiply(q, {0.0f, v.x, v.y, v.z}));
    r = quaternionNormalize(quaternionMultiply(r, {q.w, -q.x, -q.y, -q.z}));
    Vec3 u = vectorNormalize({r.x, r.y, r.z});
    return {float(n * u.x), float(n * u.y), float(n * u.z)};
}

Vec3 quaternionInverseTurn(Quaternion q, Vec3 v) {
    return quaternionTurn({-q.w, q.x, q.y, q.z}, v);
}

void quaternionToAngleAxis(Quaternion q, float* angle, Vec3* axis) {
    // A normalised w cannot leave [-1, 1] in exact arithmetic; the clamp keeps
    // a last-bit excess from turning the angle into NaN.
    double w = q.w > 1.0f ? 1.0 : q.w < -1.0f ? -1.0 : q.w;
    *angle = float(2.0 * std::acos(w));
    *axis = *angle == 0.0f ? Vec3{0.0f, 0.0f, 1.0f} : vectorNormalize({q.x, q.y, q.z});
}
