#include "platform/perf_clock.h"

#include "platform/clock.h"

PerfClock perfClock = {};

double elapsedSeconds(uint64_t since, uint64_t* now) {
    *now = readMonotonicCounter();
    if (!perfClock.frequencyQueried) {
        perfClock.counterAvailable = queryMonotonicFrequency(&perfClock.counterFrequency) ? 1 : 0;
        perfClock.frequencyQueried = 1;
    }
    if (!perfClock.counterAvailable || perfClock.counterFrequency == 0)
        return 1.0;
    return double(*now - since) / double(perfClock.counterFrequency);
}
