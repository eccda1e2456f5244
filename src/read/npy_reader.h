// NumPy arrays: .npy files (format versions 1 to 3) and the first array of an
// .npz archive (members stored or deflated).
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Whether a file starts as .npy does, with "\x93NUMPY".
bool startsWithNpy(const uint8_t* head, size_t size);

// Reads a whole .npy file held in `data`: a 3-D array of bool, int8 to
// int64, uint8 to uint64, float32 or float64, in C or Fortran order and
// either byte order. Element
// [i][j][k] is sample (i, j, k). Bool arrays are occupancy, integers labels,
// floats values. Refuses any other dtype or shape, a header that does not
// parse, and data that is not exactly what the shape needs; an array of more
// than `maxBytes` is refused before anything is allocated. Samples in this
// machine's byte order, aligned for their type, are not copied: `out`
// borrows them from `data`, which must outlive its use.
bool parseNpy(const uint8_t* data, size_t size, int64_t maxBytes, SampleVolume& out,
              std::string& error);

// Reads the first member of a zip archive (as numpy.savez and savez_compressed
// write them, zip64 included) and that member as .npy. `memberName` is set to
// the member's name, `members` to how many the archive holds. Decompression stops at the size the
// archive states and at `maxBytes`.
bool parseNpz(const uint8_t* data, size_t size, int64_t maxBytes, SampleVolume& out,
              std::string& memberName, uint64_t& members, std::string& error);
