#include "fakes.h"

#include <cmath>

#include "camera/camera_state.h"
#include "camera/input_mapping.h"
#include "camera/trackball_state.h"
#include "platform/clock.h"
#include "platform/perf_clock.h"
#include "platform/sleep.h"
#include "render/voxel_geometry.h"
#include "window/drawn_frame.h"
#include "window/gl_readback.h"
#include "window/glut_window.h"

FakeWindow fakeWindow;
FakeClock fakeClock;

void postRedisplay() {
    ++fakeWindow.redisplayRequests;
}

void swapBuffers() {
    ++fakeWindow.swaps;
}

int windowWidth() {
    return fakeWindow.width;
}

int windowHeight() {
    return fakeWindow.height;
}

void captureFrameReadback(int, int) {}

float capturedDepthAt(int x, int y) {
    ++fakeWindow.depthReads;
    fakeWindow.lastDepthX = x;
    fakeWindow.lastDepthY = y;
    return fakeWindow.depth;
}

void capturedViewTransforms(double projection[16], double modelview[16], int viewport[4]) {
    for (int i = 0; i < 16; ++i) {
        projection[i] = fakeWindow.projection[i];
        modelview[i] = fakeWindow.modelview[i];
    }
    for (int i = 0; i < 4; ++i)
        viewport[i] = fakeWindow.viewport[i];
}

uint64_t readMonotonicCounter() {
    return fakeClock.counter;
}

bool queryMonotonicFrequency(uint64_t* countsPerSecond) {
    ++fakeClock.frequencyQueries;
    *countsPerSecond = fakeClock.frequency;
    return fakeClock.available;
}

void sleepMilliseconds(unsigned milliseconds) {
    ++fakeClock.sleeps;
    fakeClock.lastSleepMilliseconds = milliseconds;
}

void resetAllState() {
    camera = {};
    pointer = {};
    trackball = {};
    perfClock = {};
    listCompiled = false;
    vertexArray = nullptr;
    colorArray = nullptr;
    indexArray = nullptr;
    fakeWindow = {};
    fakeWindow.width = 600;
    fakeWindow.height = 600;
    fakeWindow.depth = 1.0f;
    // As if a frame of the window's size had been drawn.
    lastDrawnFrame = {fakeWindow.width, fakeWindow.height};
    fakeClock = {};
    // Like a machine that has been up for a day: far from the counter's origin.
    fakeClock.counter = 86400ull * 1000000000ull;
    fakeClock.frequency = 1000000000ull;
    fakeClock.available = true;
}

void advanceClock(double seconds) {
    fakeClock.counter += uint64_t(std::llround(seconds * double(fakeClock.frequency)));
}
