// The viewer's whole user interface: mouse, motion and keyboard callbacks and
// the dispatcher that turns pointer events into turns, pans, zooms and picks.
#pragma once

#include <cstdint>

// A set of held mouse buttons, one bit each, numbered the reverse of GLUT's
// buttons: right (GLUT's 2) is bit 0, middle bit 1, left (GLUT's 0) bit 2.
// The dispatcher compares whole masks, so left and right together read as 5
// and a trace of masks reads 4, 5, 1 for left, then right pressed, then left
// released.
typedef uint32_t ButtonMask;
constexpr ButtonMask rightButton = 1;
constexpr ButtonMask middleButton = 2;
constexpr ButtonMask leftButton = 4;

struct PointerState {
    ButtonMask heldButtons; // the buttons held now
    ButtonMask lastButtons; // the mask of the previous dispatch
    float lastX, lastY;     // normalised position of the previous dispatch
};

extern PointerState pointer;

// GLUT callbacks.
void mouseCallback(int button, int state, int x, int y);
void motionCallback(int x, int y);
void keyboardCallback(unsigned char key, int x, int y);

// Window pixel (x, y) of a w x h window in normalised pointer coordinates:
// origin at the centre, y up, the shorter side spanning -1 to +1. Returns false
// for a window with no area, whose events carry no position.
bool normalizePointer(int x, int y, int w, int h, float* nx, float* ny);

// Acts on the pointer at normalised (x, y) with `buttons` held, given what the
// previous dispatch saw.
void dispatchPointer(float x, float y, ButtonMask buttons);
