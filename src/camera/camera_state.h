// The viewpoint: where the eye stands, how the view is turned, and the distance
// to the pivot point that turns orbit about.
#pragma once

#include "math/vec3.h"

struct CameraState {
    Vec3 center;    // bounding-box centre of the model, measured once
    float extent;   // framing size; 0 until measured
    Vec3 eye;       // eye position in model coordinates
    float angle;    // view rotation angle, radians
    Vec3 axis;      // view rotation axis
    float distance; // eye to pivot point
};

// The float nearest 1/sqrt(2). With a factor 0.5 it is the slope of the
// view's half-diagonal: the near-plane window's half-diagonal is 0.35355339
// times the near distance, and one normalised unit of pointer travel pans the
// eye by that times the pivot distance.
constexpr float invSqrt2 = 0.70710677f;

// A model point p is seen at R(angle, axis) * (p - eye), looking along -z.
extern CameraState camera;

// Frames the model: measures its box on the first call, then puts the eye in
// front of the box centre (+z side, +y up) with no rotation and stops a spin.
void resetCamera();

// Navigation keeps the pivot distance within a range relative to the model's
// size, so no zoom, pick or pan can drive it to zero, to infinity or to NaN.
float clampDistance(float distance);
// The range that clampDistance keeps the pivot distance in.
void distanceRange(double* lo, double* hi);

// Keeps each eye coordinate within a wide box around the model, so repeated
// pans cannot carry the eye out of float range.
Vec3 clampEye(Vec3 eye);
