// The window seams of a program that draws one frame off screen: the "window"
// is the framebuffer, nothing is shown or swapped, and no frame is read back
// for a depth pick, since there is no pointer to pick with.
#include "render/offscreen_context.h"
#include "window/gl_readback.h"
#include "window/glut_window.h"

void postRedisplay() {}

void swapBuffers() {}

int windowWidth() {
    return offscreenFrame.width;
}

int windowHeight() {
    return offscreenFrame.height;
}

void captureFrameReadback(int, int) {}

float capturedDepthAt(int, int) {
    return 1.0f;
}

void capturedViewTransforms(double projection[16], double modelview[16], int viewport[4]) {
    for (int i = 0; i < 16; ++i)
        projection[i] = modelview[i] = i % 5 == 0 ? 1.0 : 0.0;
    for (int i = 0; i < 4; ++i)
        viewport[i] = 0;
}
