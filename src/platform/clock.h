// A monotonic counter with a fixed rate, for measuring drag and spin time.
#pragma once

#include <cstdint>

// Current reading of the counter.
uint64_t readMonotonicCounter();

// Fills in the counter's rate in counts per second; false when the system has
// no monotonic counter.
bool queryMonotonicFrequency(uint64_t* countsPerSecond);
