// voxscope: shows a voxel file as coloured cubes and lets the user turn, pan
// and zoom it.
#include <GL/glut.h>

#include "app/startup.h"
#include "camera/camera_state.h"

int main(int argc, char** argv) {
    initWindowSystem(&argc, argv);
    if (argc < 2)
        usage(argv[0]);
    const char* path = argv[1];
    loadModelOrExit(path);
    checkRoomToDrawOrExit(path);
    buildArraysOrExit(path);
    openWindow(argv[0]);
    resetCamera();
    glutMainLoop();
    return 0;
}
