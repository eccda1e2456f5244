#include "camera/iso_view.h"

#include <cmath>

#include "camera/camera_state.h"
#include "camera/pivot_turn.h"

static constexpr double quarterPi = 0.78539816339744830962;

Quaternion isoViewStep() {
    // Swinging the eye 45 degrees towards +x puts it over the box's (1, 0, 1)
    // diagonal; tipping it up by the elevation of (1, 1, 1) above that
    // diagonal, atan(1 / sqrt(2)), puts it on the corner direction. Neither
    // turn rolls the picture, so the screen's up stays in the plane of +y and
    // the line of sight, as near +y as it can be.
    Quaternion swing = quaternionFromAngleAxis(-quarterPi, {0.0f, 1.0f, 0.0f});
    Quaternion tip = quaternionFromAngleAxis(std::atan(1.0 / std::sqrt(2.0)), {1.0f, 0.0f, 0.0f});
    return quaternionNormalize(quaternionMultiply(tip, swing));
}

void frameIsoView() {
    resetCamera();
    // The framed pivot is the box centre at the framed distance, so turning
    // about the pivot is turning about the box centre, distance unchanged.
    turnAboutPivot(isoViewStep());
}
