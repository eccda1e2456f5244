// voxscope: shows a voxel file as coloured cubes and lets the user turn, pan
// and zoom it.
#include <GL/glut.h>
#include <cstdio>
#include <cstdlib>

#include "camera/camera_state.h"
#include "camera/idle_animation.h"
#include "camera/input_mapping.h"
#include "model/voxel_model.h"
#include "render/frame_display.h"
#include "render/voxel_geometry.h"

[[noreturn]] static void usage(const char* program) {
    fprintf(stderr, "Usage: %s in.vxl\n", program);
    exit(1);
}

[[noreturn]] static void cannotOpen(const char* path) {
    fprintf(stderr, "Couldn't open file %s\n", path);
    exit(1);
}

int main(int argc, char** argv) {
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    // GLUT takes its own options (-display, -geometry, ...) out of argv first.
    glutInit(&argc, argv);
    if (argc < 2)
        usage(argv[0]);
    const char* path = argv[1];
    model = loadVoxels(path);
    if (!model)
        cannotOpen(path);
    // The cube arrays are expanded now, so that a model too big for memory is
    // refused here with a message rather than failing once the window is up.
    if (!buildVoxelArrays(model)) {
        fprintf(stderr, "Not enough memory to draw %d voxels from %s\n", model->count, path);
        cannotOpen(path);
    }
    glutCreateWindow(argv[0]);
    glutDisplayFunc(display);
    glutMouseFunc(mouseCallback);
    glutMotionFunc(motionCallback);
    glutKeyboardFunc(keyboardCallback);
    glutIdleFunc(idleCallback);
    resetCamera();
    glutMainLoop();
    return 0;
}
