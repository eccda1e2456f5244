// The heap cap: past it a request is refused in builds with the address
// checker (where it stands in for the address-space cap), and never in
// others, whose programs (the viewer) must allocate as they always did.
#include <gtest/gtest.h>

#include "platform/address_sanitizer.h"
#include "platform/heap_cap.h"
#include "platform/large_array.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr size_t mebibyte = size_t(1) << 20;

TEST(HeapCap, RefusesPastTheCapOnlyUnderTheAddressChecker) {
    setHeapCap(int64_t(64 * mebibyte));
#ifdef VOXSCOPE_ADDRESS_SANITIZER
    EXPECT_TRUE(heapCapAllows(mebibyte));
    // The heap already holds the test's own bytes, so 64 MiB more passes.
    EXPECT_FALSE(heapCapAllows(64 * mebibyte));
    EXPECT_FALSE(heapCapAllows(SIZE_MAX));
    EXPECT_EQ(allocateLargeArray(128 * mebibyte), nullptr);
#else
    EXPECT_TRUE(heapCapAllows(64 * mebibyte));
    EXPECT_TRUE(heapCapAllows(SIZE_MAX));
#endif
    void* block = allocateLargeArray(mebibyte);
    EXPECT_NE(block, nullptr);
    free(block);
    setHeapCap(0);
    EXPECT_TRUE(heapCapAllows(size_t(1) << 40));
}

} // namespace
