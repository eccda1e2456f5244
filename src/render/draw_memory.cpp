#include "render/draw_memory.h"

// Our own arrays: 24 vertices of three floats, 24 colours of three bytes and
// 36 indices of four bytes per voxel.
static constexpr uint64_t arrayBytesPerVoxel = 24 * 3 * 4 + 24 * 3 + 36 * 4;

// The driver's share, measured with Mesa's software rasteriser (llvmpipe) on
// random clouds of 100,000 to 10,000,000 voxels: the peak once the first
// frame is drawn, less our arrays and what the process held where it checks,
// right after loading (bench/memory_to_draw.py). Per voxel the driver fills
// about 515 bytes (its copy of the list: every vertex again, with its colour
// widened); starting the rasteriser maps about 430 MiB (code, and stacks and
// heaps for its threads) and fills about 100 MiB of it. The figures below add
// 5% to the part per voxel and a tenth to the fixed part, so that a model is
// refused only where it would come within a few per cent of the limit.
static constexpr uint64_t driverBytesPerVoxel = 541;
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
