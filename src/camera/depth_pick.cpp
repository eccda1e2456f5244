#include "camera/depth_pick.h"

#include <GL/glu.h>
#include <cmath>

#include "camera/camera_state.h"
#include "window/drawn_frame.h"
#include "window/gl_readback.h"
#include "window/glut_window.h"

static float distanceBetween(Vec3 a, Vec3 b) {
    double dx = double(a.x) - b.x, dy = double(a.y) - b.y, dz = double(a.z) - b.z;
    return float(length3(dx, dy, dz));
}

float pivotDistanceForDepth(float depth, int cx, int cy, const double projection[16],
                            const double modelview[16], const int viewport[4]) {
    if (depth > backgroundDepth)
        return camera.distance;
    double px = 0.0, py = 0.0, pz = 0.0;
    gluUnProject(cx, cy, depth, modelview, projection, viewport, &px, &py, &pz);
    Vec3 surface = {float(px), float(py), float(pz)};
    float toSurface = distanceBetween(surface, camera.eye);
    float toCenter = distanceBetween(camera.center, camera.eye);
    float beyond = pivotBeyondSurface * toSurface;
    // The box centre caps the pivot, so a far-away hit never pushes turns to
    // pivot behind the model.
    return clampDistance(beyond < toCenter ? beyond : toCenter);
}

void pickPivotDistance() {
    int w = windowWidth(), h = windowHeight();
    if (w <= 0 || h <= 0)
        return;
    // After a resize the depth buffer still holds a frame of the old size
    // until the next one is drawn: its centre is not the window's, and GL may
    // not yet have buffers of the new size to read from (reading there
    // crashed the software rasteriser). Keep the pivot until a frame of this
    // size is on screen.
    if (w != lastDrawnFrame.width || h != lastDrawnFrame.height)
        return;
    int cx = w / 2, cy = h / 2;
    float depth = capturedDepthAt(cx, cy);
    if (depth > backgroundDepth)
        return;
    double projection[16], modelview[16];
    int viewport[4];
    capturedViewTransforms(projection, modelview, viewport);
    camera.distance = pivotDistanceForDepth(depth, cx, cy, projection, modelview, viewport);
}
