// The viewer's start-up steps, in the order main takes them. They are small
// functions so that the first-frame benchmark can run the very same path and
// time each step.
#pragma once

#include "app/model_loading.h"

// The window's pixel format (RGB, double-buffered, with depth), then GLUT's
// own options, which it takes out of argc / argv.
void initWindowSystem(int* argc, char** argv);

// Writes the usage line and ends the process with status 1.
[[noreturn]] void usage(const char* program);

// Refuses, with "Not enough memory to draw", a model whose cube arrays and the
// driver's copy of them would not fit in the memory this process can still
// have: the driver would take its copy on the first frame and crash there.
void checkRoomToDrawOrExit(const char* path);

// Creates the window titled `title` and hands GLUT the callbacks: display,
// mouse, motion, keyboard, idle, in that order.
void openWindow(const char* title);
