// The few window-system calls the viewer's logic needs, one GLUT call each, so
// that everything above them runs without a window in tests.
#pragma once

void postRedisplay();
void swapBuffers();
int windowWidth();
int windowHeight();

// GLUT's mouse-button states, as the mouse callback receives them.
constexpr int buttonPressed = 0;
constexpr int buttonReleased = 1;
