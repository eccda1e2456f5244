// The fuzz targets of readers that take a path: each input is written to a
// file of this process's own, so that parallel fuzzing jobs do not trample
// each other.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes the `size` bytes at `data` to this process's file for `target` (under
// $TMPDIR, else /tmp) and returns its path; aborts when it cannot.
const char* writeFuzzInput(const char* target, const uint8_t* data, size_t size);

// Writes the bytes as `name` in a folder of this process's own that holds
// nothing else (a reader of series looks through the folder of the file it is
// given) and returns its path; aborts when it cannot.
const char* writeFuzzInputAlone(const char* target, const char* name, const uint8_t* data,
                                size_t size);
