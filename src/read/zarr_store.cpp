#include "read/zarr_store.h"

#include "container/quoted_text.h"
#include "read/data_file.h"
#include "read/zarr_json.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <dirent.h>
#include <sys/stat.h>

using nlohmann::json;

namespace {

bool refuse(std::string& reason, const std::string& text) {
    reason = text;
    return false;
}

// No metadata document of a real store comes near this.
constexpr int64_t mostMetadataBytes = int64_t(16) << 20;

// A group is searched this deep and this wide for its arrays.
constexpr int deepestSearch = 8;
constexpr size_t mostNodes = 4096;

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The JSON document at `path`; `present` false (and no refusal) when there
// is none.
bool readDocument(const std::string& path, const std::string& output, json& doc, bool& present,
                  std::string& reason) {
    present = exists(path);
    if (!present)
        return true;
    DataFile file;
    if (!openDataFile(path, "metadata file", output, file, reason))
        return false;
    std::vector<uint8_t> bytes;
    bool read = file.size <= mostMetadataBytes;
    if (!read)
        reason = "its metadata file " + shownPath(path) + " is larger than 16 MiB";
    else
        read = readDataBytes(file, path, 0, size_t(file.size), bytes, reason);
    closeDataFile(file);
    if (!read)
        return false;
    if (!parseZarrJson(std::string(bytes.begin(), bytes.end()), doc, reason))
        return refuse(reason, "its metadata file " + shownPath(path) + " " + reason);
    return true;
}

// A node of the store: an array or a group, of either format.
struct ZarrNode {
    int format = 0; // 0: no node
    bool array = false;
    json meta;
    json attributes;
};

bool readNode(const std::string& folder, const std::string& output, ZarrNode& node,
              std::string& reason) {
    node = ZarrNode();
    bool present = false;
    if (!readDocument(folder + "/zarr.json", output, node.meta, present, reason))
        return false;
    if (present) {
        const json* format = jsonMember(node.meta, "zarr_format");
        const json* type = jsonMember(node.meta, "node_type");
        if (!format || *format != 3 || !type || (*type != "array" && *type != "group"))
            return refuse(reason, "its metadata file " + shownPath(folder + "/zarr.json") +
                                      " is no Zarr v3 array or group");
        node.format = 3;
        node.array = *type == "array";
        if (const json* attributes = jsonMember(node.meta, "attributes"))
            node.attributes = *attributes;
        return true;
    }
    json group;
    bool isGroup = false;
    if (!readDocument(folder + "/.zarray", output, node.meta, node.array, reason) ||
        (!node.array && !readDocument(folder + "/.zgroup", output, group, isGroup, reason)))
        return false;
    if (!node.array && !isGroup)
        return true;
    const json* format = jsonMember(node.array ? node.meta : group, "zarr_format");
    if (!format || *format != 2)
        return refuse(reason, "its metadata file " +
                                  shownPath(folder + (node.array ? "/.zarray" : "/.zgroup")) +
                                  " gives no zarr_format 2");
    node.format = 2;
    bool attributes = false;
    return readDocument(folder + "/.zattrs", output, node.attributes, attributes, reason);
}

// The pyramid a group's attributes describe: OME 0.5 under "ome", 0.4 at
// their top.
const json* multiscales(const ZarrNode& node) {
    const json* ome = jsonMember(node.attributes, "ome");
    const json* list = jsonMember(ome ? *ome : node.attributes, "multiscales");
    return list && list->is_array() && !list->empty() ? &list->front() : nullptr;
}

std::string shapeText(const std::vector<int64_t>& shape) {
    std::string text;
    for (int64_t n : shape)
        text += (text.empty() ? "" : "×") + std::to_string(n);
    return text;
}

std::string lowered(std::string text) {
    for (char& c : text)
        c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

// Axis roles from names (x, y, z), else the last three axes as x, y, z.
std::vector<int> axisRoles(const std::vector<std::string>& names, size_t axes) {
    std::vector<int> roles(axes, -1);
    bool named = false;
    if (names.size() == axes)
        for (size_t a = 0; a < axes; ++a) {
            const std::string name = lowered(names[a]);
            const int role = name == "x" ? 0 : name == "y" ? 1 : name == "z" ? 2 : -1;
            if (role >= 0 && std::find(roles.begin(), roles.end(), role) == roles.end()) {
                roles[a] = role;
                named = true;
            }
        }
    if (!named)
        for (size_t r = 0; r < 3 && r < axes; ++r)
            roles[axes - 1 - r] = int(r);
    return roles;
}

int64_t spatialSamples(const ZarrArrayMeta& meta, const std::vector<int>& roles) {
    int64_t count = 1;
    for (size_t a = 0; a < roles.size(); ++a)
        if (roles[a] >= 0) {
            if (meta.shape[a] > 0 && count > (int64_t(1) << 62) / meta.shape[a])
                return int64_t(1) << 62;
            count *= meta.shape[a];
        }
    return count;
}

bool readArray(const std::string& folder, const ZarrNode& node, const ReadOptions& options,
               ZarrArrayMeta& meta, std::string& reason) {
    if (parseZarrArray(node.meta, node.format, options.maxBytes, meta, reason))
        return true;
    return refuse(reason, "the array in " + shownPath(folder) + ": " + reason);
}

// The names of the arrays and pyramids in a group, `under` its path in the
// store, searched depth first.
void findImages(const std::string& root, const std::string& under, int depth,
                const ReadOptions& options, std::vector<std::string>& found, size_t& nodes) {
    const std::string folder = under.empty() ? root : root + "/" + under;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
            names.push_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (++nodes > mostNodes)
            return;
        const std::string path = under.empty() ? name : under + "/" + name;
        struct stat info;
        if (stat((root + "/" + path).c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            continue;
        ZarrNode node;
        std::string ignored;
        if (!readNode(root + "/" + path, options.output, node, ignored) || node.format == 0)
            continue;
        if (node.array || multiscales(node))
            found.push_back(path);
        else if (depth < deepestSearch)
            findImages(root, path, depth + 1, options, found, nodes);
    }
}

bool chooseImage(const std::string& root, const std::string& name, const ReadOptions& options,
                 ZarrChoice& out, std::string& reason);

// The samples an image (an array, or a pyramid's finest level) holds, for
// choosing the largest; 0 when it does not read.
int64_t imageSamples(const std::string& root, const std::string& name, const ReadOptions& options) {
    // A pyramid's finest level: every level fits no voxel limit.
    ReadOptions quiet = options;
    quiet.level = -1;
    quiet.maxVoxels = int64_t(1) << 62;
    ZarrChoice choice;
    std::string ignored;
    if (!chooseImage(root, name, quiet, choice, ignored))
        return 0;
    return spatialSamples(choice.meta, choice.roles);
}

bool readScale(const json* transforms, size_t axes, std::vector<double>& scale,
               std::vector<double>& translation, const std::string& what, std::string& reason) {
    if (!transforms)
        return true;
    if (!transforms->is_array())
        return refuse(reason, what + " are no list");
    for (const json& transform : *transforms) {
        const json* type = jsonMember(transform, "type");
        if (type && *type == "identity")
            continue;
        const bool isScale = type && *type == "scale";
        if (!isScale && !(type && *type == "translation"))
            return refuse(reason, what + " hold a transformation of type " +
                                      (type ? jsonShown(*type) : std::string("none")) +
                                      ", not scale or translation");
        const json* values = jsonMember(transform, isScale ? "scale" : "translation");
        if (!values || !values->is_array() || values->size() != axes)
            return refuse(reason, what + " give a " + (isScale ? "scale" : "translation") +
                                      " of other than its " + std::to_string(axes) + " axes");
        for (size_t a = 0; a < axes; ++a) {
            double v = 0;
            if (!(*values)[a].is_number() || !std::isfinite(v = (*values)[a].get<double>()) ||
                (isScale && v <= 0))
                return refuse(reason, what + " give a " + (isScale ? "scale" : "translation") +
                                          " of " + jsonShown((*values)[a]) +
                                          (isScale ? ", not a positive number" : ", not a number"));
            if (isScale) {
                scale[a] *= v;
                translation[a] *= v;
            } else {
                translation[a] += v;
            }
        }
    }
    return true;
}

// An OME-Zarr pyramid: its axes, the level asked for or the finest that
// fits the voxel limit, and the voxel size and origin of that level.
bool choosePyramidLevel(const std::string& root, const std::string& name, const json& scales,
                        const ReadOptions& options, ZarrChoice& out, std::string& reason) {
    const std::string group = name.empty() ? root : root + "/" + name;
    const json* datasets = jsonMember(scales, "datasets");
    if (!datasets || !datasets->is_array() || datasets->empty() || datasets->size() > 64)
        return refuse(reason, "its multiscales list no datasets");
    std::vector<std::string> axisNames;
    if (const json* axes = jsonMember(scales, "axes"); axes && axes->is_array())
        for (const json& axis : *axes) {
            const json* axisName = jsonMember(axis, "name");
            axisNames.push_back(axis.is_string()                    ? axis.get<std::string>()
                                : axisName && axisName->is_string() ? axisName->get<std::string>()
                                                                    : "");
        }
    const int64_t levels = int64_t(datasets->size());
    if (options.level >= levels)
        return refuse(reason, "--level " + std::to_string(options.level) + " is past its " +
                                  std::to_string(levels) + " levels (0 to " +
                                  std::to_string(levels - 1) + ")");
    std::vector<std::string> paths;
    for (const json& dataset : *datasets) {
        const json* path = jsonMember(dataset, "path");
        std::string clean;
        if (!path || !path->is_string())
            return refuse(reason, "its multiscales give a dataset without a path");
        if (!storeRelativePath(path->get<std::string>(), false, "its multiscales dataset path",
                               clean, reason))
            return false;
        paths.push_back(clean);
    }
    int64_t level = options.level;
    std::vector<ZarrArrayMeta> metas(static_cast<size_t>(levels));
    for (int64_t n = 0; n < levels; ++n) {
        if (level >= 0 && n != level)
            continue;
        const std::string folder = group + "/" + paths[n];
        ZarrNode node;
        if (!readNode(folder, options.output, node, reason))
            return false;
        if (!node.array)
            return refuse(reason, "its level " + std::to_string(n) + ", " + shownPath(paths[n]) +
                                      ", holds no array");
        if (!readArray(folder, node, options, metas[n], reason))
            return false;
        if (axisNames.size() != metas[n].shape.size() && !axisNames.empty())
            return refuse(reason, "its multiscales name " + std::to_string(axisNames.size()) +
                                      " axes, its level " + std::to_string(n) + " has " +
                                      std::to_string(metas[n].shape.size()));
        if (level < 0 && (spatialSamples(metas[n], axisRoles(axisNames, metas[n].shape.size())) <=
                              options.maxVoxels ||
                          n + 1 == levels))
            level = n;
    }
    const ZarrArrayMeta& meta = metas[level];
    const size_t axes = meta.shape.size();
    out.folder = group + "/" + paths[level];
    out.meta = meta;
    out.roles = axisRoles(axisNames, axes);
    out.axisNames = axisNames;
    std::vector<double> scale(axes, 1.0), translation(axes, 0.0);
    const std::string what = "its level " + std::to_string(level) + "'s coordinateTransformations";
    if (!readScale(jsonMember((*datasets)[level], "coordinateTransformations"), axes, scale,
                   translation, what, reason) ||
        !readScale(jsonMember(scales, "coordinateTransformations"), axes, scale, translation,
                   "its multiscales' coordinateTransformations", reason))
        return false;
    for (size_t a = 0; a < axes; ++a)
        if (out.roles[a] >= 0) {
            out.spacing[out.roles[a]] = scale[a];
            out.origin[out.roles[a]] = translation[a];
        }
    out.spacingSource = "the OME-Zarr scale of level " + std::to_string(level);
    if (levels > 1)
        out.notes.push_back("read level " + std::to_string(level) + " (" +
                            quotedText(paths[level]) + ", " + shapeText(meta.shape) + ") of its " +
                            std::to_string(levels) +
                            " levels; --level N reads another, 0 the finest");
    return true;
}

// The image of a node read: its array, or a level of its pyramid.
bool chooseNode(const std::string& root, const std::string& name, const ZarrNode& node,
                const ReadOptions& options, ZarrChoice& out, std::string& reason) {
    const std::string folder = name.empty() ? root : root + "/" + name;
    if (node.format == 0)
        return refuse(reason,
                      shownPath(name.empty() ? folder : name) + " holds no Zarr array or group");
    if (!node.array) {
        if (const json* scales = multiscales(node))
            return choosePyramidLevel(root, name, *scales, options, out, reason);
        return refuse(reason, "the group " + shownPath(name.empty() ? folder : name) +
                                  " holds no array and no multiscales");
    }
    if (options.level >= 0)
        return refuse(reason, "--level applies to OME-Zarr pyramids, and " +
                                  shownPath(name.empty() ? folder : name) + " is an array");
    out.folder = folder;
    if (!readArray(folder, node, options, out.meta, reason))
        return false;
    out.roles = axisRoles(out.meta.dimensionNames, out.meta.shape.size());
    out.axisNames = out.meta.dimensionNames;
    return true;
}

bool chooseImage(const std::string& root, const std::string& name, const ReadOptions& options,
                 ZarrChoice& out, std::string& reason) {
    ZarrNode node;
    return readNode(name.empty() ? root : root + "/" + name, options.output, node, reason) &&
           chooseNode(root, name, node, options, out, reason);
}

// An array's metadata file given as the input, whatever its name (a copy
// beside others): the array it describes, its chunks in its folder.
bool readArrayFile(const char* path, const ReadOptions& options, ZarrNode& node,
                   std::string& reason) {
    node = ZarrNode();
    bool present = false;
    if (!readDocument(path, options.output, node.meta, present, reason))
        return false;
    const json* format = jsonMember(node.meta, "zarr_format");
    const json* type = jsonMember(node.meta, "node_type");
    if (format && *format == 3 && type && *type == "array")
        node.format = 3;
    else if (format && *format == 2 && jsonMember(node.meta, "dtype"))
        node.format = 2;
    node.array = node.format != 0;
    return true;
}

} // namespace

bool storeRelativePath(const std::string& name, bool rootedOk, const std::string& what,
                       std::string& clean, std::string& reason) {
    if (!name.empty() && name[0] == '/' && !rootedOk)
        return refuse(reason, what + " " + quotedText(name) + " is an absolute path");
    clean.clear();
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        const std::string part = name.substr(start, end - start);
        if (part == "..")
            return refuse(reason, what + " " + quotedText(name) +
                                      " goes through \"..\"; it must stay within the store");
        if (!part.empty() && part != ".")
            clean += (clean.empty() ? "" : "/") + part;
        start = end + 1;
    }
    return true;
}

std::string zarrStoreRoot(const char* path) {
    std::string root = path;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    struct stat info;
    if (stat(root.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return root;
    const size_t slash = root.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : root.substr(0, slash);
}

bool holdsZarrMetadata(const std::string& folder) {
    for (const char* member : {"/.zarray", "/.zgroup", "/zarr.json"})
        if (exists(folder + member))
            return true;
    return false;
}

bool chooseZarrArray(const char* path, const ReadOptions& options, ZarrChoice& out,
                     std::string& reason) {
    out = ZarrChoice();
    const std::string root = zarrStoreRoot(path);
    std::string name;
    if (*options.dataset) {
        if (!storeRelativePath(options.dataset, true, "--dataset", name, reason))
            return false;
        return chooseImage(root, name, options, out, reason);
    }
    ZarrNode node;
    struct stat info;
    const bool folder = stat(path, &info) == 0 && S_ISDIR(info.st_mode);
    if (!folder && !readArrayFile(path, options, node, reason))
        return false;
    if (node.array)
        return chooseNode(root, "", node, options, out, reason);
    if (!readNode(root, options.output, node, reason))
        return false;
    if (node.format == 0)
        return refuse(reason, "the folder holds no .zarray, .zgroup or zarr.json");
    if (node.array || multiscales(node))
        return chooseImage(root, "", options, out, reason);
    std::vector<std::string> found;
    size_t nodes = 0;
    findImages(root, "", 0, options, found, nodes);
    if (found.empty())
        return refuse(reason, "its group holds no array");
    size_t largest = 0;
    int64_t most = -1;
    for (size_t n = 0; n < found.size(); ++n) {
        const int64_t samples = imageSamples(root, found[n], options);
        if (samples > most) {
            most = samples;
            largest = n;
        }
    }
    if (!chooseImage(root, found[largest], options, out, reason))
        return refuse(reason, shownPath(found[largest]) + ": " + reason);
    if (found.size() > 1) {
        std::string others;
        for (size_t n = 0; n < found.size(); ++n)
            if (n != largest)
                others += (others.empty() ? "" : ", ") + shownPath(found[n]);
        out.notes.insert(out.notes.begin(), "read " + shownPath(found[largest]) +
                                                ", the largest of its arrays; --dataset PATH "
                                                "reads another of " +
                                                others);
    }
    return true;
}
