#include "render/draw_memory.h"

// Our own arrays: 24 vertices of three floats, 24 colours of three bytes and
// 36 indices of four bytes per voxel.
static constexpr uint64_t arrayBytesPerVoxel = 24 * 3 * 4 + 24 * 3 + 36 * 4;

// The driver's share, measured with Mesa's software rasteriser (llvmpipe) on
// random clouds of 100,000 to 12,000,000 voxels: the peak once the first
// frame is drawn, less our arrays and what the process held where it checks,
// right after loading (bench/memory_to_draw.py). It is not a fixed cost per
// voxel: about 100 MiB to start the rasteriser, then 420 to 560 bytes a voxel
// beyond that, growing with the model (556 at 10,000,000, about 580 at
// 12,000,000; its copy holds every vertex again and its indices). The figure
// below is 620, a few per cent above the peaks measured for big models, so a
// model is refused only within a few per cent of the real limit and one that
// is let through has room. Starting the rasteriser maps about 430 MiB of
// address space (code, and stacks and heaps for its threads).
static constexpr uint64_t driverBytesPerVoxel = 620;
static constexpr uint64_t mebibyte = uint64_t(1) << 20;
static constexpr uint64_t driverFixedAddressSpace = 480 * mebibyte;
static constexpr uint64_t driverFixedResident = 128 * mebibyte;

DrawMemory memoryToDraw(int32_t count) {
    uint64_t n = count > 0 ? uint64_t(count) : 0;
    uint64_t perVoxel = n * (arrayBytesPerVoxel + driverBytesPerVoxel);
    return {perVoxel + driverFixedAddressSpace, perVoxel + driverFixedResident};
}

bool roomToDraw(const DrawMemory& need, const MemoryRoom& room) {
    return need.addressSpace <= room.addressSpace && need.resident <= room.physical;
}
