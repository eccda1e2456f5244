#include "render/draw_memory.h"

// Our own arrays: 24 vertices of three floats, 24 colours of three bytes and
// 36 indices of four bytes per voxel.
static constexpr uint64_t arrayBytesPerVoxel = 24 * 3 * 4 + 24 * 3 + 36 * 4;

// The driver's share, measured with Mesa's software rasteriser (llvmpipe) on
// random clouds of 1,000,000 to 20,000,000 voxels: the peak once the first
// frame is drawn, less our arrays and what the process held where it checks,
// right after loading (bench/memory_to_draw.py). It is not a fixed cost per
// voxel (its copy of the list, every vertex again and its indices, grows in
// steps): beyond a start-up of 128 MiB it ranged from 420 bytes a voxel
// (1,000,000 voxels) to 515 (4,000,000), and 430 at 20,000,000. The figure
// below is 5% above the most seen, so a model let through has room; the
// largest are refused about a tenth short of where they would really stop.
// Starting the rasteriser maps about 430 MiB of address space (code, and
// stacks and heaps for its threads).
static constexpr uint64_t driverBytesPerVoxel = 540;
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
