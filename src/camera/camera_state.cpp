#include "camera/camera_state.h"

#include <cfloat>
#include <cmath>

#include "camera/trackball_state.h"
#include "model/voxel_model.h"

CameraState camera = {};

// A model with no measurable size is framed as a box of this framing size.
static constexpr float fallbackExtent = 1.0f;

// Pivot distances are kept within these multiples of the framing size; the
// start view sits at 2. Beyond them the model is either far smaller than a
// pixel or the eye is deep inside a single voxel.
static constexpr double minDistanceFactor = 1e-4;
static constexpr double maxDistanceFactor = 1e4;
// The eye stays within this many framing sizes of the box centre on each axis.
static constexpr double maxEyeOffsetFactor = 1e5;
// Keeps limits derived from a huge model finite: the eye stays within twice
// this of the box centre, and the pivot point within three times. The frame
// scales what it hands GL (viewScale), so the far plane at 20 times the
// distance need not fit in a float.
static constexpr double largestLimit = FLT_MAX / 4.0;

static void measureModel() {
    // The box spans the finite coordinates only: one NaN or infinite coordinate
    // would otherwise make the centre or extent unusable for every other voxel.
    double lo[3] = {INFINITY, INFINITY, INFINITY};
    double hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (int32_t i = 0; i < model->count; ++i) {
        const float* p = model->positions + 3 * size_t(i);
        for (int c = 0; c < 3; ++c) {
            if (!std::isfinite(p[c]))
                continue;
            if (p[c] < lo[c])
                lo[c] = p[c];
            if (p[c] > hi[c])
                hi[c] = p[c];
        }
    }
    double d[3];
    float center[3];
    for (int c = 0; c < 3; ++c) {
        if (lo[c] > hi[c]) // no finite value on this axis, or no voxels at all
            lo[c] = hi[c] = 0.0;
        center[c] = float((lo[c] + hi[c]) * 0.5);
        d[c] = hi[c] - lo[c];
    }
    camera.center = {center[0], center[1], center[2]};
    double exactDiagonal = length3(d[0], d[1], d[2]);
    float diagonal = float(exactDiagonal);
    float extent = float(double(diagonal) + double(model->voxelSize) * double(2.828f));
    // A negative, NaN or infinite voxel size frames by the box alone; a single
    // point of zero voxel size leaves nothing to frame by: use a unit view.
    if (!(extent > 0.0f) || std::isinf(model->voxelSize))
        extent = diagonal > 0.0f ? diagonal : fallbackExtent;
    // A box or voxel size beyond what the eye can stand back from (near the
    // float limit the diagonal or the size term overflows) is framed from as
    // far as the navigation range and the float range allow, looking at the
    // box centre; a unit view there would show nothing of the model.
    double largest = largestLimit / 2.0;
    if (center[2] > 0.0f)
        largest = std::fmin(largest, (FLT_MAX - double(center[2])) * 0.5 * (1.0 - 0x1p-20));
    if (!(largest > 0.0))
        extent = fallbackExtent; // the box centre sits at the float limit itself
    else if (!(extent <= largest))
        extent = float(largest);
    camera.extent = extent;
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
