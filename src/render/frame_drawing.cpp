#include "render/frame_drawing.h"

#include <GL/gl.h>
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "camera/camera_state.h"

static constexpr double degreesPerRadian = 57.29577951308232;

bool frameFrustum(int w, int h, float distance, FrustumBounds* out) {
    if (w <= 0 || h <= 0)
        return false;
    float nearPlane = distance / 20.0f;
    float farPlane = distance * 20.0f;
    if (!(nearPlane > 0.0f) || !std::isfinite(farPlane))
        return false;
    float diag = float(std::sqrt(double(int64_t(w) * w + int64_t(h) * h)));
    float top = float(h) / diag * 0.5f * invSqrt2 * nearPlane;
    float right = float(w) / diag * 0.5f * invSqrt2 * nearPlane;
    *out = {-right, right, -top, top, nearPlane, farPlane};
    return true;
}

// Pivot distances within these powers of two are drawn unscaled.
static constexpr int unscaledExponentLimit = 20;

float viewScale(float distance) {
    if (!std::isfinite(distance) || !(distance > 0.0f))
        return 1.0f;
    int exponent = std::ilogb(distance);
    if (exponent >= -unscaledExponentLimit && exponent <= unscaledExponentLimit)
        return 1.0f;
    // Denormal distances would ask for a scale beyond float range; the largest
    // finite one still brings them into a usable depth range.
    exponent = std::max(exponent, FLT_MIN_EXP - 1);
    return std::ldexp(1.0f, -exponent);
}

void clearFrameWithAlpha(float alpha) {
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_NORMALIZE);
    glClearColor(0.0f, 0.0f, 0.0f, alpha);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void clearFrame() {
    clearFrameWithAlpha(1.0f);
}

bool drawFrame(int w, int h, float backgroundAlpha, void (*drawModel)()) {
    FrustumBounds f;
    float scale = viewScale(camera.distance);
    bool drawable = frameFrustum(w, h, camera.distance * scale, &f);
    clearFrameWithAlpha(backgroundAlpha);
    if (!drawable)
        return false;
    // The projection is shaped for this size, so the viewport must be that
    // size too. GLUT sets it when it handles a resize; setting it here keeps
    // the two from one size whatever order resizes and frames come in.
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(f.left, f.right, f.bottom, f.top, f.nearPlane, f.farPlane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    // view = R * (p - eye): the rotation is applied after the translation.
    // The scale comes last of all and is 1 at ordinary distances.
    if (scale != 1.0f)
        glScalef(scale, scale, scale);
    glRotatef(float(camera.angle * degreesPerRadian), camera.axis.x, camera.axis.y, camera.axis.z);
    glTranslatef(-camera.eye.x, -camera.eye.y, -camera.eye.z);
    glDepthFunc(GL_LESS);
    glEnable(GL_DEPTH_TEST);
    glCullFace(GL_BACK);
    glEnable(GL_CULL_FACE);
    drawModel();
    return true;
}
