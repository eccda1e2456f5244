// A walk over a DICOM file's data elements that checks every length they
// claim against the bytes that hold them, before a library that takes a
// claimed length at its word (and allocates it) is handed the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Whether the file at `path` (at most `maxBytes` long, or its deflated data
// set at most that long once inflated) has elements whose lengths all fit
// within what holds them, nested at most 64 deep. False with a sentence in
// `problem` ("its element (7FE0,0010) claims ...").
bool dicomElementsFit(const std::string& path, int64_t maxBytes, std::string& problem);

// The same for a file's bytes in memory, from its preamble on.
bool dicomBytesFit(const uint8_t* data, size_t size, int64_t maxBytes, std::string& problem);
