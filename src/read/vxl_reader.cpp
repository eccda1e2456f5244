#include "read/vxl_reader.h"

#include "model/voxel_model.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Skips white space, then one number's characters (sign, digits, point,
// exponent); returns where they end. `whole`: no point or exponent among
// them; `any`: at least one digit.
size_t skipNumber(const uint8_t* p, size_t i, size_t size, bool& whole, bool& any) {
    while (i < size && isspace(p[i]))
        ++i;
    const size_t start = i;
    if (i < size && (p[i] == '+' || p[i] == '-'))
        ++i;
    size_t digits = 0;
    whole = true;
    while (i < size && (isdigit(p[i]) || p[i] == '.' || p[i] == 'e' || p[i] == 'E' ||
                        ((p[i] == '+' || p[i] == '-') && (p[i - 1] == 'e' || p[i - 1] == 'E')))) {
        if (isdigit(p[i]))
            ++digits;
        else
            whole = false;
        ++i;
    }
    any = digits > 0 && i > start;
    return i;
}

} // namespace

bool startsWithVxlHeader(const uint8_t* head, size_t size) {
    bool whole = false, any = false;
    size_t i = skipNumber(head, 0, size, whole, any);
    if (!any || !whole || i >= size || !isspace(head[i]))
        return false;
    bool second = false;
    i = skipNumber(head, i, size, whole, second);
    return second && (i >= size || isspace(head[i]));
}

bool readVxlGrid(const uint8_t* data, size_t size, const ReadOptions& options, VoxelGrid& out,
                 std::string& error) {
    // The loader's line is quoted in the converter's own refusal.
    std::string message;
    loaderMessageSink = &message;
    VoxelModel* m = readVoxelText(reinterpret_cast<const char*>(data), size, options.path);
    loaderMessageSink = nullptr;
    if (!m) {
        error = std::string("cannot read ") + options.path +
                (message.empty() ? std::string(" as a voxel file")
                                 : " (the viewer would say: " + message + ")");
        return false;
    }
    if (m->count > options.maxVoxels) {
        error = std::string(options.path) + " has " + std::to_string(m->count) +
                " voxels, more than " + std::to_string(options.maxVoxels) + " (raise --max-voxels)";
        freeVoxelModel(m);
        return false;
    }
    out = VoxelGrid();
    const size_t count = size_t(m->count);
    out.voxels.voxelSize = m->voxelSize;
    out.voxels.positions.assign(m->positions, m->positions + 3 * count);
    out.voxels.colors.assign(m->colors, m->colors + 3 * count);
    // The lattice through the first voxel, one voxel size apart: voxels that
    // touch face to face are neighbours on it.
    const float* first = m->positions;
    out.hasLattice = count > 0 && std::isfinite(m->voxelSize) && m->voxelSize > 0 &&
                     std::isfinite(first[0]) && std::isfinite(first[1]) && std::isfinite(first[2]);
    if (out.hasLattice) {
        for (int k = 0; k < 3; ++k)
            out.origin[k] = double(first[k]);
        out.step = double(m->voxelSize);
    }
    freeVoxelModel(m);
    return true;
}

const char vxlHelp[] = "read exactly as voxscope reads it, to be hollowed or made coarser; voxels "
                       "not merged keep their positions to the bit. Its lattice, for --hollow, "
                       "runs through its first voxel, one voxel size apart: a voxel lies on it "
                       "when it is within 1/1024 of a voxel size (or eight float spacings) of a "
                       "lattice point on every axis, and voxels off it are kept as they are.";

extern const InputFormat vxlInput = {
    "voxel file .vxl", {".vxl"}, startsWithVxlHeader, readVxlGrid, nullptr, ColorMode::automatic,
    nullptr,           nullptr,  ".vxl (voxel file)", vxlHelp};
