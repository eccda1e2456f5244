// The OpenVDB module's code (libvoxscope_vdb.so): every OpenVDB header is
// included here alone, and only the reading child loads what it links.
#include "read/vdb_grid.h"

#include "read/memory_refusal.h"

#include <openvdb/io/Stream.h>
#include <openvdb/openvdb.h>

#include <cmath>
#include <cstring>
#include <istream>
#include <streambuf>
#include <vector>

namespace {

using openvdb::Coord;
using openvdb::CoordBBox;

// The file's bytes as an input stream, without a copy.
struct ByteBuffer : std::streambuf {
    ByteBuffer(const uint8_t* data, size_t size) {
        char* start = const_cast<char*>(reinterpret_cast<const char*>(data));
        setg(start, start, start + size);
    }
};

// How a grid is read: what its values become.
enum class GridKind { fog, levelSet, labels, occupancy, mask, colors, unread };

GridKind kindOf(const openvdb::GridBase& grid) {
    if (grid.isType<openvdb::FloatGrid>() || grid.isType<openvdb::DoubleGrid>())
        return grid.getGridClass() == openvdb::GRID_LEVEL_SET ? GridKind::levelSet : GridKind::fog;
    if (grid.isType<openvdb::Int32Grid>() || grid.isType<openvdb::Int64Grid>())
        return GridKind::labels;
    if (grid.isType<openvdb::BoolGrid>())
        return GridKind::occupancy;
    if (grid.isType<openvdb::MaskGrid>())
        return GridKind::mask;
    if (grid.isType<openvdb::Vec3SGrid>() || grid.isType<openvdb::Vec3DGrid>() ||
        grid.isType<openvdb::Vec3IGrid>())
        return GridKind::colors;
    return GridKind::unread;
}

bool isFloatGrid(const openvdb::GridBase& grid) {
    return grid.isType<openvdb::FloatGrid>() || grid.isType<openvdb::DoubleGrid>();
}

std::string quoted(const openvdb::GridBase& grid) {
    return "\"" + grid.getName() + "\"";
}

// The grid `wanted` names (its name, else its number from 1), else the
// first float grid, else the first; -1 with a reason when there is none.
int chooseGrid(const openvdb::GridPtrVec& grids, const std::string& wanted, std::string& reason) {
    if (grids.empty()) {
        reason = "it holds no grid";
        return -1;
    }
    if (!wanted.empty()) {
        for (size_t n = 0; n < grids.size(); ++n)
            if (grids[n]->getName() == wanted)
                return int(n);
        char* end = nullptr;
        const long number = strtol(wanted.c_str(), &end, 10);
        if (*end == '\0' && number >= 1 && size_t(number) <= grids.size())
            return int(number - 1);
        reason = "it holds no grid \"" + wanted + "\" (its grids:";
        for (size_t n = 0; n < grids.size(); ++n)
            reason += (n == 0 ? " " : ", ") + quoted(*grids[n]);
        reason += ")";
        return -1;
    }
    for (size_t n = 0; n < grids.size(); ++n)
        if (isFloatGrid(*grids[n]))
            return int(n);
    return 0;
}

// The box of every value below 0, tiles and voxels, active or not: a level
// set's inside, whose deep tiles are inactive.
template <typename GridT> CoordBBox insideBox(const GridT& grid) {
    CoordBBox box;
    auto tile = grid.tree().cbeginValueAll();
    tile.setMaxDepth(GridT::TreeType::RootNodeType::LEVEL - 1);
    for (; tile; ++tile)
        if (*tile < 0)
            box.expand(tile.getBoundingBox());
    for (auto leaf = grid.tree().cbeginLeaf(); leaf; ++leaf)
        for (auto value = leaf->cbeginValueAll(); value; ++value)
            if (*value < 0)
                box.expand(value.getCoord());
    return box;
}

// Writes the grid's value at every voxel of `box` into `out`, `width` items
// a voxel, x slowest and z fastest, through put(value, active, item): its
// background, then the tiles above the leaves, then the leaves' voxels.
template <typename GridT, typename Item, typename Put>
void fillBox(const GridT& grid, const CoordBBox& box, Item* out, int width, Put put) {
    const Coord size = box.dim(), low = box.min();
    auto at = [&](const Coord& c) {
        return out + ((int64_t(c.x() - low.x()) * size.y() + (c.y() - low.y())) * size.z() +
                      (c.z() - low.z())) *
                         width;
    };
    auto fill = [&](const CoordBBox& part, const Item* item) {
        for (int x = part.min().x(); x <= part.max().x(); ++x)
            for (int y = part.min().y(); y <= part.max().y(); ++y) {
                Item* row = at(Coord(x, y, part.min().z()));
                for (int z = part.min().z(); z <= part.max().z(); ++z, row += width)
                    memcpy(row, item, sizeof(Item) * size_t(width));
            }
    };
    Item item[3];
    put(grid.background(), false, item);
    fill(box, item);
    auto tile = grid.tree().cbeginValueAll();
    tile.setMaxDepth(GridT::TreeType::RootNodeType::LEVEL - 1);
    for (; tile; ++tile) {
        CoordBBox part = tile.getBoundingBox();
        part.intersect(box);
        if (part.empty())
            continue;
        put(tile.getValue(), tile.isValueOn(), item);
        fill(part, item);
    }
    using Leaf = typename GridT::TreeType::LeafNodeType;
    for (auto leaf = grid.tree().cbeginLeaf(); leaf; ++leaf) {
        CoordBBox part = leaf->getNodeBoundingBox();
        part.intersect(box);
        if (part.empty())
            continue;
        for (int x = part.min().x(); x <= part.max().x(); ++x)
            for (int y = part.min().y(); y <= part.max().y(); ++y)
                for (int z = part.min().z(); z <= part.max().z(); ++z) {
                    const openvdb::Index n = Leaf::coordToOffset(Coord(x, y, z));
                    put(leaf->getValue(n), leaf->isValueOn(n), at(Coord(x, y, z)));
                }
    }
}

// A colour component: floats from 0..1 to 0..255, integers as they are,
// clamped either way (NaN is 0).
template <typename T> uint8_t colorComponent(T value) {
    const double v = std::is_floating_point<T>::value ? double(value) * 255.0 : double(value);
    return !(v > 0) ? 0 : v >= 255 ? 255 : uint8_t(std::lround(v));
}

// Reads the grid into `out` as `kind` says, over its box; false with a
// reason when the box does not fit the memory allowed.
template <typename GridT>
bool readTyped(const GridT& grid, const CoordBBox& box, GridKind kind, int64_t maxBytes,
               SampleVolume& out, std::string& reason) {
    using Value = typename GridT::ValueType;
    if (box.empty()) {
        reason = "its grid " + quoted(grid) +
                 (kind == GridKind::levelSet ? " has no inside (no value below 0)"
                                             : " has no active voxels");
        return false;
    }
    SampleType type = SampleType::boolean;
    int width = 1;
    if constexpr (std::is_floating_point<Value>::value || std::is_integral<Value>::value) {
        if (kind == GridKind::fog || kind == GridKind::labels)
            type = std::is_floating_point<Value>::value
                       ? (sizeof(Value) == 4 ? SampleType::float32 : SampleType::float64)
                       : (sizeof(Value) == 4 ? SampleType::int32 : SampleType::int64);
    }
    if (kind == GridKind::colors)
        type = SampleType::uint8, width = 3;
    const Coord size = box.dim();
    const int64_t dims[3] = {size.x(), size.y(), size.z()};
    const size_t item = sampleTypeSize(type) * size_t(width);
    if (checkedSampleCount(dims, item, maxBytes) < 0) {
        reason = memoryRefusal("the active box of its grid " + quoted(grid) + " (" +
                                   std::to_string(dims[0]) + "x" + std::to_string(dims[1]) + "x" +
                                   std::to_string(dims[2]) + " voxels)",
                               claimedSampleBytes(dims, item), maxBytes) +
                 " or convert a coarser grid";
        return false;
    }
    out = SampleVolume();
    out.storage.resize(size_t(dims[0] * dims[1] * dims[2]) * item);
    for (int a = 0; a < 3; ++a)
        out.dims[a] = dims[a];
    out.type = type;
    setSampleOrder(out, false);
    uint8_t* bytes = out.storage.data();
    if constexpr (std::is_floating_point<Value>::value || std::is_integral<Value>::value) {
        if (kind == GridKind::fog || kind == GridKind::labels) {
            out.meaning = kind == GridKind::fog ? SampleMeaning::values : SampleMeaning::labels;
            fillBox(grid, box, reinterpret_cast<Value*>(bytes), 1,
                    [](const Value& v, bool, Value* at) { *at = v; });
        }
    }
    if constexpr (std::is_floating_point<Value>::value) {
        if (kind == GridKind::levelSet)
            fillBox(grid, box, bytes, 1,
                    [](const Value& v, bool, uint8_t* at) { *at = v < 0 ? 1 : 0; });
    }
    if constexpr (std::is_same<Value, bool>::value) {
        fillBox(grid, box, bytes, 1, [](bool v, bool, uint8_t* at) { *at = v ? 1 : 0; });
    }
    if constexpr (std::is_same<Value, openvdb::ValueMask>::value) {
        fillBox(grid, box, bytes, 1, [](const auto&, bool on, uint8_t* at) { *at = on ? 1 : 0; });
    }
    if constexpr (openvdb::VecTraits<Value>::IsVec) {
        fillBox(grid, box, bytes, 3, [](const Value& v, bool, uint8_t* at) {
            for (int c = 0; c < 3; ++c)
                at[c] = colorComponent(v[c]);
        });
        setColorChannels(out, 3, false);
    }
    return true;
}

// The grid's place: its linear transform's steps along the index axes and
// the centre of the box's first voxel, in world space (y up).
bool placeGrid(const openvdb::GridBase& grid, const CoordBBox& box, SampleVolume& out,
               std::string& reason) {
    const openvdb::math::Transform& transform = grid.transform();
    if (!transform.isLinear()) {
        reason = "its grid " + quoted(grid) + " has a " +
                 (transform.mapType().find("Frustum") != std::string::npos
                      ? std::string("frustum")
                      : "non-linear " + transform.mapType()) +
                 " transform; only linear ones are read";
        return false;
    }
    const openvdb::Vec3d zero = transform.indexToWorld(openvdb::Vec3d(0, 0, 0));
    const openvdb::Vec3d first = transform.indexToWorld(box.min());
    // World (x, y, z), y up as film tools have it, is the display frame. It
    // is stated as LPS (x left, -z posterior, y superior), which the shared
    // turn to the display frame takes back to (x, y, z), exactly.
    auto toLps = [](const openvdb::Vec3d& v, double lps[3]) {
        lps[0] = v.x(), lps[1] = -v.z(), lps[2] = v.y();
    };
    for (int a = 0; a < 3; ++a) {
        openvdb::Vec3d unit(0, 0, 0);
        unit[a] = 1;
        const openvdb::Vec3d step = transform.indexToWorld(unit) - zero;
        const double length = step.length();
        if (!std::isfinite(length) || !(length > 0)) {
            reason = "its grid " + quoted(grid) + " has a transform of no size along an axis";
            return false;
        }
        out.spacing[a] = length;
        toLps(step / length, out.directions[a]);
    }
    toLps(first, out.origin);
    for (double c : out.origin)
        if (!std::isfinite(c)) {
            reason = "its grid " + quoted(grid) + " has a transform that places it nowhere";
            return false;
        }
    out.frame = PatientFrame::lps;
    out.spacingSource = "its transform's voxel size";
    out.positionSource = "its transform";
    return true;
}

// The grid types read, the ones kindOf names.
using ReadGridTypes = openvdb::TypeList<openvdb::FloatGrid, openvdb::DoubleGrid, openvdb::Int32Grid,
                                        openvdb::Int64Grid, openvdb::BoolGrid, openvdb::MaskGrid,
                                        openvdb::Vec3SGrid, openvdb::Vec3DGrid, openvdb::Vec3IGrid>;

template <typename GridT>
bool readGridAs(const GridT& grid, GridKind kind, int64_t maxBytes, SampleVolume& out,
                std::string& reason) {
    CoordBBox box = grid.evalActiveVoxelBoundingBox();
    if constexpr (std::is_floating_point<typename GridT::ValueType>::value) {
        if (kind == GridKind::levelSet)
            box = insideBox(grid);
    }
    return readTyped(grid, box, kind, maxBytes, out, reason) && placeGrid(grid, box, out, reason);
}

bool readChosen(const openvdb::GridBase& grid, int64_t maxBytes, SampleVolume& out,
                std::string& reason) {
    const GridKind kind = kindOf(grid);
    if (kind == GridKind::unread) {
        reason = "its grid " + quoted(grid) + " holds " + grid.valueType() +
                 " values, which are not read (float, double, int32, int64, bool, mask and Vec3 "
                 "grids are)";
        return false;
    }
    bool read = false;
    grid.apply<ReadGridTypes>(
        [&](const auto& typed) { read = readGridAs(typed, kind, maxBytes, out, reason); });
    return read;
}

std::string kindName(const openvdb::GridBase& grid) {
    switch (kindOf(grid)) {
    case GridKind::fog:
        return "fog";
    case GridKind::levelSet:
        return "level set";
    case GridKind::labels:
        return "labels";
    case GridKind::occupancy:
    case GridKind::mask:
        return "mask";
    case GridKind::colors:
        return "colours";
    default:
        return grid.valueType();
    }
}

// The library's message, which may quote the file's damaged bytes, as a
// short line of printable text.
std::string shownMessage(const char* what) {
    std::string shown;
    for (const char* c = what; *c && shown.size() < 160; ++c)
        shown += *c >= ' ' && *c <= '~' ? *c : '?';
    return shown + (strlen(what) > 160 ? "..." : "");
}

} // namespace

extern "C" __attribute__((visibility("default"))) bool
voxscopeReadVdbGrid(const uint8_t* data, size_t size, const ReadOptions& options, SampleVolume& out,
                    std::string& reason, std::string& note) {
    try {
        openvdb::initialize();
        ByteBuffer buffer(data, size);
        std::istream input(&buffer);
        // The library reads on past the end without looking: a damaged count
        // of 4 billion tiles would spin for minutes on a stream that has failed.
        input.exceptions(std::ios::failbit | std::ios::badbit | std::ios::eofbit);
        openvdb::io::Stream stream(input, false);
        const openvdb::GridPtrVecPtr grids = stream.getGrids();
        if (!grids) {
            reason = "it holds no grid";
            return false;
        }
        const int chosen = chooseGrid(*grids, options.grid, reason);
        if (chosen < 0 || !readChosen(*(*grids)[size_t(chosen)], options.maxBytes, out, reason))
            return false;
        if (grids->size() > 1) {
            std::string others;
            for (size_t n = 0; n < grids->size(); ++n)
                if (int(n) != chosen)
                    others += (others.empty() ? "" : ", ") + quoted(*(*grids)[n]) + " (" +
                              kindName(*(*grids)[n]) + ")";
            const openvdb::GridBase& grid = *(*grids)[size_t(chosen)];
            note = "holds " + std::to_string(grids->size()) + " grids; read " + quoted(grid) +
                   " (" + kindName(grid) + "); the others: " + others + " (choose one with --grid)";
        }
        return true;
    } catch (const std::ios_base::failure&) {
        reason = "it ends before the data that its counts claim";
    } catch (const std::bad_alloc&) {
        reason = memoryRefusal("the grid data it claims", (long double)options.maxBytes + 1,
                               options.maxBytes);
    } catch (const std::exception& e) {
        reason = "its data cannot be parsed (" + shownMessage(e.what()) + ")";
    } catch (...) {
        reason = "its data cannot be parsed";
    }
    return false;
}
