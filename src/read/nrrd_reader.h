// NRRD volumes: a text header (attached to its data, or a detached .nhdr
// naming its data file) and raw or gzip-compressed samples.
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Whether a file starts as NRRD does, with "NRRD000".
bool startsWithNrrd(const uint8_t* head, size_t size);

struct NrrdHeader {
    SampleLayout layout;
    bool gzip = false;
    std::string dataFile; // empty when the data follows the header
    int64_t lineSkip = 0;
    int64_t byteSkip = 0; // -1: the data is the last bytes of the file
    size_t headerEnd = 0; // where attached data starts
};

// Reads the header at the start of `data`: a 3-D array ("dimension: 3"), or
// a 4-D one with an axis not of space (by "kinds", a "none" space
// direction, a first axis of size 1, else the slowest): 8-bit RGB-color or
// RGBA-color channels, or a series of which the first volume is read (all
// of it is checked and held); one of the integer
// or floating-point types, raw or gzip encoding, "spacings" or "space
// directions" (a direction's length is the spacing, and in a patient
// "space", RAS, LAS or LPS, where the axis points), "space origin",
// "endian", "byte skip", "line skip" and "data file". Unknown fields are
// ignored as the format allows; refuses what it cannot honour with a
// sentence in `error`.
bool parseNrrdHeader(const uint8_t* data, size_t size, NrrdHeader& header, std::string& error);

// The bytes a sample takes, with every sample of the extra axis.
size_t nrrdItemBytes(const NrrdHeader& header);

// Decodes the samples of `header` from `bytes`, starting at `start`: the
// attached data after the header, or the whole detached data file. "line
// skip" lines and then, for raw data, "byte skip" bytes are passed over
// first; gzip data is decompressed to at most the array's size (the header's
// claim is checked against `maxBytes` first) and its byte skip taken from
// the decompressed bytes. Raw data must hold the array's bytes.
bool decodeNrrdData(const NrrdHeader& header, std::vector<uint8_t> bytes, size_t start,
                    int64_t maxBytes, SampleVolume& out, std::string& error);

// Reads the NRRD file at `path` whose bytes are `bytes`: attached data from
// the same bytes, detached data from the data file, which must be a regular
// file in the header's folder or below (data_file.h) and not `output`. Raw
// detached data must be exactly as long as the header's skips and samples
// (with a byte skip of -1, at least the samples), which are all that is read
// of it; gzip-encoded detached data no larger than `maxBytes`.
bool readNrrd(const std::string& path, std::vector<uint8_t> bytes, int64_t maxBytes,
              SampleVolume& out, std::string& error, const std::string& output = std::string());

// The path of the data file a detached header at `path` names; false with a
// sentence in `error` when the header may not name it (data_file.h).
bool nrrdDataPath(const std::string& path, const NrrdHeader& header, std::string& dataPath,
                  std::string& error);
