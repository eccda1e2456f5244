#include "render/gl_readback.h"

#include <GL/gl.h>

float readDepthPixel(int x, int y) {
    float depth = 1.0f;
    glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    return depth;
}

void readViewTransforms(double projection[16], double modelview[16], int viewport[4]) {
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    glGetIntegerv(GL_VIEWPORT, viewport);
}
