// The header and grid descriptors of a .vdb file, walked without libopenvdb:
// where each grid's bytes end, so that a cut or damaged file is refused
// before the library, which takes every count at its word, is started.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Whether the header, the file's metadata and every grid's descriptor lie
// within the `size` bytes and each grid ends within them where its
// descriptor says. False with a reason ("it ends before ..."). A file that
// states no grid offsets (an older version, or one written to a stream)
// passes: the library alone can walk it.
bool vdbGridsFit(const uint8_t* data, size_t size, std::string& reason);
