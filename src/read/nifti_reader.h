// NIfTI volumes: the fixed header (NIfTI-1: 348 bytes; NIfTI-2: 540, with
// 64-bit fields), then the samples, in one .nii file (magic "n+1", "n+2")
// or in an .img beside a .hdr (magic "ni1", "ni2").
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The header's first field is its own size, 348, in either byte order, and
// its last the magic "n+1\0" or "ni1\0".
bool startsWithNiftiHeader(const uint8_t* data, size_t size);
// NIfTI-2: the size field 540 and the magic "n+2\0\r\n\032\n" or
// "ni2\0\r\n\032\n".
bool startsWithNifti2Header(const uint8_t* data, size_t size);

struct NiftiHeader {
    SampleLayout layout;
    double slope = 1.0;
    double intercept = 0.0;
    bool pair = false;        // "ni1": the samples are in a separate .img file
    size_t dataOffset = 0;    // where the samples start (in the .img for a pair)
    bool moreVolumes = false; // a series of volumes: the first is read
    int64_t volumes = 1;      // how many: dim[4] x ... x dim[dim[0]]
};

// Reads the header (NIfTI-2 when its size field says 540): the volume's first three dimensions (a
// 4-D series gives its first volume), the datatype (integers of 8 to 64 bits, float32, float64),
// where the samples lie in the patient's RAS frame (the sform when its code is set, else the qform
// with pixdim 1 to 3 as spacings, else those spacings alone and no frame), and scl_slope /
// scl_inter (a slope of 0 means none).
bool parseNiftiHeader(const uint8_t* data, size_t size, NiftiHeader& header, std::string& error);

// The bytes that the header's data reaches to: its offset plus the first
// volume's samples; -1 when that passes `maxBytes`.
int64_t niftiDataEnd(const NiftiHeader& header, int64_t maxBytes);

// The refusal of a header whose data would pass `maxBytes` (see
// memoryRefusal).
std::string niftiMemoryRefusal(const NiftiHeader& header, int64_t maxBytes);

// Takes the samples of `header` from `bytes` (the .nii itself, or the .img).
bool decodeNiftiData(const NiftiHeader& header, std::vector<uint8_t> bytes, int64_t maxBytes,
                     SampleVolume& out, std::string& error);

// The .img that goes with a .hdr at `path` (same name, .img or .IMG).
std::string niftiImagePath(const std::string& path);
