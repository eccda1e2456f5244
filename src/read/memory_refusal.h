// How a reader refuses a header whose claim would not fit the memory
// allowed, before it allocates anything for it.
#pragma once

#include <cstdint>
#include <string>

// "WHAT is larger than the memory allowed: it needs N MiB, more than the M
// MiB allowed (raise --max-memory)". `neededBytes` may be far beyond what
// 64 bits count.
std::string memoryRefusal(const std::string& what, long double neededBytes, int64_t allowedBytes);
