#include "convert/pipeline.h"

#include "container/inflate_stream.h"
#include "convert/input_read.h"
#include "convert/memory_cap.h"
#include "convert/output_table.h"
#include "convert/stream_read.h"
#include "mesh/asset_import.h"
#include "mesh/voxelizer.h"
#include "model/voxel_model.h"
#include "platform/input_file.h"
#include "platform/output_file.h"
#include "platform/program_name.h"
#include "platform/progress_line.h"
#include "samples/volume_resample.h"
#include "stages/coarse_grid.h"
#include "stages/hollow.h"
#include "stages/shade.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// What every step does after it ran: a failure names the input; a count of
// voxels or elements left out or kept aside is noted on stderr.
bool finishStep(bool ok, int64_t count, const char* noteFormat, const ConversionOptions& options,
                std::string& error) {
    if (!ok) {
        error = options.input + ": " + error;
        return false;
    }
    if (count > 0)
        fprintf(stderr, noteFormat, programName, static_cast<long long>(count),
                options.input.c_str());
    return true;
}

// Meshes and point clouds: imported, then voxelised on the grid the options
// choose.
bool voxelizeInput(const ConversionOptions& options, VoxelGrid& grid, std::string& error) {
    const char* input = options.input.c_str();
    SourceGeometry geometry;
    ImportNotes notes;
    if (!importAsset(input, geometry, notes, error))
        return false;
    if (notes.texturesIgnored)
        fprintf(stderr,
                "%s: note: %s has textures, which are not sampled; textured "
                "surfaces take their material's colour\n",
                programName, input);
    GridOptions gridOptions;
    gridOptions.voxelSize = options.voxelSize;
    if (options.resolution > 0)
        gridOptions.resolution = options.resolution;
    gridOptions.maxVoxels = options.maxVoxels;
    int64_t skipped = 0;
    const bool ok = voxelizeGeometry(geometry, gridOptions, grid, skipped, error);
    return finishStep(ok, skipped,
                      "%s: note: left out %lld points, lines or triangles of %s whose "
                      "coordinates are not finite numbers\n",
                      options, error);
}

// "PATH is a DICOM file, which vxlconv does not read yet".
bool notReadYet(const char* input, const UnreadFormat& format, std::string& error) {
    error = std::string(input) + " is " + format.what + ", which vxlconv does not read yet";
    return false;
}

} // namespace

bool readInput(const ConversionOptions& options, VoxelGrid& grid, InputKind& kind,
               std::string& error) {
    const char* input = options.input.c_str();
    // A pipe can be read only once: it is read whole before its head is
    // looked at. A file is read whole only when a row of the table reads it.
    // A folder is read by the row that claims it, which opens its files.
    const InputFormat* folderRow = findInputFolder(input);
    const bool stream = !folderRow && inputFileBytes(input) == 0;
    std::vector<uint8_t> bytes;
    if (!folderRow && !(stream ? readWholeFile(input, bytes, error)
                               : readFileHead(input, inputHeadBytes, bytes, error)))
        return false;
    // What a gzip stream holds shows only once enough of it inflates, which
    // a few hundred bytes of poorly compressed data may not.
    bool whole = stream;
    if (!whole && startsWithGzip(bytes.data(), bytes.size())) {
        if (!readWholeFile(input, bytes, error))
            return false;
        whole = true;
    }
    InputChoice choice;
    choice.format = folderRow;
    if (!folderRow && !chooseInput(bytes.data(), bytes.size(), input, choice, error))
        return false;
    // Named before the options are held to it, which would blame them.
    if (choice.unread)
        return notReadYet(input, *choice.unread, error);
    kind = !choice.format                 ? InputKind::mesh
           : readsSamples(*choice.format) ? InputKind::samples
                                          : InputKind::voxels;
    // What the options apply to is the row of what a gzip stream holds, not
    // the stream.
    const bool samples = choice.format && readsSamples(*choice.format);
    if ((options.threshold.given || options.colors != ColorMode::automatic) && !samples) {
        error = "--threshold and --colors apply to " + sampleFormatTitles(" and ") + " inputs";
        return false;
    }
    if (options.backgroundGiven && !samples) {
        error = "--background applies to " + sampleFormatTitles(" and ") + " inputs";
        return false;
    }
    if (!options.series.empty() && !(choice.format && choice.format->takesSeries)) {
        error = "--series applies to " + seriesFormatTitles() + " inputs";
        return false;
    }
    if (!options.grid.empty() && !(choice.format && choice.format->takesGrid)) {
        error = "--grid applies to " + formatTitlesWith(&InputFormat::takesGrid) + " inputs";
        return false;
    }
    if (!options.dataset.empty() && !(choice.format && choice.format->takesDataset)) {
        error = "--dataset applies to " + formatTitlesWith(&InputFormat::takesDataset) + " inputs";
        return false;
    }
    if (options.level >= 0 && !(choice.format && choice.format->takesLevel)) {
        error = "--level applies to " + formatTitlesWith(&InputFormat::takesLevel) + " inputs";
        return false;
    }
    if (!choice.format && stream && !bytes.empty()) {
        error = options.input + " is not a regular file; meshes and point clouds are read from "
                                "files only";
        return false;
    }
    if (!choice.format)
        return voxelizeInput(options, grid, error);
    // A reader by path opens the input again, which a pipe cannot give.
    if (choice.format->readSamplesAt && stream) {
        error = options.input + " is not a regular file; " + choice.format->name +
                " inputs are read from files and folders only";
        return false;
    }
    // Samples that lie as one raw block stream from the file, slab by slab.
    if (!whole && !choice.gzip) {
        const StreamOutcome streamed = streamInput(options, *choice.format, grid, error);
        if (streamed != StreamOutcome::notStreamed)
            return streamed == StreamOutcome::done;
    }
    if (!whole && !choice.format->readSamplesAt && !readWholeFile(input, bytes, error))
        return false;
    ReadOptions readOptions;
    readOptions.path = input;
    // Stages that leave voxels out may bring a larger set within the limit,
    // so the reader is then held only to what the viewer could ever draw.
    const bool reduced = options.hollow || options.voxelSize > 0 || options.resolution > 0;
    readOptions.maxVoxels = reduced ? int64_t(maxVoxelCount) : options.maxVoxels;
    if (options.memoryCap > 0)
        readOptions.maxBytes =
            headerClaimLimit(options.memoryCap, options.memoryCapGiven, options.maxVoxels);
    readOptions.output = options.output.c_str();
    readOptions.series = options.series.c_str();
    readOptions.grid = options.grid.c_str();
    readOptions.dataset = options.dataset.c_str();
    readOptions.level = options.level;
    SampleRules rules;
    rules.threshold = options.threshold;
    rules.colors = options.colors;
    rules.voxelSize = options.voxelSize;
    rules.resolution = options.resolution;
    rules.finerMaxVoxels = options.hollow ? int64_t(maxVoxelCount) : options.maxVoxels;
    std::string note;
    if (!readInputAs(choice, bytes.data(), bytes.size(), readOptions, rules, grid, error, &note))
        return false;
    if (!note.empty())
        fprintf(stderr, "%s: note: %s\n", programName, note.c_str());
    return true;
}

bool runGridStages(const ConversionOptions& options, InputKind kind, VoxelGrid& grid,
                   std::string& error) {
    if (kind != InputKind::mesh && !grid.atAskedSize && !grid.hollowed &&
        (options.voxelSize > 0 || options.resolution > 0)) {
        int64_t skipped = 0;
        const bool ok = coarsenGrid(grid, options.voxelSize, options.resolution, options.maxVoxels,
                                    skipped, error);
        if (!finishStep(ok, skipped,
                        "%s: note: left out %lld voxels of %s whose positions are not "
                        "finite numbers\n",
                        options, error))
            return false;
    }
    // Shading looks at the neighbours hollowing would leave out, so it comes
    // first. A voxel file's colours are its maker's and stay so unless asked.
    const bool shade = grid.hollowed ? false
                       : options.shade == ShadeChoice::automatic
                           ? kind != InputKind::voxels && colorsCarryNoShape(grid)
                           : options.shade == ShadeChoice::on;
    if (shade) {
        int64_t offLattice = 0;
        const bool ok = shadeGrid(grid, offLattice, error);
        if (!finishStep(ok, offLattice,
                        "%s: note: %lld voxels of %s do not lie on the lattice of the "
                        "others (through the first voxel, one voxel size apart) and keep their "
                        "colours unshaded\n",
                        options, error))
            return false;
    }
    if (options.hollow && !grid.hollowed) {
        int64_t offLattice = 0;
        const bool ok = hollowGrid(grid, offLattice, error);
        if (!finishStep(ok, offLattice,
                        "%s: note: %lld voxels of %s do not lie on the lattice of the "
                        "others (through the first voxel, one voxel size apart) and are kept "
                        "as they are\n",
                        options, error))
            return false;
    }
    const int64_t count = int64_t(grid.voxels.colors.size() / 3);
    if (count > options.maxVoxels) {
        error = options.input + ": " + voxelLimitReason(count, options.maxVoxels);
        return false;
    }
    return true;
}

namespace {

WriteOptions writeOptionsOf(const ConversionOptions& options) {
    WriteOptions writeOptions;
    writeOptions.path = options.output.c_str();
    writeOptions.mesh = options.mesh;
    return writeOptions;
}

} // namespace

bool beginOutputAs(const OutputFormat& format, const ConversionOptions& options,
                   std::string& error) {
    const char* input = options.input.c_str();
    if (!refuseOutputOverInput(input, options.output.c_str(), &error))
        return false;
    std::vector<std::string> companions;
    if (format.companions)
        format.companions(writeOptionsOf(options), companions);
    for (const std::string& companion : companions)
        if (!refuseOutputOverInput(input, companion.c_str(), &error))
            return false;
    if (!beginOutputFile(options.output.c_str(), "vxlconv", &error))
        return false;
    for (const std::string& companion : companions)
        if (!beginCompanionFile(companion.c_str(), &error))
            return false;
    return true;
}

bool beginConversionOutput(const ConversionOptions& options, std::string& error) {
    // An output that names the input is refused as such, whatever its name.
    if (!refuseOutputOverInput(options.input.c_str(), options.output.c_str(), &error))
        return false;
    const OutputFormat* format = findOutputFormat(options.output.c_str());
    if (!format) {
        error = "cannot write " + options.output + ": unknown output type; vxlconv writes " +
                outputExtensionList();
        return false;
    }
    if (options.meshGiven && !format->takesMesh) {
        const std::string extension = outputExtension(options.output.c_str());
        error = "--mesh applies to mesh outputs (" + meshOutputExtensionList() + "), not " +
                (extension.empty() ? format->extensions[0] : extension);
        return false;
    }
    return beginOutputAs(*format, options, error);
}

bool convertToGrid(const ConversionOptions& options, const char* what, VoxelGrid& grid,
                   std::string& error) {
    InputKind kind = InputKind::mesh;
    progressPhase("reading " + options.input);
    if (!readInput(options, grid, kind, error))
        return false;
    progressPhase("processing " + options.input);
    if (!runGridStages(options, kind, grid, error))
        return false;
    if (grid.voxels.colors.empty()) {
        error = options.input + ": no voxels to " + what;
        return false;
    }
    return true;
}

bool convertFile(const ConversionOptions& options, std::string& error) {
    VoxelGrid grid;
    if (!convertToGrid(options, "write", grid, error))
        return false;
    const OutputFormat* format = findOutputFormat(options.output.c_str());
    if (!format) {
        error = "cannot write " + options.output + ": unknown output type";
        return false;
    }
    grid.source = options.input;
    progressPhase("writing " + options.output);
    return format->write(grid, writeOptionsOf(options), error);
}
