// The start of an HDF5 file, checked before libhdf5 is given it: where its
// superblock is and the end of file it states, so that a file cut short is
// refused at once, without a child process for the library.
#pragma once

#include <cstdint>
#include <string>

// Whether the file at `path` holds HDF5's signature at 0, 512, 1024 ...
// bytes and at least the bytes its superblock says the file ends at. False
// with one sentence in `reason` otherwise. A superblock this cannot parse
// (an unknown version) is left to the library.
bool hdf5SuperblockFits(const char* path, std::string& reason);
