// Writing a picture as a PNG file without ever leaving a partial one: the
// picture goes to a temporary file in the output's folder, which is renamed
// over the output only once it is complete. Until then an existing file of
// that name stays as it was, and the temporary file is removed however the
// program ends short of that (an error, exit, or SIGINT, SIGTERM, SIGHUP).
#pragma once

#include <cstdint>
#include <string>

// Creates the temporary file for `path` now, so that an output that cannot
// be written is refused before any work is done. One at a time. On failure
// returns false with one line in *error (no trailing line break).
bool beginPngFile(const char* path, std::string* error);

// Writes the w x h picture (rows from the top, `channels` bytes a pixel: 3
// for RGB, 4 for RGBA) to the temporary file and renames it to the path given
// to beginPngFile. On failure removes the temporary file, leaves the output
// untouched and returns false with one line in *error.
bool finishPngFile(const uint8_t* pixels, int w, int h, int channels, std::string* error);

// Removes the temporary file, if one is pending.
void abandonPngFile();
