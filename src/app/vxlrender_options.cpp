#include "app/vxlrender_options.h"

#include <cstring>

#include "app/thumbnail_input.h"

const char renderUsageLine[] =
    "Usage: vxlrender INPUT OUTPUT.png [--size WxH] [--view front|iso] [CONVERSION OPTIONS] | "
    "vxlrender --thumbnail SIZE INPUT OUTPUT.png\n";

// The figures of the size limit are those of thumbnail_input.h; a unit test
// holds the two together. The conversion options' entries are vxlconv's own.
std::string vxlrenderHelpText() {
    return std::string(
               "Usage: vxlrender INPUT OUTPUT.png [--size WxH] [--view front|iso] [CONVERSION "
               "OPTIONS]\n"
               "       vxlrender --thumbnail SIZE INPUT OUTPUT.png\n"
               "Draws a voxel file, or anything vxlconv reads (meshes, point clouds, .vox,\n"
               "binvox, NumPy, NRRD, NIfTI and TIFF files, folders of TIFF slices ...), to a\n"
               "PNG picture, with no display and no GPU (OpenGL through EGL on Mesa's\n"
               "surfaceless platform, into an off-screen framebuffer).\n"
               "\n"
               "Options:\n"
               "  --size WxH        picture size in pixels (default 800x600; 1 to 16384 a side)\n"
               "  --view front      the view voxscope opens with (the default): the picture\n"
               "                    is exactly, pixel for pixel, voxscope's first frame in a\n"
               "                    window of that size\n"
               "  --view iso        that view turned about the model's box centre so that the\n"
               "                    eye looks at it from the direction (1, 1, 1), at the same\n"
               "                    distance, with the screen's up as close to +y as it can\n"
               "                    be, (-1, 2, -1)/sqrt(6): first 45 degrees about the\n"
               "                    screen's vertical axis, then atan(1/sqrt(2)) = 35.26\n"
               "                    degrees about its horizontal axis. Together: a view\n"
               "                    rotation (model to screen) of 56.60 degrees,\n"
               "                    2*acos(cos(pi/8)*cos(atan(1/sqrt(2))/2)), about\n"
               "                    (0.5903, -0.7693, -0.2445); the eye orbits the box\n"
               "                    centre by the same angle the other way\n"
               "  --thumbnail SIZE  a desktop thumbnail: SIZE x SIZE, iso view, transparent\n"
               "                    background (RGBA). Only voxel text, MagicaVoxel .vox\n"
               "                    and binvox files (told by their content) of at most\n"
               "                    1000000 voxels (binvox: a grid of at most 256^3 cells)\n"
               "                    and 64 MiB (67108864 bytes) are drawn; anything else\n"
               "                    (binary .vxl formats of games, Voxlap's .vox, files\n"
               "                    too big to draw quickly) is refused at once, from its\n"
               "                    first 4096 bytes; it takes no conversion options\n"
               "  --help            show this text\n"
               "\n"
               "Conversion options, as vxlconv takes them (see vxlconv --help for its inputs):\n") +
           conversionOptionsHelp(false) +
           "\n"
           "An input that is not a voxel file, or any input with a conversion option, is\n"
           "read and converted in memory as \"vxlconv INPUT OUT.vxl [OPTIONS]\" converts it;\n"
           "the picture is, byte for byte, that of the voxel file vxlconv would write, and\n"
           "no voxel file is written. A voxel file (named .vxl, or voxel text) with no\n"
           "conversion option is read by the viewer's own loader.\n"
           "\n"
           "The picture is written to a temporary file beside OUTPUT.png and renamed into\n"
           "place once complete: a failed or interrupted run leaves no partial picture and\n"
           "an existing OUTPUT.png as it was; only a regular file is ever replaced. Errors\n"
           "are lines on stderr and exit status 1; a file the viewer cannot open gets the\n"
           "viewer's own messages.\n"
           "\n"
           "Examples: vxlrender model.vxl model.png --size 1024x768 --view iso\n"
           "          vxlrender head.nii.gz head.png --threshold 300\n";
}

static bool parsePositive(const char* text, const char* stop, int* out) {
    if (text == stop || stop - text > 5)
        return false;
    int value = 0;
    for (const char* p = text; p < stop; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
    }
    if (value < 1 || value > largestPictureSide)
        return false;
    *out = value;
    return true;
}

static bool parseSize(const char* text, int* w, int* h) {
    const char* x = strchr(text, 'x');
    return x && parsePositive(text, x, w) && parsePositive(x + 1, x + strlen(x), h);
}

ParseResult parseRenderOptions(int argc, char** argv, RenderOptions* options, std::string* error) {
    const char* paths[2] = {nullptr, nullptr};
    int pathCount = 0;
    bool sizeGiven = false, viewGiven = false, optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (pathCount == 2) {
                *error = "one input and one output only; \"" + arg + "\" is one too many";
                return ParseResult::error;
            }
            paths[pathCount++] = argv[i];
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h")
            return ParseResult::help;
        // "--size=800x600" or "--size 800x600".
        std::string name = arg, value;
        bool hasValue = false;
        size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        if (name != "--size" && name != "--view" && name != "--thumbnail") {
            const OptionTaken taken =
                takeConversionOption(argc, argv, i, "vxlrender", options->conversion, *error);
            if (taken == OptionTaken::refused)
                return ParseResult::error;
            if (taken == OptionTaken::yes)
                continue;
            *error = "unknown option " + name;
            return ParseResult::error;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                *error = name + " needs a value";
                return ParseResult::error;
            }
            value = argv[++i];
        }
        if (name == "--size") {
            if (!parseSize(value.c_str(), &options->width, &options->height)) {
                *error = "--size needs WIDTHxHEIGHT, each 1 to " +
                         std::to_string(largestPictureSide) + ", not \"" + value + "\"";
                return ParseResult::error;
            }
            sizeGiven = true;
        } else if (name == "--view") {
            if (value == "front")
                options->view = RenderView::front;
            else if (value == "iso")
                options->view = RenderView::iso;
            else {
                *error = "--view is front or iso, not \"" + value + "\"";
                return ParseResult::error;
            }
            viewGiven = true;
        } else {
            int side = 0;
            if (!parsePositive(value.c_str(), value.c_str() + value.size(), &side)) {
                *error = "--thumbnail needs a size from 1 to " +
                         std::to_string(largestPictureSide) + ", not \"" + value + "\"";
                return ParseResult::error;
            }
            options->thumbnail = true;
            options->width = options->height = side;
            options->view = RenderView::iso;
        }
    }
    if (options->thumbnail && (sizeGiven || viewGiven)) {
        *error = "--thumbnail sets the size and the view; give no --size or --view with it";
        return ParseResult::error;
    }
    if (options->thumbnail && options->conversion.given) {
        *error = "--thumbnail draws files as they are; give no conversion options with it";
        return ParseResult::error;
    }
    if (options->conversion.meshGiven) {
        *error = "--mesh applies to vxlconv's mesh outputs, not to pictures";
        return ParseResult::error;
    }
    if (!checkConversionOptions(options->conversion, *error))
        return ParseResult::error;
    if (pathCount != 2) {
        *error = pathCount == 0 ? "no input or output named" : "no output named";
        return ParseResult::error;
    }
    options->input = paths[0];
    options->output = paths[1];
    options->conversion.input = paths[0];
    options->conversion.output = paths[1];
    return ParseResult::render;
}
