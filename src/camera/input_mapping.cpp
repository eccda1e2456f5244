#include "camera/input_mapping.h"

#include <cstdlib>

#include "camera/camera_state.h"
#include "camera/depth_pick.h"
#include "camera/pan_zoom.h"
#include "camera/trackball.h"
#include "camera/trackball_state.h"
#include "window/glut_window.h"

PointerState pointer = {};

// GLUT's numbers for the buttons; the wheel arrives as buttons 3 and 4.
enum {
    glutLeft = 0,
    glutMiddle = 1,
    glutRight = 2,
    wheelOut = 3,
    wheelIn = 4,
};

static void holdButton(ButtonMask button, int state) {
    // The mask follows the reported state rather than toggling, so a press or
    // release that went to another window cannot leave it inverted for good.
    if (state == buttonPressed)
        pointer.heldButtons |= button;
    else
        pointer.heldButtons &= ~button;
}

void mouseCallback(int button, int state, int x, int y) {
    switch (button) {
    case glutLeft:
        holdButton(leftButton, state);
        break;
    case glutMiddle:
        holdButton(middleButton, state);
        break;
    case glutRight:
        holdButton(rightButton, state);
        break;
    case wheelOut:
        moveCamera(0.0f, 0.0f, -zoomStep);
        break;
    case wheelIn:
        moveCamera(0.0f, 0.0f, zoomStep);
        break;
    default:
        return;
    }
    trackball.spinning = 0;
    motionCallback(x, y);
}

bool normalizePointer(int x, int y, int w, int h, float* nx, float* ny) {
    if (w <= 0 || h <= 0)
        return false;
    float r = float(w) / float(h);
    double sx = 2.0 * x / w - 1.0;
    double sy = 1.0 - 2.0 * y / h;
    if (w > h) {
        *nx = float(sx * r);
        *ny = float(sy);
    } else {
        *nx = float(sx);
        *ny = float(sy / r);
    }
    return true;
}

void motionCallback(int x, int y) {
    float nx = 0.0f, ny = 0.0f;
    if (normalizePointer(x, y, windowWidth(), windowHeight(), &nx, &ny))
        dispatchPointer(nx, ny, pointer.heldButtons);
}

void dispatchPointer(float x, float y, ButtonMask buttons) {
    ButtonMask previous = pointer.lastButtons;
    // A continuous action needs the same buttons at two successive events, so
    // changing the combination never moves the camera by itself.
    if (buttons == leftButton) {
        if (previous == 0)
            trackball.angularSpeed = 0.0f;
        else if (previous == leftButton)
            trackballDrag(pointer.lastX, pointer.lastY, x, y);
    }
    if (buttons == 0 && previous == leftButton)
        trackballRelease();
    if (buttons == rightButton && previous == rightButton)
        moveCamera(x - pointer.lastX, y - pointer.lastY, 0.0f);
    // Zoom in when the pointer moves right or down, out when left or up.
    if ((buttons == (leftButton | rightButton) || buttons == middleButton) && buttons == previous)
        moveCamera(0.0f, 0.0f, (pointer.lastY - y) - (pointer.lastX - x));
    if (buttons == 0)
        pickPivotDistance();
    pointer.lastX = x;
    pointer.lastY = y;
    pointer.lastButtons = buttons;
}

void keyboardCallback(unsigned char key, int, int) {
    switch (key) {
    case 'q':
    case 'Q':
    case 27: // Escape
    case 17: // Ctrl+Q
        exit(0);
    case 'z':
        moveCamera(0.0f, 0.0f, zoomStep);
        break;
    case 'Z':
        moveCamera(0.0f, 0.0f, -zoomStep);
        break;
    case ' ':
        resetCamera();
        postRedisplay();
        break;
    default:
        break;
    }
}
