#include "render/window_frame.h"

#include <GL/gl.h>

#include "render/frame_drawing.h"
#include "render/voxel_geometry.h"
#include "window/drawn_frame.h"
#include "window/gl_readback.h"
#include "window/glut_window.h"

bool renderFrame() {
    int w = windowWidth(), h = windowHeight();
    if (!drawFrame(w, h, 1.0f, drawVoxels))
        return false;
    lastDrawnFrame = {w, h};
    captureFrameReadback(w, h);
    return true;
}

void display() {
    // A window with no area (minimised) has nothing to show; keep what the
    // screen had rather than hand GL a projection without numbers.
    if (!renderFrame())
        return;
    swapBuffers();
    glFinish();
}
