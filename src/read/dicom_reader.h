// DICOM series (CT, MR, RT dose and other volumes of slices), decoded by
// GDCM in every common transfer syntax: a folder, one file of a series, or
// a DICOMDIR.
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <string>

// Reads the series `path` stands for into `out`, in the patient's LPS
// frame: the one `options.series` names (a Series Instance UID or its number
// in the note's list), else a file's own series, else the one with the most
// images. Slices are ordered and spaced by their positions along the slice
// normal (read/slice_stack.h); Rescale Slope and Intercept become the
// volume's scaling, or float samples when slices differ in it; Bits Stored
// and Pixel Representation are honoured, MONOCHROME1 inverted, RGB kept as
// colours. Refuses with the reason alone; notes what it passed over.
bool readDicomSeries(const char* path, const ReadOptions& options, SampleVolume& out,
                     std::string& reason);
