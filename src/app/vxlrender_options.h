// vxlrender's command line: which file to draw, where to, how big and from
// where, and how an input that is not voxel text becomes voxels.
#pragma once

#include "convert/conversion_options.h"

#include <string>

enum class RenderView { front, iso };

struct RenderOptions {
    const char* input = nullptr;
    const char* output = nullptr;
    int width = 800, height = 600;
    RenderView view = RenderView::front;
    // A desktop thumbnail: square, iso view, transparent background, and only
    // of files that are voxel text small enough to draw at once.
    bool thumbnail = false;
    // How an input other than voxel text is read and staged, as by vxlconv;
    // its input and output are the two paths.
    ConversionOptions conversion;
};

// The largest side accepted, in pixels; the GL driver may allow less.
constexpr int largestPictureSide = 16384;

enum class ParseResult { render, help, error };

// Reads argv. `error` gets one line (without its line break) on error.
ParseResult parseRenderOptions(int argc, char** argv, RenderOptions* options, std::string* error);

// "Usage: vxlrender ..." followed by a line break.
extern const char renderUsageLine[];
// The whole --help text.
std::string vxlrenderHelpText();
