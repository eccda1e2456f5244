#include "write/vox_writer.h"

#include "platform/output_file.h"
#include "platform/progress_line.h"
#include "stages/lattice_cells.h"
#include "write/byte_sink.h"
#include "write/palette_reduction.h"
#include "write/vox_scene_split.h"

#include <cmath>
#include <cstring>

namespace {

// The colours a .vox palette holds: index 0 means an empty cell.
constexpr int voxPaletteColors = 255;

void putI32(std::vector<uint8_t>& out, int64_t value) {
    const uint32_t v = uint32_t(int32_t(value));
    const uint8_t bytes[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    out.insert(out.end(), bytes, bytes + 4);
}

void putString(std::vector<uint8_t>& out, const std::string& text) {
    putI32(out, int64_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

// A dictionary of one key and value, or none.
void putDict(std::vector<uint8_t>& out, const std::string& key = "",
             const std::string& value = "") {
    putI32(out, key.empty() ? 0 : 1);
    if (!key.empty()) {
        putString(out, key);
        putString(out, value);
    }
}

void putChunk(std::vector<uint8_t>& out, const char* name, const std::vector<uint8_t>& content) {
    out.insert(out.end(), name, name + 4);
    putI32(out, int64_t(content.size()));
    putI32(out, 0);
    out.insert(out.end(), content.begin(), content.end());
}

void putTransform(std::vector<uint8_t>& out, int32_t id, int32_t child, int32_t layer,
                  const std::string& translation) {
    std::vector<uint8_t> c;
    putI32(c, id);
    putDict(c);
    putI32(c, child);
    putI32(c, -1); // reserved
    putI32(c, layer);
    putI32(c, 1); // one frame
    if (translation.empty())
        putDict(c);
    else
        putDict(c, "_t", translation);
    putChunk(out, "nTRN", c);
}

// The chunks inside MAIN: the models, the scene graph (a root transform, a
// group, a transform and a shape per model), a layer and the palette.
std::vector<uint8_t> mainChildren(const std::vector<VoxBlockModel>& models,
                                  const std::vector<uint8_t>& palette) {
    std::vector<uint8_t> out;
    for (const VoxBlockModel& model : models) {
        std::vector<uint8_t> size;
        for (int k = 0; k < 3; ++k)
            putI32(size, model.size[k]);
        putChunk(out, "SIZE", size);
        std::vector<uint8_t> xyzi;
        putI32(xyzi, int64_t(model.voxels.size() / 4));
        xyzi.insert(xyzi.end(), model.voxels.begin(), model.voxels.end());
        putChunk(out, "XYZI", xyzi);
    }
    putTransform(out, 0, 1, -1, "");
    std::vector<uint8_t> group;
    putI32(group, 1);
    putDict(group);
    putI32(group, int64_t(models.size()));
    for (size_t m = 0; m < models.size(); ++m)
        putI32(group, int64_t(2 + 2 * m));
    putChunk(out, "nGRP", group);
    for (size_t m = 0; m < models.size(); ++m) {
        const VoxBlockModel& model = models[m];
        std::string translation;
        for (int k = 0; k < 3; ++k)
            translation +=
                (k ? " " : "") + std::to_string(voxTranslation(model.corner[k], model.size[k]));
        putTransform(out, int32_t(2 + 2 * m), int32_t(3 + 2 * m), 0, translation);
        std::vector<uint8_t> shape;
        putI32(shape, int64_t(3 + 2 * m));
        putDict(shape);
        putI32(shape, 1);
        putI32(shape, int64_t(m));
        putDict(shape);
        putChunk(out, "nSHP", shape);
    }
    std::vector<uint8_t> layer;
    putI32(layer, 0);
    putDict(layer);
    putI32(layer, -1);
    putChunk(out, "LAYR", layer);
    // Stored colour i is colour index i + 1.
    std::vector<uint8_t> rgba(1024, 0);
    for (size_t p = 0; p < palette.size() / 3; ++p) {
        memcpy(&rgba[4 * p], &palette[3 * p], 3);
        rgba[4 * p + 3] = 255;
    }
    putChunk(out, "RGBA", rgba);
    return out;
}

// Every voxel's cell in the file's scene (z up), one lattice step a unit,
// keeping the lattice's own offset from zero so that a set read from a .vox
// file goes back to the cells it came from. Voxels off the lattice go to
// the nearest cell; `moved` counts them, `lost` those with no cell at all.
void sceneCells(const VoxelGrid& grid, std::vector<int64_t>& cells, std::vector<uint32_t>& which,
                int64_t& moved, int64_t& lost) {
    const VoxelList& voxels = grid.voxels;
    const size_t count = voxels.colors.size() / 3;
    VoxelGrid lattice;
    lattice.hasLattice = true;
    if (grid.hasLattice && grid.step > 0 && std::isfinite(grid.step)) {
        std::copy(grid.origin, grid.origin + 3, lattice.origin);
        lattice.step = grid.step;
    } else {
        for (int k = 0; k < 3; ++k)
            lattice.origin[k] = count ? voxels.positions[size_t(k)] : 0.0;
        lattice.step = double(voxels.voxelSize);
    }
    int64_t offset[3];
    for (int k = 0; k < 3; ++k)
        offset[k] = std::llround(lattice.origin[k] / lattice.step - 0.5);
    moved = lost = 0;
    for (size_t i = 0; i < count; ++i) {
        const float* p = &voxels.positions[3 * i];
        int64_t cell[3];
        if (!latticeCell(lattice, p, cell)) {
            bool placed = true;
            for (int k = 0; k < 3; ++k) {
                const double t = (double(p[k]) - lattice.origin[k]) / lattice.step;
                placed = placed && std::fabs(t) < 1073741824.0;
                cell[k] = placed ? std::llround(t) : 0;
            }
            if (!placed) {
                ++lost;
                continue;
            }
            ++moved;
        }
        // Scene cell (x, y, z) with y up; the file's z is up and its y is
        // the scene's -z, as the .vox reader turns it.
        const int64_t x = cell[0] + offset[0], y = cell[1] + offset[1], z = cell[2] + offset[2];
        const int64_t file[3] = {x, -z - 1, y};
        cells.insert(cells.end(), file, file + 3);
        which.push_back(uint32_t(i));
    }
}

// Keeps one voxel per cell, the last given, in the order of the cells.
bool keepOnePerCell(std::vector<int64_t>& cells, std::vector<uint32_t>& which, std::string& error) {
    const size_t count = which.size();
    if (count == 0)
        return true;
    int64_t low[3], high[3];
    for (int k = 0; k < 3; ++k)
        low[k] = high[k] = cells[size_t(k)];
    for (size_t i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], cells[3 * i + size_t(k)]);
            high[k] = std::max(high[k], cells[3 * i + size_t(k)]);
        }
    int bits[3], total = 0;
    for (int k = 0; k < 3; ++k) {
        bits[k] = 1;
        while (bits[k] < 63 && (uint64_t(high[k] - low[k]) >> bits[k]) != 0)
            ++bits[k];
        total += bits[k];
    }
    if (total > 64) {
        error = "the voxels are spread too far apart for a .vox scene";
        return false;
    }
    std::vector<CellEntry> entries(count);
    for (size_t i = 0; i < count; ++i) {
        uint64_t key = 0;
        for (int k = 0; k < 3; ++k)
            key = (key << bits[k]) | uint64_t(cells[3 * i + size_t(k)] - low[k]);
        entries[i] = CellEntry{key, uint32_t(i)};
    }
    sortCellEntries(entries, total);
    std::vector<int64_t> keptCells;
    std::vector<uint32_t> keptWhich;
    for (size_t e = 0; e < count; ++e) {
        if (e + 1 < count && entries[e + 1].key == entries[e].key)
            continue;
        const size_t i = entries[e].index;
        keptCells.insert(keptCells.end(), &cells[3 * i], &cells[3 * i] + 3);
        keptWhich.push_back(which[i]);
    }
    cells.swap(keptCells);
    which.swap(keptWhich);
    return true;
}

} // namespace

bool writeVox(const VoxelGrid& grid, const WriteOptions& options, std::string& error) {
    progressPhase("placing voxels on the lattice");
    std::vector<int64_t> cells;
    std::vector<uint32_t> which;
    int64_t moved = 0, lost = 0;
    sceneCells(grid, cells, which, moved, lost);
    const size_t placed = which.size();
    if (!keepOnePerCell(cells, which, error))
        return failOutputFile(error, &error);
    if (which.empty())
        return failOutputFile("no voxel has a place on the lattice", &error);
    progressPhase("choosing the palette");
    std::vector<uint8_t> colors(3 * which.size());
    for (size_t i = 0; i < which.size(); ++i)
        memcpy(&colors[3 * i], &grid.voxels.colors[3 * size_t(which[i])], 3);
    ReducedPalette palette;
    reducePalette(colors.data(), which.size(), voxPaletteColors, palette);
    std::vector<uint8_t>().swap(colors);
    std::vector<uint8_t> colorIndex(which.size());
    for (size_t i = 0; i < which.size(); ++i)
        colorIndex[i] = uint8_t(palette.indexOf[i] + 1);
    progressPhase("cutting the models");
    std::vector<VoxBlockModel> models;
    splitIntoModels(cells, colorIndex, models);
    std::vector<int64_t>().swap(cells);

    stopProgress();
    if (moved > 0 || lost > 0)
        fprintf(stderr,
                "vxlconv: note: %lld voxels do not lie on the lattice of the others and were "
                "moved to the nearest cell, %lld left out; %lld share a cell with another voxel "
                "and give way to the later one\n",
                static_cast<long long>(moved), static_cast<long long>(lost),
                static_cast<long long>(placed - which.size()));
    if (palette.distinctColors > voxPaletteColors)
        fprintf(stderr,
                "vxlconv: note: %s: %lld colours reduced to the %d a .vox palette holds; colours "
                "moved by %.2f on average and %.2f at most (distance in RGB, 0 to 255 a "
                "channel)\n",
                options.path, static_cast<long long>(palette.distinctColors), voxPaletteColors,
                palette.meanError, palette.largestError);
    if (models.size() > 1)
        fprintf(stderr,
                "vxlconv: note: %s: the set is larger than 256 voxels a side; it is written as "
                "%zu models placed side by side\n",
                options.path, models.size());

    const std::vector<uint8_t> children = mainChildren(models, palette.colors);
    std::vector<uint8_t> head;
    head.insert(head.end(), {'V', 'O', 'X', ' '});
    putI32(head, 150);
    head.insert(head.end(), {'M', 'A', 'I', 'N'});
    putI32(head, 0);
    putI32(head, int64_t(children.size()));
    if (children.size() > size_t(INT32_MAX))
        return failOutputFile("the scene is larger than a .vox file holds", &error);
    ByteSink sink = openSink(outputFileStream());
    putBytes(sink, head.data(), head.size());
    putBytes(sink, children.data(), children.size());
    if (!flushSink(sink))
        return failOutputFile(strerror(sink.failure), &error);
    return finishOutputFile(&error);
}

extern const OutputFormat voxOutput = {
    "MagicaVoxel",
    {".vox"},
    writeVox,
    nullptr,
    false,
    "one unit per lattice step, models of at most 256 a side, at most 255 colours (more are "
    "reduced by median cut; a note says how far they moved)"};
