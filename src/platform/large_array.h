// Memory for the big arrays (the model's numbers and the cube arrays).
#pragma once

#include <cstddef>

// malloc, asking for 2 MiB pages where the block spans them: the kernel then
// supplies (and zeroes) fresh memory in 512 times fewer faults, which is most
// of the cost of filling it. The advice is only a hint; the block is released
// with free() as usual.
void* allocateLargeArray(size_t bytes);

// Memory for a buffer taken and given back within one step (a file's text):
// mapped on its own, aligned to the 2 MiB large-page size and advised to use
// large pages, so that filling it faults once per 2 MiB. Null when no memory.
void* mapLargeBuffer(size_t bytes);

// Gives back a buffer from mapLargeBuffer of the same size.
void unmapLargeBuffer(void* buffer, size_t bytes);
