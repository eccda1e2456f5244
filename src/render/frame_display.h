// Drawing one frame from the camera and the window size.
#pragma once

struct FrustumBounds {
    float left, right, bottom, top, nearPlane, farPlane;
};

// The perspective of a w x h window for pivot distance `distance`: about 38.94
// degrees across the window's diagonal, square pixels in any shape, depth from
// distance / 20 to distance * 20. Returns false when the window has no area or
// the distance gives no usable depth range.
bool frameFrustum(int w, int h, float distance, FrustumBounds* out);

// Puts the fixed-function state back to a known base and clears to black.
void clearFrame();

// Clears, sets projection and model-view from the camera, and draws the model
// with depth test and back-face culling. Returns false, drawing nothing, when
// frameFrustum gives no projection.
bool renderFrame();

// The display callback: renderFrame, then show it and wait for it to finish.
void display();
