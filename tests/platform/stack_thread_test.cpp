// The thread with a stack of its own: deep recursion fits in it, what the
// work throws comes back, and running past the stack ends the process with
// the given line instead of a fault.
#include <gtest/gtest.h>

#include "platform/stack_thread.h"

#include <cstring>
#include <stdexcept>

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
