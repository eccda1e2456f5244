// HDF5 volumes (tomography: Data Exchange, NeXus, ilastik and plain
// files), read by libhdf5 in a child process: a damaged file may crash the
// library, which must not end the conversion with it.
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Whether `head` starts with HDF5's signature, or holds it after a user
// block (at 512, 1024, 2048 ... bytes) within the bytes shown.
bool startsWithHdf5(const uint8_t* head, size_t size);

// Reads one dataset of 3 or more dimensions of the file at `path` into
// `out`, the last (fastest) axis as i: the one `options.dataset` names, else
// Data Exchange's /exchange/data, else a NeXus NXdata group's signal, else
// the largest. Of more than 3 dimensions, the first index of each leading
// axis. Spacing from the dataset's element_size_um (z, y, x), else its
// pixel_size or resolution attribute. Refuses with the reason alone; notes
// what it passed over.
bool readHdf5Samples(const char* path, const ReadOptions& options, SampleVolume& out,
                     std::string& reason);
