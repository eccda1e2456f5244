// Reading the converter's input file into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The size of the file at `path`, 0 when it has none (a pipe, a missing file).
int64_t inputFileBytes(const char* path);

// The first `most` bytes of a regular file (fewer when it is shorter). False
// with a sentence in `error` when it cannot be read or is not a regular file:
// a pipe or FIFO gives its bytes once, to the reader that reads it whole.
bool readFileHead(const char* path, size_t most, std::vector<uint8_t>& head, std::string& error);

// The whole file: a regular file in one read of its size, anything else (a
// pipe) in blocks until it ends.
bool readWholeFile(const char* path, std::vector<uint8_t>& bytes, std::string& error);
