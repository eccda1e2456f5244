// Whole numbers as files store them: least significant byte first (zip,
// NumPy) or either way round (NIfTI, by its header's own size field).
#pragma once

#include <cstdint>

// The unsigned number in the `bytes` bytes at `at` (at most 8), least
// significant first.
inline uint64_t readLittleEndian(const uint8_t* at, int bytes) {
    uint64_t value = 0;
    for (int n = bytes - 1; n >= 0; --n)
        value = (value << 8) | at[n];
    return value;
}

// The same, most significant first when `bigEndian`.
inline uint64_t readStoredOrder(const uint8_t* at, int bytes, bool bigEndian) {
    if (!bigEndian)
        return readLittleEndian(at, bytes);
    uint64_t value = 0;
    for (int n = 0; n < bytes; ++n)
        value = (value << 8) | at[n];
    return value;
}
