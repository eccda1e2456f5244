// The real monotonic counter and sleep. Elapsed time is bounded only from
// below, or by another clock read around it: a loaded machine may sleep or
// schedule late, never early.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include <signal.h>
#include <sys/time.h>
#include <time.h>

#include "camera/idle_animation.h"
#include "platform/clock.h"
#include "platform/sleep.h"

namespace {

volatile sig_atomic_t alarms = 0;

void countAlarm(int) {
    alarms = alarms + 1;
}

double threadCpuSeconds() {
    timespec t = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
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

// The spin turns by its speed times the counts between two readings divided
// by the rate the counter reports, so a wrong rate spins every flung model
// too fast or too slow. Measured against the standard library's steady clock
// (the same system clock), the seconds worked out from the counter lie
// between two steady readings taken just inside the counter's and two taken
// just outside them, however late the machine schedules this thread.
TEST(PlatformClock, ReportedRateTurnsCountsIntoSeconds) {
    uint64_t frequency = 0;
    ASSERT_TRUE(queryMonotonicFrequency(&frequency));
    ASSERT_GT(frequency, 0u);
    using Steady = std::chrono::steady_clock;
    const Steady::time_point outerStart = Steady::now();
    const uint64_t before = readMonotonicCounter();
    const Steady::time_point innerStart = Steady::now();
    sleepMilliseconds(20);
    const Steady::time_point innerEnd = Steady::now();
    const uint64_t after = readMonotonicCounter();
    const Steady::time_point outerEnd = Steady::now();
    const double counted = double(after - before) / double(frequency);
    const double inner = std::chrono::duration<double>(innerEnd - innerStart).count();
    const double outer = std::chrono::duration<double>(outerEnd - outerStart).count();
    // A microsecond either way for the rounding of the two clocks' units.
    EXPECT_GE(counted, inner - 1e-6);
    EXPECT_LE(counted, outer + 1e-6);
    EXPECT_GE(inner, 0.020);
}

// The view at rest sleeps between idle calls so that it leaves the processor
// to others: the sleep must give the processor up, not wait for the time to
// pass on it, and it must last, or GLUT calls the idle callback again at once
// and the resting view keeps a core busy all the same. Twenty rests of the
// idle loop take the time asked and almost no processor time.
TEST(PlatformSleep, RestingLeavesTheProcessorIdle) {
    const int rests = 20;
    const double cpuBefore = threadCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    for (int i = 0; i < rests; ++i)
        sleepMilliseconds(restSleepMilliseconds);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallBefore;
    const double used = threadCpuSeconds() - cpuBefore;
    const double asked = rests * restSleepMilliseconds / 1000.0;
    EXPECT_GE(wall.count(), asked) << "the rests were cut short";
    EXPECT_LT(used, 0.25 * asked) << "the rests kept the processor busy for " << used << " s";
}

// A signal (a child ending, a timer of a library) cuts a sleep short; the
// sleep must still last what was asked, or the view at rest would poll as
// fast as the signals come. A timer firing every 2 ms during a 30 ms sleep
// interrupts it many times over.
TEST(PlatformSleep, SignalsDoNotCutASleepShort) {
    struct sigaction action = {}, saved = {};
    action.sa_handler = countAlarm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: each signal ends the system call
    ASSERT_EQ(sigaction(SIGALRM, &action, &saved), 0);
    itimerval every2ms = {{0, 2000}, {0, 2000}}, off = {{0, 0}, {0, 0}};
    alarms = 0;
    ASSERT_EQ(setitimer(ITIMER_REAL, &every2ms, nullptr), 0);
    // Timed by the standard library's clock, so that this holds whatever the
    // counter's rate.
    const auto before = std::chrono::steady_clock::now();
    sleepMilliseconds(30);
    const auto after = std::chrono::steady_clock::now();
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &saved, nullptr);
    EXPECT_GE(after - before, std::chrono::milliseconds(30));
    EXPECT_GT(alarms, 0) << "no signal arrived during the sleep";
}

} // namespace
