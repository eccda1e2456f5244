#include "camera/pivot_turn.h"

#include "camera/camera_state.h"

static const Vec3 lookDirection = {0.0f, 0.0f, -1.0f};

static Vec3 pivotPoint(Quaternion view) {
    Vec3 forward = quaternionInverseTurn(view, lookDirection);
    double d = camera.distance;
    return {float(camera.eye.x + d * forward.x), float(camera.eye.y + d * forward.y),
            float(camera.eye.z + d * forward.z)};
}

Quaternion turnAboutPivot(Quaternion step) {
    Quaternion q = quaternionFromAngleAxis(camera.angle, camera.axis);
    Vec3 pivot = pivotPoint(q);
    // The step acts after the current rotation, so its axis is in view
    // coordinates: the picture turns the way the pointer moves on screen.
    q = quaternionNormalize(quaternionMultiply(step, q));
    quaternionToAngleAxis(q, &camera.angle, &camera.axis);
    Vec3 forward = quaternionInverseTurn(q, lookDirection);
    double d = camera.distance;
    // Only a model at the float limit can carry the pivot point or the orbit
    // out of float range; the clamp keeps the eye finite there and changes
    // nothing anywhere else.
    camera.eye = clampEye({float(pivot.x - d * forward.x), float(pivot.y - d * forward.y),
                           float(pivot.z - d * forward.z)});
    return q;
}
