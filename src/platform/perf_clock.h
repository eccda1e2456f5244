// Seconds between two readings of the monotonic counter, the time the drag
// speed and the idle spin are measured in. The counter's rate is asked for
// once, on first use.
#pragma once

#include <cstdint>

struct PerfClock {
    uint64_t counterFrequency; // counts per second
    int32_t counterAvailable;  // nonzero when a monotonic counter exists
    int32_t frequencyQueried;  // the frequency is asked for once, on first use
};

extern PerfClock perfClock;

// Reads the counter into *now and returns the seconds since `since`, or 1.0
// when there is no monotonic counter.
double elapsedSeconds(uint64_t since, uint64_t* now);
