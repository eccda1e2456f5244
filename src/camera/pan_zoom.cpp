#include "camera/pan_zoom.h"

#include <cfloat>
#include <cmath>

#include "camera/camera_state.h"
#include "camera/quaternion.h"
#include "window/glut_window.h"

static constexpr double zoomRate = 2.25;

void moveCamera(float dx, float dy, float dz) {
    double d = camera.distance;
    // One normalised unit of pointer travel pans by the view's half-diagonal
    // slope times the pivot distance, the product the frustum uses; the eye
    // moves against the pointer, so that the model follows it.
    float k = -float(d * 0.5 * double(invSqrt2));
    // A pointer jump across a huge model can overflow a float; the eye is
    // clamped near the model below anyway, so such a pan goes as far as it may.
    float pr = std::fmax(std::fmin(dx * k, FLT_MAX), -FLT_MAX);
    float pu = std::fmax(std::fmin(dy * k, FLT_MAX), -FLT_MAX);

    // The new distance is d * exp(-2.25 dz); a pointer jump large enough to take
    // it past the navigation range stops at the range's end instead.
    double zoom = d * (std::exp(-zoomRate * double(dz)) - 1.0);
    double target = d + zoom;
    double lo = 0.0, hi = 0.0;
    distanceRange(&lo, &hi);
    if (std::isnan(target))
        zoom = 0.0;
    else if (target > hi)
        zoom = hi - d;
    else if (target < lo)
        zoom = lo - d;
    float z = float(zoom);

    Quaternion q = quaternionFromAngleAxis(camera.angle, camera.axis);
    Vec3 right = quaternionInverseTurn(q, {1.0f, 0.0f, 0.0f});
    Vec3 up = quaternionInverseTurn(q, {0.0f, 1.0f, 0.0f});
    Vec3 back = quaternionInverseTurn(q, {0.0f, 0.0f, 1.0f});
    Vec3& eye = camera.eye;
    eye = clampEye({float(double(pr) * right.x + double(pu) * up.x + double(z) * back.x + eye.x),
                    float(double(pr) * right.y + double(pu) * up.y + double(z) * back.y + eye.y),
                    float(double(pr) * right.z + double(pu) * up.z + double(z) * back.z + eye.z)});
    // The step toward the near end is rounded to a float like the distance
    // it is added to, and at a distance ten million times the near end that
    // rounding alone reaches zero: keep the sum inside the range too.
    camera.distance = clampDistance(z + camera.distance);
    postRedisplay();
}
