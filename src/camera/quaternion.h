// Rotations as quaternions (w, x, y, z). Components are stored as floats; every
// sum of products, root and trigonometric function is taken in double and
// rounded once when stored, so results are the same on every compiler.
#pragma once

#include "math/vec3.h"

struct Quaternion {
    float w, x, y, z;
};

// (cos(a/2), n sin(a/2) / |n|). The angle is a double so that a caller holding
// an unrounded angle keeps it; callers never pass a zero axis.
Quaternion quaternionFromAngleAxis(double angle, Vec3 axis);

// Hamilton product a * b: the rotation b followed by a.
Quaternion quaternionMultiply(Quaternion a, Quaternion b);

// Unit length; a quaternion of length exactly 0 becomes (1, 0, 0, 0).
Quaternion quaternionNormalize(Quaternion q);

// Unit length; a vector of length exactly 0 becomes (0, 0, 1).
Vec3 vectorNormalize(Vec3 v);

// v turned by q, keeping |v|; a zero vector is returned unchanged.
Vec3 quaternionTurn(Quaternion q, Vec3 v);

// v turned by the same angle the other way.
Vec3 quaternionInverseTurn(Quaternion q, Vec3 v);

// angle = 2 acos(w) in [0, 2 pi]; the axis is (0, 0, 1) for a zero angle or a
// zero vector part.
void quaternionToAngleAxis(Quaternion q, float* angle, Vec3* axis);
