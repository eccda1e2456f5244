// The small sample files the project keeps, and the lengths the truncation
// tests cut them at: a file cut anywhere must be read as what it then is.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct SampleFile {
    std::string path;  // where the sample lives in the source tree
    std::string bytes; // its whole content
};

// Adds every regular file in `dir` whose name ends in `suffix`, in name order.
// A file with the same bytes as one already in `samples` is left out (the
// fuzz corpus keeps copies of the hostile files), so each content is cut once.
void addSampleFiles(const char* dir, const char* suffix, std::vector<SampleFile>* samples);

// Every length up to this is tried; a longer file is cut at every length up to
// it, then every prefixStride-th length, then at each of its last prefixTail
// lengths, where the last numbers end.
constexpr size_t allPrefixLengthsUpTo = 2048;
constexpr size_t prefixStride = 499;
constexpr size_t prefixTail = 64;

// The lengths a file of `size` bytes is cut at, longest first, `size` itself
// (the whole file) included.
std::vector<size_t> prefixLengths(size_t size);

// Cuts the file at `path` to its first `length` bytes; aborts when it cannot.
void cutFile(const std::string& path, size_t length);
