// Turning the view with the left button like a ball under the pointer, and the
// speed estimate that decides whether a released turn keeps spinning.
#pragma once

#include "camera/quaternion.h"

// Drag steps faster than this are averaged; a release within it may spin.
constexpr float speedWindowSeconds = 0.2f;

// The unit vector over normalised pointer (x, y) on a ball of radius 0.8 that
// continues as a hyperbolic sheet beyond 0.8 / sqrt(2) from the centre.
Vec3 trackballLift(float x, float y);

// One drag step from the previous to the current normalised pointer position.
void trackballDrag(float prevX, float prevY, float curX, float curY);

// The left button was let go: spin on if the drag was still moving.
void trackballRelease();
