// MetaImage volumes: a text header of "Key = Value" lines ending with
// ElementDataFile, then the samples in the same file (.mha, "LOCAL"), in a
// data file beside it (.mhd), or one slice per file (a LIST of names, or a
// numbered pattern); raw, or deflated with zlib.
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Whether the first line is a MetaImage field, "ObjectType =" or "NDims =".
bool startsWithMetaImage(const uint8_t* head, size_t size);

struct MetaImageHeader {
    SampleLayout layout; // in the patient's LPS frame when the header orients it
    int channels = 1;    // 3 or 4: 8-bit colours
    int64_t volumes = 1; // a fourth dimension: the first volume is read
    bool compressed = false;
    int64_t compressedSize = -1; // CompressedDataSize, -1 when not given
    int64_t headerSize = 0;      // bytes before a data file's samples; -1: they end the file
    // "LOCAL": the samples follow the header, from headerEnd; else the
    // files that hold them, the whole array in one or `fileSamples`
    // samples in each.
    bool local = false;
    std::vector<std::string> dataFiles;
    bool sliced = false; // a LIST or a pattern, however many files it names
    int64_t fileSamples = 0;
    size_t headerEnd = 0;
};

// Reads the header: NDims 2, 3 or 4, DimSize, ElementType (MET_CHAR to
// MET_ULONG_LONG, MET_FLOAT, MET_DOUBLE, and MET_UCHAR_ARRAY of 3 or 4
// channels), ElementSpacing (or ElementSize), Offset (Position, Origin),
// TransformMatrix (Rotation, Orientation) or else AnatomicalOrientation,
// the byte order, CompressedData, HeaderSize and ElementDataFile, with the
// names a LIST gives after it (as many as the first volume needs) or a
// pattern "name%03d.raw FIRST LAST STEP" stands for. Refuses what it cannot
// honour with a sentence in `error`.
bool parseMetaImageHeader(const uint8_t* data, size_t size, MetaImageHeader& header,
                          std::string& error);

// The name a printf pattern with one integer conversion (%d, %03d, %i)
// gives `number` (of at most 12 digits); false for any other pattern,
// which is never handed to printf.
bool patternName(const std::string& pattern, int64_t number, std::string& name);
