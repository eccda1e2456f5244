#include "convert/pipeline.h"

#include "convert/asset_import.h"
#include "convert/coarse_grid.h"
#include "convert/grid_readers.h"
#include "convert/hollow.h"
#include "convert/input_file.h"
#include "convert/memory_cap.h"
#include "convert/sample_grid.h"
#include "convert/voxelizer.h"
#include "convert/vxl_writer.h"
#include "model/voxel_model.h"
#include "platform/output_file.h"
#include "platform/progress_line.h"

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
        fprintf(stderr, noteFormat, static_cast<long long>(count), options.input.c_str());
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
                "vxlconv: note: %s has textures, which are not sampled; textured "
                "surfaces take their material's colour\n",
                input);
    GridOptions gridOptions;
    gridOptions.voxelSize = options.voxelSize;
    if (options.resolution > 0)
        gridOptions.resolution = options.resolution;
    gridOptions.maxVoxels = options.maxVoxels;
    int64_t skipped = 0;
    const bool ok = voxelizeGeometry(geometry, gridOptions, grid, skipped, error);
    return finishStep(ok, skipped,
                      "vxlconv: note: left out %lld points, lines or triangles of %s whose "
                      "coordinates are not finite numbers\n",
                      options, error);
}

} // namespace

bool readInput(const ConversionOptions& options, VoxelGrid& grid, bool& voxelInput,
               std::string& error) {
    const char* input = options.input.c_str();
    // A pipe can be read only once: it is read whole before its head is
    // looked at. A file is read whole only when a voxel reader claims it.
    const bool stream = inputFileBytes(input) == 0;
    std::vector<uint8_t> bytes;
    if (!(stream ? readWholeFile(input, bytes, error)
                 : readFileHead(input, gridSniffBytes, bytes, error)))
        return false;
    const GridFormat* format =
        findGridFormat(bytes.data(), std::min(bytes.size(), gridSniffBytes), input);
    voxelInput = format != nullptr;
    if ((options.threshold.given || options.colors != ColorMode::automatic) &&
        !(format && readsSamples(format->read))) {
        error = "--threshold and --colors apply to binvox, NumPy, NRRD and NIfTI inputs";
        return false;
    }
    if (!format && stream && !bytes.empty()) {
        error = options.input + " is not a regular file; meshes and point clouds are read from "
                                "files only";
        return false;
    }
    if (!format)
        return voxelizeInput(options, grid, error);
    if (!stream && !readWholeFile(input, bytes, error))
        return false;
    GridReadOptions readOptions;
    readOptions.path = input;
    // Stages that leave voxels out may bring a larger set within the limit,
    // so the reader is then held only to what the viewer could ever draw.
    const bool reduced = options.hollow || options.voxelSize > 0 || options.resolution > 0;
    readOptions.maxVoxels = reduced ? int64_t(maxVoxelCount) : options.maxVoxels;
    if (options.memoryCap > 0)
        readOptions.maxBytes = options.memoryCap;
    readOptions.output = options.output.c_str();
    readOptions.threshold = options.threshold;
    readOptions.colors = options.colors;
    return format->read(bytes.data(), bytes.size(), readOptions, grid, error);
}

bool runGridStages(const ConversionOptions& options, bool voxelInput, VoxelGrid& grid,
                   std::string& error) {
    if (voxelInput && (options.voxelSize > 0 || options.resolution > 0)) {
        int64_t skipped = 0;
        const bool ok = coarsenGrid(grid, options.voxelSize, options.resolution, options.maxVoxels,
                                    skipped, error);
        if (!finishStep(ok, skipped,
                        "vxlconv: note: left out %lld voxels of %s whose positions are not "
                        "finite numbers\n",
                        options, error))
            return false;
    }
    if (options.hollow) {
        int64_t offLattice = 0;
        const bool ok = hollowGrid(grid, offLattice, error);
        if (!finishStep(ok, offLattice,
                        "vxlconv: note: %lld voxels of %s do not lie on the lattice of the "
                        "others (through the first voxel, one voxel size apart) and are kept "
                        "as they are\n",
                        options, error))
            return false;
    }
    const int64_t count = int64_t(grid.voxels.colors.size() / 3);
    if (count > options.maxVoxels) {
        error = options.input + ": " + std::to_string(count) + " voxels, more than " +
                std::to_string(options.maxVoxels) +
                " (raise --max-voxels, or make the grid coarser with --voxel-size or "
                "--resolution)";
        return false;
    }
    return true;
}

bool beginConversionOutput(const ConversionOptions& options,
                           const std::vector<std::string>& companions, std::string& error) {
    for (const std::string& companion : companions)
        if (!refuseOutputOverInput(options.input.c_str(), companion.c_str(), &error))
            return false;
    if (!refuseOutputOverInput(options.input.c_str(), options.output.c_str(), &error) ||
        !beginOutputFile(options.output.c_str(), "vxlconv", &error))
        return false;
    for (const std::string& companion : companions)
        if (!beginCompanionFile(companion.c_str(), &error))
            return false;
    return true;
}

bool convertFile(const ConversionOptions& options, const GridWriter& write, std::string& error) {
    VoxelGrid grid;
    bool voxelInput = false;
    progressPhase("reading " + options.input);
    if (!readInput(options, grid, voxelInput, error))
        return false;
    progressPhase("processing " + options.input);
    if (!runGridStages(options, voxelInput, grid, error))
        return false;
    if (grid.voxels.colors.empty()) {
        error = options.input + ": no voxels to write";
        return false;
    }
    grid.source = options.input;
    progressPhase("writing " + options.output);
    return write(grid, error);
}
