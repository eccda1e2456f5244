#include "platform/large_array.h"

#include "platform/heap_cap.h"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>

void* allocateLargeArray(size_t bytes) {
    // Past a heap cap (set only by a program that caps its memory, in builds
    // with the address checker) the block is refused as malloc would refuse
    // it at an address-space limit.
    if (!heapCapAllows(bytes))
        return nullptr;
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

static constexpr size_t largePage = size_t(2) << 20;

static size_t wholeLargePages(size_t bytes) {
    return (bytes + largePage - 1) / largePage * largePage;
}

void* mapLargeBuffer(size_t bytes) {
    size_t length = wholeLargePages(bytes);
    if (length < bytes || length + largePage < length)
        return nullptr;
    // Map one large page more than needed and trim both ends to the aligned
    // part, which is then exactly what unmapLargeBuffer gives back.
    void* region = mmap(nullptr, length + largePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED)
        return nullptr;
    uintptr_t start = uintptr_t(region);
    uintptr_t aligned = (start + largePage - 1) & ~(largePage - 1);
    if (aligned > start)
        munmap(region, aligned - start);
    if (start + largePage > aligned)
        munmap(reinterpret_cast<void*>(aligned + length), start + largePage - aligned);
    void* buffer = reinterpret_cast<void*>(aligned);
    madvise(buffer, length, MADV_HUGEPAGE);
    return buffer;
}

void unmapLargeBuffer(void* buffer, size_t bytes) {
    if (buffer)
        munmap(buffer, wholeLargePages(bytes));
}
