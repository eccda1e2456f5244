// Moving the eye without turning it: across the view (pan) and toward or away
// from the pivot point (zoom), both in units of the pivot distance so that they
// feel the same at every scale.
#pragma once

// One zoom step of the wheel and the z / Z keys: the distance is multiplied by
// exp(-2.25 * 0.05) = 0.8936 going in, 1.1191 going out.
constexpr float zoomStep = 0.05f;

// dx, dy: pan in normalised pointer units (right, up); the model follows the
// pointer. dz: zoom, positive toward the pivot point. Always redraws.
void moveCamera(float dx, float dy, float dz);
