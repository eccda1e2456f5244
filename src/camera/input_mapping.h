// The viewer's whole user interface: mouse, motion and keyboard callbacks and
// the dispatcher that turns pointer events into turns, pans, zooms and picks.
#pragma once

#include <cstdint>

// A set of held mouse buttons.
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
