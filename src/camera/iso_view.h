// The view of the model's box from a corner: the eye looking at the box
// centre from the direction (1, 1, 1), as pictures of voxel models are often
// shown.
#pragma once

#include "camera/quaternion.h"

// The turn, in view coordinates, that takes the framed view (eye on the +z
// side of the box centre, +y up) to that corner view: 45 degrees about the
// view's vertical axis (-y: the eye swings towards +x), then atan(1/sqrt(2)),
// 35.26 degrees, about the view's horizontal axis (+x: the eye rises towards
// +y). Together one turn of 56.60 degrees about (0.5903, -0.7693, -0.2445).
Quaternion isoViewStep();

// Frames the model (resetCamera) and turns the view by isoViewStep about the
// box centre: the eye stays at the framed distance from it and looks along
// -(1, 1, 1), with the screen's up as close to +y as that allows, the
// direction (-1, 2, -1) / sqrt(6).
void frameIsoView();
