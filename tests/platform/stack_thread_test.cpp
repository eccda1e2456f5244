// The thread with a stack of its own: deep recursion fits in it, what the
// work throws comes back, and running past the stack ends the process with
// the given line instead of a fault.
#include <gtest/gtest.h>

#include "platform/address_sanitizer.h"
#include "platform/memory_room.h"
#include "platform/stack_thread.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/resource.h>
#include <vector>

namespace {

// Recurses `levels` deep with 4 KiB of frame each, which the compiler can
// neither drop nor turn into a loop; returns a sum that depends on every
// frame.
__attribute__((noinline)) unsigned recurse(unsigned levels) {
    volatile unsigned char frame[4096];
    memset(const_cast<unsigned char*>(frame), int(levels & 0xff), sizeof frame);
    if (levels == 0)
        return frame[0];
    return recurse(levels - 1) + frame[levels % sizeof frame];
}

} // namespace

TEST(StackThread, RecursionFarBeyondAProcessStackFitsInOne) {
    // 64 MiB of frames: eight times what a process starts with.
    unsigned sum = 0;
    ASSERT_TRUE(runOnOwnStack(
        size_t(256) << 20, [&] { sum = recurse(16384); }, "overflow\n"));
    unsigned expected = 0;
    for (unsigned levels = 1; levels <= 16384; ++levels)
        expected += levels & 0xff;
    EXPECT_EQ(sum, expected);
}

TEST(StackThread, WhatTheWorkThrowsIsThrownToTheCaller) {
    EXPECT_THROW(
        runOnOwnStack(
            size_t(1) << 20, [] { throw std::runtime_error("from the work"); }, "overflow\n"),
        std::runtime_error);
    // And the next run starts clean.
    bool ran = false;
    EXPECT_TRUE(runOnOwnStack(
        size_t(1) << 20, [&] { ran = true; }, "overflow\n"));
    EXPECT_TRUE(ran);
}

TEST(StackThread, NoStackToHaveRunsNothing) {
    bool ran = false;
    EXPECT_FALSE(runOnOwnStack(
        size_t(1) << 62, [&] { ran = true; }, "overflow\n"));
    EXPECT_FALSE(ran);
}

TEST(StackThreadDeathTest, RunningPastTheStackEndsWithTheLine) {
    EXPECT_EXIT(runOnOwnStack(
                    size_t(1) << 20, [] { recurse(1u << 20); }, "tool: the work nested too deep\n"),
                testing::ExitedWithCode(1), "^tool: the work nested too deep\n$");
}

#ifndef VOXSCOPE_ADDRESS_SANITIZER // its shadow memory cannot live under a limit
TEST(StackThreadDeathTest, TheStackComesOnTopOfTheAddressSpaceLimit) {
    // A limit 160 MiB above what the process maps now: a 256 MiB stack and
    // a 112 MiB block of heap fit under it only if the stack is counted on
    // top and the thread reserves no heap of its own (64 MiB). Afterwards the limit is
    // what it was.
    EXPECT_EXIT(
        {
            rlimit limit;
            getrlimit(RLIMIT_AS, &limit);
            const rlim_t cap = procFieldBytes("/proc/self/status", "VmSize") + (160 << 20);
            limit.rlim_cur = cap;
            setrlimit(RLIMIT_AS, &limit);
            bool filled = false;
            const bool ran = runOnOwnStack(
                size_t(256) << 20,
                [&] {
                    std::vector<char> block(size_t(112) << 20, 1);
                    filled = block[12345] == 1;
                },
                "overflow\n");
            getrlimit(RLIMIT_AS, &limit);
            exit(ran && filled && limit.rlim_cur == cap ? 0 : 2);
        },
        testing::ExitedWithCode(0), "");
}
#endif
