// vxlconv: turns meshes, point clouds, MagicaVoxel files and voxel files into
// voxel files that voxscope opens, and voxel sets into meshes and .vox
// files, or shows any input in voxscope (--view). Errors are one line on
// stderr and exit status 1; only --help writes to stdout.
#include "app/view_session.h"
#include "convert/conversion_options.h"
#include "convert/input_table.h"
#include "convert/memory_cap.h"
#include "convert/pipeline.h"
#include "convert/stream_read.h"
#include "platform/input_file.h"
#include "platform/progress_line.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

[[noreturn]] static void die(const std::string& message) {
    stopProgress();
    fprintf(stderr, "vxlconv: %s\n", message.c_str());
    exit(1);
}

// The conversion once the options are read: to OUTPUT, or for --view to the
// private file the viewer is shown.
static int convertWith(const ConversionOptions& given) {
    ConversionOptions options = given;
    std::string error;
    // The output is checked and begun before anything is read; the cap is set
    // before anything is read too, so that it covers every reader; the
    // readers take no header's claim beyond it either.
    if (!beginConversionOutput(options, error))
        die(error);
    const char* input = options.input.c_str();
    if (options.memoryCap == 0)
        options.memoryCap = defaultMemoryCap(inputStreams(options)
                                                 ? 0
                                                 : inputFileBytes(input) + secondFileBytes(input) +
                                                       seriesFileBytes(input),
                                             options.maxVoxels);
    capAddressSpace(options.memoryCap);
    startProgress("vxlconv");
    if (!convertFile(options, error))
        die(error);
    stopProgress();
    return 0;
}

static int convert(int argc, char** argv) {
    ConversionOptions options;
    std::string error;
    switch (parseConversionOptions(argc, argv, options, error)) {
    case OptionsResult::help:
        fputs(vxlconvHelpText().c_str(), stdout);
        return 0;
    case OptionsResult::refused:
        die(error);
    case OptionsResult::convert:
        break;
    }
    if (options.view)
        return viewConversion(options, convertWith);
    return convertWith(options);
}

int main(int argc, char** argv) {
    try {
        return convert(argc, argv);
    } catch (const std::bad_alloc&) {
        die("not enough memory for this conversion (the input may be damaged; --max-memory "
            "raises the limit)");
    }
}
