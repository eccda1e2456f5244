// Memory for the big arrays (the model's numbers and the cube arrays).
#pragma once

#include <cstddef>

// malloc, asking for 2 MiB pages where the block spans them: the kernel then
// supplies (and zeroes) fresh memory in 512 times fewer faults, which is most
// of the cost of filling it. The advice is only a hint; the block is released
// with free() as usual.
void* allocateLargeArray(size_t bytes);
