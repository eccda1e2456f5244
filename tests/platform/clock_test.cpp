// The real monotonic counter and sleep. Only lower bounds on elapsed time are
// checked: a loaded machine may sleep or schedule late, never early.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "platform/clock.h"
#include "platform/sleep.h"

namespace {

TEST(PlatformClock, CountsNanoseconds) {
    uint64_t frequency = 0;
    EXPECT_TRUE(queryMonotonicFrequency(&frequency));
    EXPECT_EQ(frequency, 1000000000u);
}

TEST(PlatformClock, NeverGoesBack) {
    uint64_t previous = readMonotonicCounter();
    EXPECT_GT(previous, 0u);
    uint64_t first = previous;
    for (int i = 0; i < 200000; ++i) {
        uint64_t now = readMonotonicCounter();
        ASSERT_GE(now, previous) << "read " << i;
        previous = now;
    }
    EXPECT_GT(previous, first) << "200000 reads took no time at all";
}

TEST(PlatformClock, SleepLastsAtLeastWhatWasAsked) {
    uint64_t frequency = 0;
    ASSERT_TRUE(queryMonotonicFrequency(&frequency));
    for (unsigned ms : {10u, 25u}) {
        SCOPED_TRACE(ms);
        uint64_t before = readMonotonicCounter();
        sleepMilliseconds(ms);
        uint64_t after = readMonotonicCounter();
        EXPECT_GE(after - before, uint64_t(ms) * frequency / 1000u);
    }
}

// The counter runs at the rate it reports: over an interval that the standard
// library's steady clock measures from inside, it counts at least as much.
TEST(PlatformClock, RateAgreesWithTheSteadyClock) {
    uint64_t frequency = 0;
    ASSERT_TRUE(queryMonotonicFrequency(&frequency));
    uint64_t before = readMonotonicCounter();
    auto start = std::chrono::steady_clock::now();
    sleepMilliseconds(20);
    auto end = std::chrono::steady_clock::now();
    uint64_t after = readMonotonicCounter();
    double counted = double(after - before) / double(frequency);
    double measured = std::chrono::duration<double>(end - start).count();
    EXPECT_GE(counted, measured);
    EXPECT_GE(measured, 0.020);
}

TEST(PlatformClock, ZeroSleepReturns) {
    uint64_t before = readMonotonicCounter();
    sleepMilliseconds(0);
    EXPECT_GE(readMonotonicCounter(), before);
}

} // namespace
