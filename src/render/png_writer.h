// Encoding a picture as PNG into the output file begun with beginOutputFile
// (platform/output_file.h), which puts it in place only once it is complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes the w x h picture (rows from the top, `channels` bytes a pixel: 3
// for RGB, 4 for RGBA) to the pending output file and renames it into place.
// On failure removes the temporary file, leaves the output untouched and
// returns false with one line in *error.
bool finishPngFile(const uint8_t* pixels, int w, int h, int channels, std::string* error);

// Encodes the picture as PNG bytes into `out`, for files that embed it. On
// failure returns false with libpng's reason in *error.
bool encodePngBytes(const uint8_t* pixels, int w, int h, int channels, std::vector<uint8_t>& out,
                    std::string* error);
