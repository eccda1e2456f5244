#include "platform/clock.h"

#include <time.h>

// CLOCK_MONOTONIC counts nanoseconds from an arbitrary fixed start and never
// goes back when the wall clock is set.
static constexpr uint64_t nanosecondsPerSecond = 1000000000ull;

uint64_t readMonotonicCounter() {
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0)
        return 0;
    return uint64_t(now.tv_sec) * nanosecondsPerSecond + uint64_t(now.tv_nsec);
}

bool queryMonotonicFrequency(uint64_t* countsPerSecond) {
    struct timespec resolution;
    if (clock_getres(CLOCK_MONOTONIC, &resolution) != 0) {
        *countsPerSecond = 0;
        return false;
    }
    *countsPerSecond = nanosecondsPerSecond;
    return true;
}
