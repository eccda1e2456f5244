#include "platform/heap_cap.h"

#include "platform/address_sanitizer.h"

#ifdef VOXSCOPE_ADDRESS_SANITIZER
#include <atomic>

// GCC ships no allocator_interface.h; its runtime has the function all the
// same.
#if __has_include(<sanitizer/allocator_interface.h>)
#include <sanitizer/allocator_interface.h>
#else
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

static std::atomic<int64_t> heapCap{0};

void setHeapCap(int64_t bytes) {
    heapCap.store(bytes, std::memory_order_relaxed);
}

bool heapCapAllows(size_t bytes) {
    const int64_t cap = heapCap.load(std::memory_order_relaxed);
    if (cap <= 0)
        return true;
    const size_t held = __sanitizer_get_current_allocated_bytes();
    return bytes <= size_t(cap) && held <= size_t(cap) - bytes;
}
#else
void setHeapCap(int64_t) {}

bool heapCapAllows(size_t) {
    return true;
}
#endif
