// What drawing a model takes, beyond the loaded model itself: the cube
// arrays, and the copy of display list 1 that the GL driver keeps. The driver
// takes its copy only when the list is compiled, on the first frame, and has
// no way to refuse it: asked for more memory than there is, it crashes, or
// the system's out-of-memory killer ends the process. So the viewer compares
// this estimate with the room it has before it opens the window.
#pragma once

#include <cstdint>

#include "platform/memory_room.h"

struct DrawMemory {
    uint64_t addressSpace; // address space mapped
    uint64_t resident;     // memory actually filled
};

// The estimate for a model of `count` voxels.
DrawMemory memoryToDraw(int32_t count);

// Whether drawing needs no more than there is room for on both counts.
bool roomToDraw(const DrawMemory& need, const MemoryRoom& room);
