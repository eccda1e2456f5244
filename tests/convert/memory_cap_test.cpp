// The converter's default memory cap: its formula, held within the machine's
// memory and within the room its control group has left.
#include <gtest/gtest.h>

#include "convert/memory_cap.h"
#include "platform/memory_room.h"

namespace {

constexpr int64_t mebibyte = int64_t(1) << 20;
constexpr int64_t gibibyte = int64_t(1) << 30;

TEST(MemoryCap, TheLeastOfTheFormulaTheMachineAndTheGroup) {
    // 1 GiB, 64 bytes per input byte and 64 per voxel allowed.
    const int64_t formula = gibibyte + 64 * 3000000 + 64 * 10000000;
    EXPECT_EQ(memoryCapWithin(3000000, 10000000, unlimitedRoom, unlimitedRoom), formula);
    EXPECT_EQ(memoryCapWithin(3000000, 10000000, 24 * uint64_t(gibibyte), unlimitedRoom), formula);
    // A small machine, then a group with less room than the machine.
    EXPECT_EQ(memoryCapWithin(3000000, 10000000, 1536 * mebibyte, unlimitedRoom), 1536 * mebibyte);
    EXPECT_EQ(memoryCapWithin(3000000, 10000000, 24 * uint64_t(gibibyte), 700 * mebibyte),
              700 * mebibyte);
    // A roomy group leaves the formula as it is.
    EXPECT_EQ(memoryCapWithin(3000000, 10000000, 24 * uint64_t(gibibyte), 100 * uint64_t(gibibyte)),
              formula);
    // A full group still gives a cap (0 would mean "none chosen").
    EXPECT_EQ(memoryCapWithin(3000000, 10000000, 24 * uint64_t(gibibyte), 0), 1);
}

} // namespace
