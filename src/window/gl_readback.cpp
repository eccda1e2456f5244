#include "window/gl_readback.h"

#include <GL/gl.h>

// What the last frame left for the pick; no frame yet reads as background.
struct FrameReadback {
    int centerX, centerY;
    float depth;
    double projection[16], modelview[16];
    int viewport[4];
};
static FrameReadback lastFrame = {-1, -1, 1.0f, {}, {}, {}};

void captureFrameReadback(int w, int h) {
    lastFrame.centerX = w / 2;
    lastFrame.centerY = h / 2;
    lastFrame.depth = 1.0f;
    glReadPixels(lastFrame.centerX, lastFrame.centerY, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT,
                 &lastFrame.depth);
    glGetDoublev(GL_PROJECTION_MATRIX, lastFrame.projection);
    glGetDoublev(GL_MODELVIEW_MATRIX, lastFrame.modelview);
    glGetIntegerv(GL_VIEWPORT, lastFrame.viewport);
}

float capturedDepthAt(int x, int y) {
    return x == lastFrame.centerX && y == lastFrame.centerY ? lastFrame.depth : 1.0f;
}

void capturedViewTransforms(double projection[16], double modelview[16], int viewport[4]) {
    for (int i = 0; i < 16; ++i) {
        projection[i] = lastFrame.projection[i];
        modelview[i] = lastFrame.modelview[i];
    }
    for (int i = 0; i < 4; ++i)
        viewport[i] = lastFrame.viewport[i];
}
