// The grid inputs read as arrays of samples: binvox, NumPy .npy and .npz,
// NRRD and NIfTI-1, recognised by their first bytes (a gzip stream is looked
// into), whatever the file is called.
#pragma once

#include "convert/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class VolumeFormat { none, binvox, npy, npz, nrrd, nifti };

// The format `data` (the start of a file, already decompressed when it was
// gzip) begins as; none when it is not one of these.
VolumeFormat sniffVolumeFormat(const uint8_t* data, size_t size);

// How the format is named in messages ("binvox", "NumPy .npy", ...).
const char* volumeFormatName(VolumeFormat format);

// The format of the file whose bytes are `bytes`, looking into a gzip
// stream's first bytes when it is one.
VolumeFormat sniffVolumeBytes(const std::vector<uint8_t>& bytes);

// Reads the file at `path`, whose whole content is `bytes`, as `format`
// (from sniffVolumeBytes). A gzip file is decompressed to no more than its
// header claims, and no claim beyond `maxBytes` is taken up. Detached data
// (an NRRD "data file", a NIfTI .hdr's .img) is read from beside the file.
// `notes` collects remarks for the user (the .npz member read, a series of
// which only the first volume is taken).
bool readVolumeFile(const std::string& path, std::vector<uint8_t> bytes, VolumeFormat format,
                    int64_t maxBytes, SampleVolume& out, std::vector<std::string>& notes,
                    std::string& error);
