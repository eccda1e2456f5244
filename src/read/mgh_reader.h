// FreeSurfer MGH volumes (.mgh; .mgz is their gzip): a 284-byte big-endian
// header, then the samples, x fastest, one frame after another.
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Where the samples start.
constexpr size_t mghDataOffset = 284;

// Version 1, then width, height, depth and frames each from 1 to 2^24, then
// a type code this reads (uchar, int, float, short).
bool startsWithMgh(const uint8_t* head, size_t size);

struct MghHeader {
    SampleLayout layout; // in the patient's RAS frame
    int64_t frames = 1;  // a series: the first frame is read
};

// Reads the header: dimensions, type (0 uchar, 1 int32, 3 float32, 4 int16)
// and, when its ras_good_flag is set, the spacings, direction cosines and
// centre; without it, 1 mm samples in FreeSurfer's coronal LIA default
// centred on the origin.
bool parseMghHeader(const uint8_t* data, size_t size, MghHeader& header, std::string& error);

// Where the first frame's samples end; -1 when that passes `maxBytes`.
int64_t mghDataEnd(const MghHeader& header, int64_t maxBytes);
