#include "window/glut_window.h"

#include <GL/glut.h>

static_assert(buttonPressed == GLUT_DOWN && buttonReleased == GLUT_UP,
              "mouse-button states must match GLUT's");

void postRedisplay() {
    glutPostRedisplay();
}

void swapBuffers() {
    glutSwapBuffers();
}

int windowWidth() {
    return glutGet(GLUT_WINDOW_WIDTH);
}

int windowHeight() {
    return glutGet(GLUT_WINDOW_HEIGHT);
}
