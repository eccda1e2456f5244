// The files a DICOM input stands for: a folder's, those a DICOMDIR names,
// or the folder around one file of a series. Only files that carry the
// DICOM preamble ("DICM" at byte 128) are taken; nothing here parses more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Whether the first bytes are those of a DICOM file.
bool startsWithDicm(const uint8_t* head, size_t size);

// Whether the regular file at `path` starts as a DICOM file (it is opened
// without waiting on a FIFO).
bool isDicomFile(const std::string& path);

// Whether `folder` holds a DICOMDIR or a DICOM file at its top level.
bool isDicomFolder(const char* folder);

// The DICOM files directly in `folder` (sorted by name, so that what is read
// does not hang on the order the system lists them in), leaving out the file
// `output` names; false with a sentence when the folder cannot be listed or
// holds more than `most` entries.
bool dicomFilesIn(const std::string& folder, const std::string& output, size_t most,
                  std::vector<std::string>& files, std::string& error);

// The bytes of the DICOM files an input brings besides its own: a folder's
// all, a file's neighbours in its folder. For the memory cap.
int64_t dicomSeriesBytes(const char* path);
