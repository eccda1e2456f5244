#include "read/vox_reader.h"

#include "container/header_text.h"
#include "container/quoted_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

void defaultVoxPalette(uint8_t palette[256][4]) {
    // Index 0 is empty; then the 6 x 6 x 6 colour cube in steps of 0x33 from
    // white down (blue changing fastest, red slowest) without its black; then
    // ten-step ramps of red, green, blue and grey that avoid the cube's levels.
    memset(palette, 0, 256 * 4);
    int index = 1;
    for (int r = 0xff; r >= 0; r -= 0x33)
        for (int g = 0xff; g >= 0; g -= 0x33)
            for (int b = 0xff; b >= 0; b -= 0x33) {
                if (r == 0 && g == 0 && b == 0)
                    continue;
                uint8_t* p = palette[index++];
                p[0] = uint8_t(r), p[1] = uint8_t(g), p[2] = uint8_t(b), p[3] = 0xff;
            }
    static const uint8_t ramp[10] = {0xee, 0xdd, 0xbb, 0xaa, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};
    for (int channel = 0; channel < 4; ++channel)
        for (uint8_t level : ramp) {
            uint8_t* p = palette[index++];
            for (int k = 0; k < 3; ++k)
                p[k] = (channel == 3 || channel == k) ? level : 0;
            p[3] = 0xff;
        }
}

bool decodeVoxRotation(uint8_t packed, int32_t matrix[3][3]) {
    int first = packed & 3;
    int second = (packed >> 2) & 3;
    if (first == 3 || second == 3 || first == second)
        return false;
    int column[3] = {first, second, 3 - first - second};
    for (int row = 0; row < 3; ++row) {
        for (int k = 0; k < 3; ++k)
            matrix[row][k] = 0;
        matrix[row][column[row]] = (packed >> (4 + row)) & 1 ? -1 : 1;
    }
    return true;
}

namespace {

// A bounds-checked little-endian reader over one chunk's content.
struct ByteReader {
    const uint8_t* data;
    size_t size;
    size_t pos;
    bool failed;
};

ByteReader makeReader(const uint8_t* data, size_t size) {
    return ByteReader{data, size, 0, false};
}

size_t bytesLeft(const ByteReader& r) {
    return r.failed ? 0 : r.size - r.pos;
}

uint32_t readU32(ByteReader& r) {
    if (bytesLeft(r) < 4) {
        r.failed = true;
        return 0;
    }
    const uint8_t* p = r.data + r.pos;
    r.pos += 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int32_t readI32(ByteReader& r) {
    return int32_t(readU32(r));
}

std::string readString(ByteReader& r) {
    int32_t length = readI32(r);
    if (r.failed || length < 0 || size_t(length) > bytesLeft(r)) {
        r.failed = true;
        return std::string();
    }
    std::string text(reinterpret_cast<const char*>(r.data + r.pos), size_t(length));
    r.pos += size_t(length);
    return text;
}

// A DICT: a count, then that many key and value strings.
std::map<std::string, std::string> readDict(ByteReader& r) {
    std::map<std::string, std::string> dict;
    int32_t pairs = readI32(r);
    // Each pair takes eight bytes at least, so a count the chunk cannot hold
    // is refused before anything is read.
    if (r.failed || pairs < 0 || size_t(pairs) > bytesLeft(r) / 8) {
        r.failed = true;
        return dict;
    }
    for (int32_t i = 0; i < pairs && !r.failed; ++i) {
        std::string key = readString(r);
        std::string value = readString(r);
        dict[key] = value;
    }
    return dict;
}

bool isHidden(const std::map<std::string, std::string>& attributes) {
    auto found = attributes.find("_hidden");
    return found != attributes.end() && found->second == "1";
}

// Parses "x y z" (decimal integers separated by blanks) into three numbers.
bool parseTranslation(const std::string& text, int64_t out[3]) {
    const char* p = text.c_str();
    for (int k = 0; k < 3; ++k) {
        char* end = nullptr;
        errno = 0;
        long long value = strtoll(p, &end, 10);
        if (end == p || errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
            return false;
        out[k] = value;
        p = end;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return *p == '\0';
}

bool parseRotation(const std::string& text, uint8_t& out) {
    int64_t value = 0;
    if (!wordToInt(text, value) || value < 0 || value > 255)
        return false;
    int32_t matrix[3][3];
    out = uint8_t(value);
    return decodeVoxRotation(out, matrix);
}

std::string chunkName(const uint8_t* id) {
    std::string name;
    for (int k = 0; k < 4; ++k)
        name += (id[k] >= 0x20 && id[k] < 0x7f) ? char(id[k]) : '?';
    return name;
}

bool parseTransform(ByteReader& r, VoxNode& node, std::string& error) {
    node.kind = VoxNodeKind::transform;
    node.hidden = isHidden(readDict(r));
    node.child = readI32(r);
    readI32(r); // reserved
    node.layer = readI32(r);
    int32_t frames = readI32(r);
    if (r.failed || frames < 0 || size_t(frames) > bytesLeft(r) / 4) {
        error = "malformed nTRN chunk";
        return false;
    }
    // Only the first frame is shown: the others belong to an animation.
    for (int32_t f = 0; f < frames && !r.failed; ++f) {
        std::map<std::string, std::string> frame = readDict(r);
        if (f != 0)
            continue;
        auto t = frame.find("_t");
        if (t != frame.end() && !parseTranslation(t->second, node.translation)) {
            error = "malformed translation " + quotedText(t->second, 40) + " in an nTRN chunk";
            return false;
        }
        auto rotation = frame.find("_r");
        if (rotation != frame.end() && !parseRotation(rotation->second, node.rotation)) {
            error = "malformed rotation " + quotedText(rotation->second, 40) + " in an nTRN chunk";
            return false;
        }
    }
    if (r.failed) {
        error = "malformed nTRN chunk";
        return false;
    }
    return true;
}

bool parseNode(const uint8_t* id, ByteReader& r, VoxScene& scene, std::string& error) {
    int32_t nodeId = readI32(r);
    VoxNode node;
    const std::string name = chunkName(id);
    if (name == "nTRN") {
        if (!parseTransform(r, node, error))
            return false;
    } else {
        node.kind = name == "nGRP" ? VoxNodeKind::group : VoxNodeKind::shape;
        node.hidden = isHidden(readDict(r));
        int32_t count = readI32(r);
        // A group lists ids of four bytes; a shape lists a model id and a
        // dictionary (eight bytes at least) per model.
        size_t each = node.kind == VoxNodeKind::group ? 4 : 8;
        if (r.failed || count < 0 || size_t(count) > bytesLeft(r) / each) {
            error = "malformed " + name + " chunk";
            return false;
        }
        for (int32_t i = 0; i < count; ++i) {
            node.children.push_back(readI32(r));
            if (node.kind == VoxNodeKind::shape)
                readDict(r);
        }
        if (r.failed) {
            error = "malformed " + name + " chunk";
            return false;
        }
    }
    if (!scene.nodes.emplace(nodeId, node).second) {
        error = "scene node " + std::to_string(nodeId) + " is defined twice";
        return false;
    }
    return true;
}

// The SIZE chunk that the next XYZI chunk belongs to.
struct PendingSize {
    bool present = false;
    int32_t size[3] = {0, 0, 0};
};

bool readSizeChunk(ByteReader& r, PendingSize& pending, std::string& error) {
    for (int k = 0; k < 3; ++k)
        pending.size[k] = readI32(r);
    if (r.failed || pending.size[0] <= 0 || pending.size[1] <= 0 || pending.size[2] <= 0) {
        error = "malformed SIZE chunk";
        return false;
    }
    pending.present = true;
    return true;
}

// XYZI: a count, then x, y, z and a colour index per voxel, each inside the
// model's size.
bool readModelChunk(ByteReader& r, PendingSize& pending, VoxScene& scene, std::string& error) {
    if (!pending.present) {
        error = "XYZI chunk without a SIZE chunk before it";
        return false;
    }
    uint32_t count = readU32(r);
    if (r.failed || count > bytesLeft(r) / 4) {
        error = "XYZI chunk claims more voxels than it holds";
        return false;
    }
    VoxModelData model;
    std::copy(pending.size, pending.size + 3, model.size);
    const uint8_t* first = r.data + r.pos;
    const uint8_t* v = first;
    for (uint32_t i = 0; i < count; ++i, v += 4)
        for (int k = 0; k < 3; ++k)
            if (v[k] >= model.size[k]) {
                error = "voxel outside its model's size in model " +
                        std::to_string(scene.models.size());
                return false;
            }
    model.voxels.assign(first, first + size_t(count) * 4);
    scene.models.push_back(std::move(model));
    pending.present = false;
    return true;
}

bool readPaletteChunk(const ByteReader& r, VoxScene& scene, std::string& error) {
    if (r.size < 1024) {
        error = "RGBA chunk shorter than 256 colours";
        return false;
    }
    // Stored colour i belongs to colour index i + 1; the last stored entry
    // has no index.
    for (int i = 0; i < 255; ++i)
        memcpy(scene.palette[i + 1], r.data + 4 * i, 4);
    return true;
}

bool readLayerChunk(ByteReader& r, VoxScene& scene, std::string& error) {
    int32_t layer = readI32(r);
    bool hidden = isHidden(readDict(r));
    if (r.failed) {
        error = "malformed LAYR chunk";
        return false;
    }
    scene.hiddenLayers[layer] = hidden;
    return true;
}

// One chunk's content, by its name. Every other chunk (PACK, materials,
// cameras, notes...) is skipped.
bool readChunk(const uint8_t* id, ByteReader& r, PendingSize& pending, VoxScene& scene,
               std::string& error) {
    const std::string name = chunkName(id);
    if (name == "SIZE")
        return readSizeChunk(r, pending, error);
    if (name == "XYZI")
        return readModelChunk(r, pending, scene, error);
    if (name == "RGBA")
        return readPaletteChunk(r, scene, error);
    if (name == "nTRN" || name == "nGRP" || name == "nSHP")
        return parseNode(id, r, scene, error);
    if (name == "LAYR")
        return readLayerChunk(r, scene, error);
    return true;
}

// The header and the MAIN chunk: where its children start and end.
bool findMainChildren(const uint8_t* data, size_t size, size_t& begin, size_t& end,
                      std::string& error) {
    if (size < 8 || memcmp(data, "VOX ", 4) != 0) {
        error = "not a .vox file (no \"VOX \" header)";
        return false;
    }
    // After the magic comes a version number; every version is read the
    // same way.
    if (size < 20 || memcmp(data + 8, "MAIN", 4) != 0) {
        error = "no MAIN chunk after the header";
        return false;
    }
    ByteReader file = makeReader(data, size);
    file.pos = 12;
    uint32_t mainContent = readU32(file);
    uint32_t mainChildren = readU32(file);
    if (uint64_t(mainContent) + mainChildren > bytesLeft(file)) {
        error = "truncated file: the MAIN chunk claims more bytes than there are";
        return false;
    }
    begin = file.pos + mainContent;
    end = begin + mainChildren;
    return true;
}

} // namespace

bool parseVox(const uint8_t* data, size_t size, VoxScene& scene, std::string& error) {
    scene = VoxScene();
    defaultVoxPalette(scene.palette);
    size_t pos = 0, end = 0;
    if (!findMainChildren(data, size, pos, end, error))
        return false;
    PendingSize pending;
    while (pos < end) {
        if (end - pos < 12) {
            error = "truncated chunk header";
            return false;
        }
        const uint8_t* id = data + pos;
        ByteReader header = makeReader(data + pos + 4, 8);
        uint32_t content = readU32(header);
        uint32_t children = readU32(header);
        pos += 12;
        if (uint64_t(content) + children > end - pos) {
            error = "truncated " + chunkName(id) + " chunk";
            return false;
        }
        ByteReader r = makeReader(data + pos, content);
        if (!readChunk(id, r, pending, scene, error))
            return false;
        // A chunk's children are skipped by their size.
        pos += size_t(content) + children;
    }
    if (scene.models.empty()) {
        error = "no models in the file";
        return false;
    }
    return true;
}

namespace {

// A voxel on the integer lattice of the scene, with its colour and the order
// it was placed in: the last placed wins where two land on one cell.
struct PlacedVoxel {
    int64_t cell[3];
    uint32_t order;
    uint8_t color[3];
};

// Integer affine map applied to coordinates that are doubled, so that the
// half-integer centres of even-sized models stay exact.
struct Placement {
    int32_t rotation[3][3];
    int64_t translation2[3]; // doubled translation
};

// One model shown by the scene, where the transforms above it put it.
struct ModelPlacement {
    int32_t model;
    Placement placement;
};

constexpr int maxSceneDepth = 256;
constexpr int64_t maxSceneVisits = 1000000;

struct PlaceState {
    const VoxScene* scene;
    int64_t visits;
    std::vector<ModelPlacement> placements;
    std::string* error;
};

Placement compose(const Placement& parent, const VoxNode& node) {
    int32_t local[3][3];
    decodeVoxRotation(node.rotation, local); // checked when read
    Placement result;
    for (int i = 0; i < 3; ++i) {
        result.translation2[i] = parent.translation2[i];
        for (int j = 0; j < 3; ++j) {
            result.translation2[i] += int64_t(parent.rotation[i][j]) * 2 * node.translation[j];
            result.rotation[i][j] = 0;
            for (int k = 0; k < 3; ++k)
                result.rotation[i][j] += parent.rotation[i][k] * local[k][j];
        }
    }
    return result;
}

int64_t floorHalf(int64_t doubled) {
    return doubled >= 0 ? doubled / 2 : -((-doubled + 1) / 2);
}

// The voxels a model shows: colour index 0 marks an empty cell.
int64_t shownVoxels(const VoxModelData& model) {
    int64_t count = 0;
    for (size_t i = 3; i < model.voxels.size(); i += 4)
        count += model.voxels[i] != 0;
    return count;
}

void placeModel(const VoxScene& scene, const VoxModelData& model, const Placement& placement,
                std::vector<PlacedVoxel>& voxels) {
    const size_t count = model.voxels.size() / 4;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* v = &model.voxels[4 * i];
        if (v[3] == 0)
            continue;
        // The voxel's centre relative to the model's centre, doubled.
        int64_t local[3];
        for (int k = 0; k < 3; ++k)
            local[k] = 2 * int64_t(v[k]) + 1 - model.size[k];
        PlacedVoxel placed;
        for (int r = 0; r < 3; ++r) {
            int64_t doubled = placement.translation2[r];
            for (int k = 0; k < 3; ++k)
                doubled += placement.rotation[r][k] * local[k];
            placed.cell[r] = floorHalf(doubled);
        }
        placed.order = uint32_t(voxels.size());
        memcpy(placed.color, scene.palette[v[3]], 3);
        voxels.push_back(placed);
    }
}

// Walks the scene graph and lists every model it shows, where, in order.
bool collectPlacements(PlaceState& state, int32_t id, const Placement& placement, int depth) {
    if (depth > maxSceneDepth || ++state.visits > maxSceneVisits) {
        *state.error = "the scene graph is cyclic or too large";
        return false;
    }
    auto found = state.scene->nodes.find(id);
    if (found == state.scene->nodes.end()) {
        *state.error = "the scene graph refers to a missing node " + std::to_string(id);
        return false;
    }
    const VoxNode& node = found->second;
    if (node.hidden)
        return true;
    switch (node.kind) {
    case VoxNodeKind::transform: {
        auto layer = state.scene->hiddenLayers.find(node.layer);
        if (layer != state.scene->hiddenLayers.end() && layer->second)
            return true;
        return collectPlacements(state, node.child, compose(placement, node), depth + 1);
    }
    case VoxNodeKind::group:
        for (int32_t child : node.children)
            if (!collectPlacements(state, child, placement, depth + 1))
                return false;
        return true;
    case VoxNodeKind::shape:
        for (int32_t modelId : node.children) {
            if (modelId < 0 || size_t(modelId) >= state.scene->models.size()) {
                *state.error = "a shape node shows model " + std::to_string(modelId) +
                               ", which the file does not hold";
                return false;
            }
            state.placements.push_back({modelId, placement});
        }
        return true;
    }
    return true;
}

// Model, rotation and translation as one row of numbers, to compare.
std::array<int64_t, 13> placementKey(const ModelPlacement& p) {
    std::array<int64_t, 13> key;
    key[0] = p.model;
    for (int i = 0; i < 9; ++i)
        key[size_t(1 + i)] = p.placement.rotation[i / 3][i % 3];
    for (int k = 0; k < 3; ++k)
        key[size_t(10 + k)] = p.placement.translation2[k];
    return key;
}

// A model placed twice by the same rotation and translation puts the same
// voxels in the same cells: only its last placement can show anywhere, so
// only that one is kept, in its place in the order.
void keepLastOfEachPlacement(std::vector<ModelPlacement>& placements) {
    std::vector<uint32_t> index(placements.size());
    for (size_t i = 0; i < index.size(); ++i)
        index[i] = uint32_t(i);
    std::sort(index.begin(), index.end(), [&](uint32_t a, uint32_t b) {
        const auto keyA = placementKey(placements[a]), keyB = placementKey(placements[b]);
        return keyA != keyB ? keyA < keyB : a < b;
    });
    std::vector<bool> kept(placements.size(), false);
    for (size_t i = 0; i < index.size(); ++i)
        if (i + 1 == index.size() ||
            placementKey(placements[index[i]]) != placementKey(placements[index[i + 1]]))
            kept[index[i]] = true;
    size_t next = 0;
    for (size_t i = 0; i < placements.size(); ++i)
        if (kept[i])
            placements[next++] = placements[i];
    placements.resize(next);
}

} // namespace

bool placeVoxScene(const VoxScene& scene, float voxelSize, int64_t maxVoxels, VoxelList& out,
                   std::string& error) {
    PlaceState state{&scene, 0, {}, &error};
    const Placement identity = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0, 0, 0}};
    if (!scene.nodes.empty()) {
        if (!collectPlacements(state, 0, identity, 0))
            return false;
    } else {
        // Without a scene graph the models stand side by side along x, one
        // empty voxel apart, each with its lowest corner at the origin.
        int64_t x = 0;
        for (size_t m = 0; m < scene.models.size(); ++m) {
            const VoxModelData& model = scene.models[m];
            Placement placement = identity;
            for (int k = 0; k < 3; ++k)
                placement.translation2[k] = model.size[k] + (k == 0 ? 2 * x : 0);
            state.placements.push_back({int32_t(m), placement});
            x += int64_t(model.size[0]) + 1;
        }
    }
    keepLastOfEachPlacement(state.placements);

    // Counted before anything of that size is taken.
    std::vector<int64_t> shown(scene.models.size());
    for (size_t m = 0; m < scene.models.size(); ++m)
        shown[m] = shownVoxels(scene.models[m]);
    int64_t total = 0;
    for (const ModelPlacement& p : state.placements) {
        total += shown[size_t(p.model)];
        if (total > maxVoxels) {
            error = "the scene has more than " + std::to_string(maxVoxels) +
                    " voxels (raise --max-voxels)";
            return false;
        }
    }
    std::vector<PlacedVoxel> voxels;
    voxels.reserve(size_t(total));
    for (const ModelPlacement& p : state.placements)
        placeModel(scene, scene.models[size_t(p.model)], p.placement, voxels);
    std::vector<ModelPlacement>().swap(state.placements);

    // Where models overlap, the one placed last shows.
    std::sort(voxels.begin(), voxels.end(), [](const PlacedVoxel& a, const PlacedVoxel& b) {
        for (int k = 0; k < 3; ++k)
            if (a.cell[k] != b.cell[k])
                return a.cell[k] < b.cell[k];
        return a.order < b.order;
    });
    auto lastOfCell = [&](size_t i) {
        return i + 1 == voxels.size() ||
               !std::equal(voxels[i].cell, voxels[i].cell + 3, voxels[i + 1].cell);
    };
    size_t cells = 0;
    for (size_t i = 0; i < voxels.size(); ++i)
        cells += lastOfCell(i);
    out = VoxelList();
    out.voxelSize = voxelSize;
    out.positions.reserve(3 * cells);
    out.colors.reserve(3 * cells);
    for (size_t i = 0; i < voxels.size(); ++i) {
        if (!lastOfCell(i))
            continue;
        const int64_t* c = voxels[i].cell;
        // The file's z is up; the viewer's up is y. Turning a quarter about x
        // maps (x, y, z) to (x, z, -y); the cell [y, y + 1] becomes
        // [-y - 1, -y].
        const int64_t turned[3] = {c[0], c[2], -c[1] - 1};
        for (int k = 0; k < 3; ++k)
            out.positions.push_back(float((double(turned[k]) + 0.5) * double(voxelSize)));
        out.colors.insert(out.colors.end(), voxels[i].color, voxels[i].color + 3);
    }
    return true;
}

bool startsWithVox(const uint8_t* head, size_t size) {
    return size >= 4 && memcmp(head, "VOX ", 4) == 0;
}

bool readVoxGrid(const uint8_t* data, size_t size, const ReadOptions& options, VoxelGrid& out,
                 std::string& error) {
    VoxScene scene;
    if (!parseVox(data, size, scene, error)) {
        error = std::string("cannot read ") + options.path + ": " + error;
        return false;
    }
    out = VoxelGrid();
    if (!placeVoxScene(scene, 1.0f, options.maxVoxels, out.voxels, error)) {
        error = std::string(options.path) + ": " + error;
        return false;
    }
    // Cell c of the scene has its centre at c + 0.5 (see placeVoxScene).
    out.hasLattice = true;
    for (double& o : out.origin)
        o = 0.5;
    out.step = 1.0;
    return true;
}

const char voxHelp[] =
    "every model shown in the file's scene, placed by its transforms, coloured "
    "from its palette; its z axis (up) becomes y. One voxel per voxel of the file, "
    "one unit apart.";

extern const InputFormat voxInput = {
    "MagicaVoxel .vox",   {".vox"}, startsWithVox, readVoxGrid,          nullptr,
    ColorMode::automatic, nullptr,  nullptr,       ".vox (MagicaVoxel)", voxHelp};
