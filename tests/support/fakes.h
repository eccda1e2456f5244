// Stand-ins for the window system and the clock, so that the viewer's logic
// runs in unit tests without a window and with time under the test's control.
#pragma once

#include <cstdint>

struct FakeWindow {
    int width, height;     // what windowWidth / windowHeight answer
    int redisplayRequests; // postRedisplay calls
    int swaps;             // swapBuffers calls
    float depth;           // what capturedDepthAt answers
    int depthReads;        // capturedDepthAt calls
    int lastDepthX, lastDepthY;
    double projection[16], modelview[16];
    int viewport[4];
};

struct FakeClock {
    uint64_t counter;   // what readMonotonicCounter answers
    uint64_t frequency; // what queryMonotonicFrequency fills in
    bool available;     // what queryMonotonicFrequency returns
    int frequencyQueries;
    int sleeps; // sleepMilliseconds calls
    unsigned lastSleepMilliseconds;
};

extern FakeWindow fakeWindow;
extern FakeClock fakeClock;

// Puts every global of the viewer (camera, pointer, trackball, clock state,
// geometry) and both fakes back to their start values: a 600 x 600 window,
// background depth, a nanosecond clock at a large reading.
void resetAllState();

// Advances the fake clock by `seconds`.
void advanceClock(double seconds);
