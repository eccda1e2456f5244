// vxlrender: draws a voxel file to a PNG picture without a display, exactly
// as the viewer's first frame shows it, or as a desktop thumbnail. Errors are
// lines on stderr and exit status 1; only --help writes to stdout.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "app/converted_input.h"
#include "app/model_loading.h"
#include "app/thumbnail_input.h"
#include "app/vxlrender_options.h"
#include "camera/camera_state.h"
#include "camera/iso_view.h"
#include "convert/input_table.h"
#include "convert/memory_cap.h"
#include "convert/stream_read.h"
#include "model/voxel_model.h"
#include "platform/input_file.h"
#include "platform/output_file.h"
#include "platform/program_name.h"
#include "platform/progress_line.h"
#include "render/frame_drawing.h"
#include "render/offscreen_context.h"
#include "render/png_writer.h"
#include "render/voxel_geometry.h"

[[noreturn]] static void die(const std::string& message) {
    stopProgress();
    fprintf(stderr, "vxlrender: %s\n", message.c_str());
    exit(1);
}

int main(int argc, char** argv) {
    programName = "vxlrender";
    RenderOptions options;
    std::string error;
    switch (parseRenderOptions(argc, argv, &options, &error)) {
    case ParseResult::help:
        fputs(vxlrenderHelpText().c_str(), stdout);
        return 0;
    case ParseResult::error:
        fprintf(stderr, "vxlrender: %s\n", error.c_str());
        fputs(renderUsageLine, stderr);
        return 1;
    case ParseResult::render:
        break;
    }
    // The cheap refusals first: an output over the input or that cannot be
    // written, a file that gets no thumbnail. From here on every way out
    // removes the temporary file.
    if (!refuseOutputOverInput(options.input, options.output, &error) ||
        !beginOutputFile(options.output, "vxlrender", &error))
        die(error);
    ThumbnailKind kind = ThumbnailKind::voxelText;
    if (options.thumbnail && !checkThumbnailInput(options.input, &kind, &error))
        die(error);
    // Anything but voxel text, or any input with a conversion option, is
    // converted in memory under vxlconv's memory cap, before the GL driver
    // is loaded; the cap is lifted again for the drawing, which the viewer's
    // own check on the arrays guards as it does for a voxel file. A
    // thumbnail goes by what its check found, held to the thumbnail's voxels.
    const bool convert = options.thumbnail
                             ? kind != ThumbnailKind::voxelText
                             : options.conversion.given || !drawnAsVoxelText(options.input);
    if (options.thumbnail)
        options.conversion.maxVoxels = thumbnailMaxVoxels;
    if (convert) {
        ConversionOptions& conversion = options.conversion;
        if (conversion.memoryCap == 0)
            conversion.memoryCap =
                defaultMemoryCap(inputStreams(conversion) ? 0
                                                          : inputFileBytes(options.input) +
                                                                secondFileBytes(options.input) +
                                                                seriesFileBytes(options.input),
                                 conversion.maxVoxels);
        capAddressSpace(conversion.memoryCap);
        startProgress("vxlrender");
        try {
            model = convertToModel(conversion, error);
        } catch (const std::bad_alloc&) {
            die("not enough memory to convert " + conversion.input +
                " (the input may be damaged; --max-memory raises the limit)");
        }
        if (!model)
            die(error);
        stopProgress();
        liftAddressSpaceCap();
    }
    if (!openOffscreenContext(options.width, options.height, &error))
        die(error);
    // A voxel file gets the viewer's own lines; a converted input, which
    // has no such file, vxlrender's one line.
    if (!convert) {
        loadModelOrExit(options.input);
        buildArraysOrExit(options.input);
    } else if (!buildVoxelArrays(model)) {
        die("not enough memory to draw " + std::to_string(model->count) + " voxels of " +
            options.conversion.input);
    }
    if (options.view == RenderView::iso)
        frameIsoView();
    else
        resetCamera();
    // One frame: the arrays are drawn directly, with no display list to
    // compile, and only the faces that may face the eye are handed over
    // (culling would drop the others). A thumbnail's background is
    // transparent.
    keepFacesTowards(camera.eye);
    const float backgroundAlpha = options.thumbnail ? 0.0f : 1.0f;
    drawFrame(options.width, options.height, backgroundAlpha, drawVoxelArrays);
    const int channels = options.thumbnail ? 4 : 3;
    std::vector<uint8_t> pixels;
    try {
        pixels.resize(size_t(options.width) * size_t(options.height) * size_t(channels));
    } catch (const std::bad_alloc&) {
        die("not enough memory for a " + std::to_string(options.width) + "x" +
            std::to_string(options.height) + " picture");
    }
    readOffscreenPixels(channels, pixels.data());
    if (!finishPngFile(pixels.data(), options.width, options.height, channels, &error))
        die(error);
    return 0;
}
