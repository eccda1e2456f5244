#include "model/large_array.h"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>

void* allocateLargeArray(size_t bytes) {
    void* block = malloc(bytes);
    const uintptr_t huge = uintptr_t(2) << 20;
    if (block && bytes >= 2 * huge) {
        uintptr_t first = (uintptr_t(block) + huge - 1) & ~(huge - 1);
        uintptr_t last = (uintptr_t(block) + bytes) & ~(huge - 1);
        if (last > first)
            madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
    return block;
}
