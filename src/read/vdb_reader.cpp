#include "read/vdb_reader.h"

#include "platform/program_name.h"
#include "read/child_read.h"
#include "read/vdb_header.h"
#include "read/vdb_module.h"

#include <cstdio>
#include <cstring>

namespace {

// The bytes the child reads, set just before it is forked: the child finds
// them in its copy of this process, so nothing is written to a file.
const uint8_t* childData = nullptr;
size_t childSize = 0;

// In the child, what loading the module gave: libopenvdb leaves with the
// child, so the program never carries its threads or its finalisers.
ReadVdbGridEntry childEntry = nullptr;
std::string childLoadReason;

// Before the child's memory cap: log4cplus starts its threads as the
// library loads, and one it cannot start under a tight cap hangs its setup.
void loadModuleHere() {
    childEntry = loadVdbModule(childLoadReason);
}

bool readVdbHere(const char* path, const ReadOptions& options, SampleVolume& out,
                 std::string& reason) {
    const ReadVdbGridEntry readGrid = childEntry;
    if (!readGrid) {
        reason = childLoadReason;
        return false;
    }
    std::string note;
    if (!readGrid(childData, childSize, options, out, reason, note))
        return false;
    if (!note.empty())
        fprintf(stderr, "%s: note: %s %s\n", programName, path, note.c_str());
    return true;
}

} // namespace

bool startsWithVdb(const uint8_t* head, size_t size) {
    return size >= 4 && memcmp(head, " BDV", 4) == 0; // 0x56444220, least significant first
}

// libopenvdb trusts the lengths a file states and may crash on a damaged
// one: it runs in a child, whose crash is a refusal.
bool readVdbGrid(const uint8_t* data, size_t size, const ReadOptions& options, SampleVolume& out,
                 std::string& reason) {
    // A cut file is refused here, without a reading process to start.
    if (!vdbGridsFit(data, size, reason))
        return false;
    childData = data;
    childSize = size;
    const bool read =
        readSamplesInChild(readVdbHere, options.path, options, out, reason, loadModuleHere);
    childData = nullptr;
    childSize = 0;
    return read;
}

namespace {

const char vdbHelp[] =
    "OpenVDB grids (.vdb, through libopenvdb): the grid --grid names, else the first float "
    "grid, else the first (a note names the others), over its active voxels' box. A fog volume "
    "(a float or double grid) gives voxels where the value is at least --threshold T, grey by "
    "value; a level set its solid inside (every voxel below 0, interior tiles too); a Vec3 grid "
    "colours (floats 0..1 to 0..255, black empty); bool and mask grids their set voxels; Int32 "
    "and Int64 grids labels. The grid's linear transform gives voxel size, position and "
    "rotation; index (i, j, k) is (x, y, z) as the file stores it, +y up as in film tools.";

} // namespace

extern const InputFormat vdbInput = {
    "OpenVDB", {".vdb"}, startsWithVdb, nullptr, readVdbGrid, ColorMode::grey,
    nullptr,   nullptr,  "OpenVDB",     vdbHelp, nullptr,     nullptr,
    nullptr,   false,    nullptr,       false,   false,       true};
