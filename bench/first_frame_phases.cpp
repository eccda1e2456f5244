// Times the viewer's own start-up path on one voxel file, step by step, up to
// the first frame, and prints each step and the peak resident memory:
//
//   first_frame_phases [GLUT options] model.vxl     (needs an X server)
//
// Memory is printed where the viewer checks its room to draw (right after
// loading: what is mapped and filled then) and at the first frame (the peaks),
// which is what bench/memory_to_draw.py derives the driver's share from.
//
// The steps are the ones main takes (app/startup.h), in its order. Display
// list 1 is compiled on its own just before the main loop starts, with a
// glFinish, so that the driver's compile and its first draw of the list are
// told apart; the viewer does the same work inside its first display call.
// bench/run.py runs this under Xvfb for several model sizes.
#include <GL/glut.h>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <time.h>

#include "app/startup.h"
#include "camera/camera_state.h"
#include "model/voxel_model.h"
#include "platform/memory_room.h"
#include "render/voxel_geometry.h"
#include "render/window_frame.h"

static double seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

static double startTime, loopStart;

static void phase(const char* name, double since) {
    printf("%-14s %9.3f s\n", name, seconds() - since);
}

static void printMemory(const char* name, const char* field) {
    printf("%-14s %9.1f MiB\n", name,
           double(procFieldBytes("/proc/self/status", field)) / 1048576.0);
}

// The first display call is the first frame: report it and stop.
static void firstDisplay() {
    display();
    phase("first draw", loopStart);
    phase("total", startTime);
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("%-14s %9.0f MiB\n", "peak RSS", double(usage.ru_maxrss) / 1024.0);
    printMemory("peak mapped", "VmPeak");
    printMemory("peak resident", "VmHWM");
    fflush(stdout);
    exit(0);
}

int main(int argc, char** argv) {
    startTime = seconds();
    initWindowSystem(&argc, argv);
    if (argc < 2)
        usage(argv[0]);
    const char* path = argv[1];
    double t = seconds();
    loadModelOrExit(path);
    printf("%-14s %9d\n", "voxels", model->count);
    phase("read", t);
    printMemory("check mapped", "VmSize");
    printMemory("check resident", "VmRSS");
    checkRoomToDrawOrExit(path);
    t = seconds();
    buildArraysOrExit(path);
    phase("arrays", t);
    t = seconds();
    openWindow(argv[0]);
    glutDisplayFunc(firstDisplay);
    phase("window", t);
    t = seconds();
    resetCamera();
    phase("framing", t);
    t = seconds();
    compileVoxelList();
    glFinish();
    phase("list compile", t);
    loopStart = seconds();
    glutMainLoop();
    return 0;
}
