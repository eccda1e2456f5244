// Re-measuring the pivot distance from what is drawn at the window centre.
#pragma once

// Depths above this are the cleared background: nothing to pivot on.
constexpr float backgroundDepth = 0.9999f;

// The pivot is put this much beyond the visible surface along the line of
// sight, so that turns carry the surface around a point just inside it.
constexpr float pivotBeyondSurface = 1.1414213f;

// Reads the depth of the last drawn frame at the window centre and, when
// something was drawn there, sets the pivot distance to reach just beyond it,
// but never beyond the centre of the model's box.
void pickPivotDistance();

// The arithmetic of the pick, given what was read back: the depth at window
// pixel (cx, cy) and the frame's matrices and viewport. Returns the new pivot
// distance, or the current one when the depth is background.
float pivotDistanceForDepth(float depth, int cx, int cy, const double projection[16],
                            const double modelview[16], const int viewport[4]);
