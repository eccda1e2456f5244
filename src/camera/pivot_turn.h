// Turning the view about the pivot point, the one way every turn is applied:
// a drag step, a step of the idle spin and the turn to the corner view.
#pragma once

#include "camera/quaternion.h"

// Turns the view by `step` (in view coordinates) about the pivot point: the
// eye orbits the pivot at the pivot distance and keeps looking at it. Returns
// the new view rotation as a normalised quaternion.
Quaternion turnAboutPivot(Quaternion step);
