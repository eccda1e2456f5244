// One frame of the model from the camera at a given size, into whatever GL
// context is current: the projection, the scale and the drawing, no window.
#pragma once

struct FrustumBounds {
    float left, right, bottom, top, nearPlane, farPlane;
};

// The perspective of a w x h window for pivot distance `distance`: about 38.94
// degrees across the window's diagonal, square pixels in any shape, depth from
// distance / 20 to distance * 20. Returns false when the window has no area or
// the distance gives no usable depth range.
bool frameFrustum(int w, int h, float distance, FrustumBounds* out);

// The power of two that the frame scales the whole scene by before handing it
// to GL: 1 for ordinary pivot distances, and otherwise the one that brings the
// distance to between 1 and 2. GL builds its projection in single precision,
// where the product of the far and near planes overflows beyond distances of
// about 1e19 and underflows below about 1e-19, and a huge model's off-screen
// corners overflow the clip coordinates; scaling model, eye and frustum by one
// power of two together changes no pixel, since every product scales exactly.
float viewScale(float distance);

// Puts the fixed-function state back to a known base and clears to black
// with the given alpha: 1 (opaque) for the window, 0 where a picture with a
// transparent background shows nothing.
void clearFrameWithAlpha(float alpha);

// The same with opaque black: what the viewer's frames start from.
void clearFrame();

// One w x h frame of the model from the camera, into whatever the current GL
// context draws to: clears (to black of `backgroundAlpha`), sets viewport,
// projection and model-view, and calls `drawModel` with depth test and
// back-face culling on. Returns false, drawing nothing after the clear, when
// frameFrustum gives no projection. Needs no window: the viewer and the
// off-screen renderer both draw through it.
bool drawFrame(int w, int h, float backgroundAlpha, void (*drawModel)());
