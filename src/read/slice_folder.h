// A folder of image slices, one file each: which of its files are slices,
// in the order of the numbers in their names, and how many bytes they take
// (the memory cap grows with them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whether `a` comes before `b` in natural order: runs of digits compare as
// numbers ("img_2" before "img_10"), everything else byte by byte.
bool naturalLess(const std::string& a, const std::string& b);

// The names of the regular files in `folder` that end in one of
// `extensions` (lower case, with the dot, matched in any case; a null ends
// the list), hidden ones left out, in natural order. False with a reason
// when the folder cannot be listed.
bool sliceNames(const char* folder, const char* const* extensions, std::vector<std::string>& names,
                std::string& reason);

// The bytes of those files together (0 when the folder cannot be listed).
int64_t sliceBytes(const char* folder, const char* const* extensions);
