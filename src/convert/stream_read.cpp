#include "convert/stream_read.h"

#include "container/inflate_stream.h"
#include "convert/input_table.h"
#include "platform/input_file.h"
#include "platform/program_name.h"
#include "samples/sample_stream.h"
#include "samples/volume_orientation.h"
#include "samples/volume_resample.h"
#include "stages/coarse_grid.h"
#include "stages/lattice_cells.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

// The row that reads the input, when it may locate its samples.
const InputFormat* locatingRow(const ConversionOptions& options) {
    const char* input = options.input.c_str();
    std::vector<uint8_t> head;
    std::string ignored;
    if (inputFileBytes(input) == 0 || findInputFolder(input) ||
        !readFileHead(input, inputHeadBytes, head, ignored) ||
        startsWithGzip(head.data(), head.size()))
        return nullptr;
    const InputFormat* row = findInputFormat(head.data(), head.size(), input);
    return row && row->locateSamples ? row : nullptr;
}

// The volume turned to the display frame, its samples left in the file.
bool locateVolume(const ConversionOptions& options, const InputFormat& format, SampleVolume& volume,
                  SamplePlace& place, std::string& turnNote) {
    ReadOptions readOptions;
    readOptions.path = options.input.c_str();
    readOptions.output = options.output.c_str();
    if (!format.locateSamples(readOptions.path, readOptions, volume, place))
        return false;
    orientToDisplay(volume, turnNote);
    if (streamableVolume(volume))
        return true;
    close(place.fd);
    place.fd = -1;
    return false;
}

// Whether every cube of the box lies on the lattice the hollow stage finds
// (the ends are where floats are coarsest).
bool boxOnLattice(const SampleVolume& volume, const SampleBox& box) {
    VoxelGrid grid;
    cubePlacement(volume, grid.origin, grid.step);
    grid.hasLattice = true;
    for (int a = 0; a < 3; ++a)
        if (box.high[a] - box.low[a] + 3 > maxGridCells)
            return false;
    for (int end = 0; end < 8; ++end) {
        float at[3];
        for (int a = 0; a < 3; ++a)
            at[a] =
                float(grid.origin[a] + double(end >> a & 1 ? box.high[a] : box.low[a]) * grid.step);
        int64_t cell[3];
        if (!latticeCell(grid, at, cell))
            return false;
    }
    return true;
}

// Whether the grid stages would shade the voxels before hollowing them:
// asked, or colours made up or all one (grey and the map are monotone in
// value, so the ends of the range tell; labels may repeat a colour).
bool shadeWanted(const ConversionOptions& options, const StreamPlan& plan, const SampleBox& box,
                 bool& unknown) {
    unknown = false;
    if (options.shade != ShadeChoice::automatic)
        return options.shade == ShadeChoice::on;
    if (colorsByHeight(plan.mode))
        return true;
    ValueColoring coloring;
    coloring.mode = plan.mode;
    coloring.lowest = box.lowest;
    coloring.span = box.highest - box.lowest;
    uint8_t low[3], high[3];
    valueColor(coloring, box.lowest, low);
    valueColor(coloring, box.highest, high);
    if (!std::equal(low, low + 3, high))
        return false;
    unknown = plan.mode == ColorMode::labels && box.lowest != box.highest;
    return true;
}

StreamOutcome streamLocated(const ConversionOptions& options, const InputFormat& format,
                            const SampleVolume& volume, const SampleSource& source, VoxelGrid& grid,
                            std::string& error) {
    const std::string input = options.input;
    auto fail = [&](const std::string& reason) {
        error = input + ": " + reason;
        return StreamOutcome::failed;
    };
    StreamPlan plan;
    plan.threshold = options.threshold;
    plan.mode = options.colors;
    if (plan.mode == ColorMode::automatic)
        plan.mode = volume.meaning == SampleMeaning::labels && options.threshold.given
                        ? ColorMode::grey
                        : defaultColorMode(volume.meaning, format.valueColors);
    std::string reason;
    if (!checkThresholdRule(volume, options.threshold, plan.mode, reason))
        return fail(reason);
    // Labels without a threshold: their border is looked at for a
    // background, which needs every sample.
    if (plan.mode == ColorMode::labels && !options.threshold.given)
        return StreamOutcome::notStreamed;
    double corner[3], edge;
    cubePlacement(volume, corner, edge);
    if (options.voxelSize > 0 && float(options.voxelSize) < float(edge))
        return StreamOutcome::notStreamed;
    if (!checkFloatPlacement(volume, edge, corner, volume.dims, reason))
        return fail(reason);
    plan.cellSize = options.voxelSize;
    plan.resolution = options.resolution;
    const bool coarse = plan.cellSize > 0 || plan.resolution > 0;
    plan.hollow = options.hollow && !coarse;
    // Coarse cells are hollowed as they stream where no shading is to come
    // before the hollowing: it is off, or on only for cells all of one colour.
    const bool byHeight = colorsByHeight(plan.mode);
    plan.hollowCells = options.hollow && coarse && options.shade != ShadeChoice::on &&
                       !(options.shade == ShadeChoice::automatic && byHeight);
    plan.shadeIfOneColor = options.shade == ShadeChoice::automatic;
    plan.maxVoxels = options.maxVoxels;
    SampleBox box;
    if (!scanSampleBox(volume, source, options.threshold, box, reason)) {
        error = "cannot read " + input + " as " + format.name + ": " + reason;
        return StreamOutcome::failed;
    }
    if (box.count == 0) {
        grid = VoxelGrid();
        return StreamOutcome::done;
    }
    if (!coarse && !plan.hollow && box.count > options.maxVoxels)
        return fail(tooManyVoxelsReason(options.maxVoxels));
    if (coarse && !coarseCellsFit(volume, box, plan))
        return StreamOutcome::notStreamed;
    bool unknown = false;
    if (plan.hollow &&
        (shadeWanted(options, plan, box, unknown) || unknown || !boxOnLattice(volume, box)))
        return StreamOutcome::notStreamed;
    int64_t kept = 0;
    if (!streamSamples(volume, source, plan, box, grid, kept, reason)) {
        error = "cannot read " + input + " as " + format.name + ": " + reason;
        return StreamOutcome::failed;
    }
    if (kept > plan.maxVoxels)
        return fail(coarse        ? coarserGridOverflow(plan.maxVoxels)
                    : plan.hollow ? voxelLimitReason(kept, plan.maxVoxels)
                                  : tooManyVoxelsReason(plan.maxVoxels));
    grid.hollowed = grid.hollowed || plan.hollow;
    return StreamOutcome::done;
}

} // namespace

StreamOutcome streamInput(const ConversionOptions& options, const InputFormat& format,
                          VoxelGrid& grid, std::string& error) {
    if (!format.locateSamples)
        return StreamOutcome::notStreamed;
    SampleVolume volume;
    SamplePlace place;
    std::string turnNote;
    if (!locateVolume(options, format, volume, place, turnNote))
        return StreamOutcome::notStreamed;
    SampleSource source;
    source.fd = place.fd;
    source.start = place.start;
    source.bigEndian = place.bigEndian;
    const StreamOutcome outcome = streamLocated(options, format, volume, source, grid, error);
    close(place.fd);
    // Notes only for what was read: a refusal is the one line.
    if (outcome == StreamOutcome::done) {
        if (!place.note.empty())
            fprintf(stderr, "%s: note: %s\n", programName, place.note.c_str());
        if (!turnNote.empty())
            fprintf(stderr, "%s: note: %s %s\n", programName, options.input.c_str(),
                    turnNote.c_str());
    }
    return outcome;
}

bool inputStreams(const ConversionOptions& options) {
    const InputFormat* row = locatingRow(options);
    if (!row)
        return false;
    SampleVolume volume;
    SamplePlace place;
    std::string turnNote;
    if (!locateVolume(options, *row, volume, place, turnNote))
        return false;
    close(place.fd);
    // What the options alone show to need the samples whole.
    const bool labels = options.colors == ColorMode::labels ||
                        (options.colors == ColorMode::automatic &&
                         defaultColorMode(volume.meaning, row->valueColors) == ColorMode::labels);
    double corner[3], edge;
    cubePlacement(volume, corner, edge);
    return !(labels && !options.threshold.given) &&
           !(options.voxelSize > 0 && float(options.voxelSize) < float(edge));
}
