// Seconds from counter readings: the rate asked for once, whole counts
// subtracted before dividing, and one second per step without a counter.
// These run against the unit tests' fake counter, which the test advances.
#include <gtest/gtest.h>

#include <cstdint>

#include "fakes.h"
#include "platform/perf_clock.h"

TEST(PerfClock, ElapsedSecondsQueriesFrequencyOnce) {
    resetAllState();
    uint64_t now = 0;
    uint64_t start = fakeClock.counter;
    EXPECT_EQ(elapsedSeconds(start, &now), 0.0);
    EXPECT_EQ(now, start);
    advanceClock(0.25);
    EXPECT_NEAR(elapsedSeconds(start, &now), 0.25, 1e-12);
    EXPECT_EQ(now, fakeClock.counter);
    // The difference is taken in whole counts, so a day-old reading loses nothing.
    EXPECT_NEAR(elapsedSeconds(fakeClock.counter - 1, &now), 1e-9, 1e-15);
    EXPECT_EQ(fakeClock.frequencyQueries, 1);
    EXPECT_EQ(perfClock.frequencyQueried, 1);
    EXPECT_EQ(perfClock.counterFrequency, 1000000000ull);
}

TEST(PerfClock, UnavailableClockAnswersOneSecond) {
    resetAllState();
    fakeClock.available = false;
    uint64_t now = 0;
    for (double gap : {0.0, 0.01, 5.0}) {
        uint64_t since = fakeClock.counter;
        advanceClock(gap);
        EXPECT_EQ(elapsedSeconds(since, &now), 1.0);
    }
    EXPECT_EQ(fakeClock.frequencyQueries, 1);
    EXPECT_EQ(perfClock.counterAvailable, 0);
}
