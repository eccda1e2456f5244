// A cap on the heap, for builds with the address checker: there the
// address space cannot be capped (its shadow memory reserves terabytes), so
// a program that caps its memory asks this before each large request
// instead. Other builds have no cap here and every request is allowed.
#pragma once

#include <cstddef>
#include <cstdint>

// Sets the cap on the bytes the heap holds at once (0: none). Builds without
// the address checker ignore it.
void setHeapCap(int64_t bytes);

// Whether `bytes` more may be taken from the heap now: what it holds plus
// `bytes` is within the cap.
bool heapCapAllows(size_t bytes);
