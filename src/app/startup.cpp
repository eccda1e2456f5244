#include "app/startup.h"

#include <GL/glut.h>
#include <cstdio>
#include <cstdlib>

#include "camera/idle_animation.h"
#include "camera/input_mapping.h"
#include "model/voxel_model.h"
#include "render/draw_memory.h"
#include "render/window_frame.h"

void initWindowSystem(int* argc, char** argv) {
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    // GLUT takes its own options (-display, -geometry, ...) out of argv first.
    glutInit(argc, argv);
}

void usage(const char* program) {
    fprintf(stderr, "Usage: %s in.vxl\n", program);
    exit(1);
}

void checkRoomToDrawOrExit(const char* path) {
    if (!roomToDraw(memoryToDraw(model->count), measureMemoryRoom()))
        refuseToDraw(path);
}

void openWindow(const char* title) {
    glutCreateWindow(title);
    glutDisplayFunc(display);
    glutMouseFunc(mouseCallback);
    glutMotionFunc(motionCallback);
    glutKeyboardFunc(keyboardCallback);
    glutIdleFunc(idleCallback);
}
