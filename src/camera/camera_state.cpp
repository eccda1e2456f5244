#include "camera/camera_state.h"

#include <cfloat>
#include <cmath>

#include "camera/model_framing.h"
#include "camera/trackball_state.h"
#include "model/voxel_model.h"

CameraState camera = {};

// Pivot distances are kept within these multiples of the framing size; the
// start view sits at 2. Beyond them the model is either far smaller than a
// pixel or the eye is deep inside a single voxel.
static constexpr double minDistanceFactor = 1e-4;
static constexpr double maxDistanceFactor = 1e4;
// The eye stays within this many framing sizes of the box centre on each axis.
static constexpr double maxEyeOffsetFactor = 1e5;

static void measureModel() {
    const ModelFraming framing = frameVoxels(model->positions, model->count, model->voxelSize);
    camera.center = framing.center;
    camera.extent = framing.extent;
}

void resetCamera() {
    if (camera.extent == 0.0f)
        measureModel();
    camera.eye = {camera.center.x, camera.center.y, camera.center.z + 2.0f * camera.extent};
    camera.distance = 2.0f * camera.extent;
    camera.angle = 0.0f;
    camera.axis = {0.0f, 0.0f, 1.0f};
    trackball.spinning = 0;
}

void distanceRange(double* lo, double* hi) {
    double extent = camera.extent > 0.0f ? camera.extent : fallbackExtent;
    *lo = std::fmin(extent * minDistanceFactor, largestLimit);
    *hi = std::fmin(extent * maxDistanceFactor, largestLimit);
}

float clampDistance(float distance) {
    double lo = 0.0, hi = 0.0;
    distanceRange(&lo, &hi);
    if (std::isnan(distance)) // fall back to the framed view's distance
        return float(std::fmin(2.0 * (camera.extent > 0.0f ? camera.extent : fallbackExtent), hi));
    if (distance < lo)
        return float(lo);
    if (distance > hi)
        return float(hi);
    return distance;
}

static float clampCoordinate(float value, float center, double limit) {
    if (std::isnan(value))
        return center;
    // Near the float limit the box around the centre is cut at the limit.
    double lo = std::fmax(double(center) - limit, -FLT_MAX);
    double hi = std::fmin(double(center) + limit, FLT_MAX);
    if (value < lo)
        return float(lo);
    if (value > hi)
        return float(hi);
    return value;
}

Vec3 clampEye(Vec3 eye) {
    double extent = camera.extent > 0.0f ? camera.extent : fallbackExtent;
    double limit = std::fmin(extent * maxEyeOffsetFactor, largestLimit);
    return {clampCoordinate(eye.x, camera.center.x, limit),
            clampCoordinate(eye.y, camera.center.y, limit),
            clampCoordinate(eye.z, camera.center.z, limit)};
}
