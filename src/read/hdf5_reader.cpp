#include "read/hdf5_reader.h"

#include "container/quoted_text.h"
#include "platform/program_name.h"
#include "read/child_read.h"
#include "read/hdf5_superblock.h"
#include "read/memory_refusal.h"

#include <hdf5.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// A file of more objects than this is not a volume's: its walk stops there.
constexpr size_t mostObjects = 100000;
// The samples one hyperslab read brings at most (more when a chunk is
// larger), so that the library's own buffers stay small beside the volume.
constexpr size_t slabBytes = size_t(64) << 20;

// Closes a library handle on every way out.
struct Handle {
    hid_t id = -1;
    herr_t (*close)(hid_t) = nullptr;
    ~Handle() {
        if (id >= 0 && close)
            close(id);
    }
};

// One dataset the file holds: its path from the root and its shape.
struct DatasetShape {
    std::string path;
    std::vector<hsize_t> dims;
    long double elements = 1;
};

struct FileContents {
    std::vector<DatasetShape> datasets;
    std::vector<std::string> signals; // NeXus NXdata groups' signal datasets
    size_t objects = 0;
};

herr_t keepFirstError(unsigned n, const H5E_error2_t* error, void* data) {
    std::string& text = *static_cast<std::string*>(data);
    if (n == 0 && error->desc)
        text = error->desc;
    return 0;
}

// The innermost message of the library's error stack (what went wrong
// where it was found), escaped for a one-line refusal.
std::string libraryError() {
    std::string text;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, keepFirstError, &text);
    H5Eclear2(H5E_DEFAULT);
    return text.empty() ? "no reason given" : escapedText(text, 300);
}

// External links lead to other files, which a file may not make the
// converter open.
herr_t refuseExternalLink(const char*, const char*, const char*, const char*, unsigned*, hid_t,
                          void*) {
    return -1;
}

std::string shapeText(const std::vector<hsize_t>& dims) {
    std::string text;
    for (size_t a = 0; a < dims.size(); ++a)
        text += (a ? " x " : "") + std::to_string(dims[a]);
    return text.empty() ? "a scalar" : text;
}

std::string named(const DatasetShape& shape) {
    return escapedText(shape.path, 200) + " (" + shapeText(shape.dims) + ")";
}

// A string attribute of `object` (fixed or variable length), or empty.
std::string stringAttribute(hid_t object, const char* name) {
    if (H5Aexists(object, name) <= 0)
        return "";
    Handle attribute{H5Aopen(object, name, H5P_DEFAULT), H5Aclose};
    Handle type{H5Aget_type(attribute.id), H5Tclose};
    Handle space{H5Aget_space(attribute.id), H5Sclose};
    if (attribute.id < 0 || type.id < 0 || space.id < 0 || H5Tget_class(type.id) != H5T_STRING ||
        H5Sget_simple_extent_npoints(space.id) != 1)
        return "";
    std::string value;
    if (H5Tis_variable_str(type.id) > 0) {
        Handle memory{H5Tcopy(H5T_C_S1), H5Tclose};
        H5Tset_size(memory.id, H5T_VARIABLE);
        // The library converts no string between ASCII and UTF-8.
        H5Tset_cset(memory.id, H5Tget_cset(type.id));
        char* text = nullptr;
        if (H5Aread(attribute.id, memory.id, &text) >= 0 && text) {
            value = std::string(text, strnlen(text, 4096));
            H5free_memory(text);
        }
    } else {
        const size_t size = H5Tget_size(type.id);
        if (size == 0 || size > 4096)
            return "";
        std::vector<char> text(size + 1, '\0');
        if (H5Aread(attribute.id, type.id, text.data()) >= 0)
            value = std::string(text.data(), strnlen(text.data(), size));
    }
    return value;
}

// Up to `most` numbers of a numeric attribute of `object`, as doubles.
std::vector<double> numberAttribute(hid_t object, const char* name, size_t most) {
    if (H5Aexists(object, name) <= 0)
        return {};
    Handle attribute{H5Aopen(object, name, H5P_DEFAULT), H5Aclose};
    Handle type{H5Aget_type(attribute.id), H5Tclose};
    Handle space{H5Aget_space(attribute.id), H5Sclose};
    if (attribute.id < 0 || type.id < 0 || space.id < 0)
        return {};
    const H5T_class_t kind = H5Tget_class(type.id);
    const hssize_t count = H5Sget_simple_extent_npoints(space.id);
    if ((kind != H5T_INTEGER && kind != H5T_FLOAT) || count < 1 || size_t(count) > most)
        return {};
    std::vector<double> values(static_cast<size_t>(count));
    if (H5Aread(attribute.id, H5T_NATIVE_DOUBLE, values.data()) < 0)
        return {};
    return values;
}

herr_t visitObject(hid_t root, const char* name, const H5O_info_t* info, void* data) {
    FileContents& contents = *static_cast<FileContents*>(data);
    if (++contents.objects > mostObjects)
        return 1;
    const std::string path = std::string("/") + (strcmp(name, ".") == 0 ? "" : name);
    if (info->type == H5O_TYPE_GROUP) {
        Handle group{H5Gopen2(root, name, H5P_DEFAULT), H5Gclose};
        if (group.id >= 0 && stringAttribute(group.id, "NX_class") == "NXdata") {
            const std::string signal = stringAttribute(group.id, "signal");
            if (!signal.empty() && signal.find('/') == std::string::npos)
                contents.signals.push_back((path == "/" ? "" : path) + "/" + signal);
        }
    } else if (info->type == H5O_TYPE_DATASET) {
        Handle dataset{H5Dopen2(root, name, H5P_DEFAULT), H5Dclose};
        Handle space{H5Dget_space(dataset.id), H5Sclose};
        const int rank = space.id >= 0 ? H5Sget_simple_extent_ndims(space.id) : -1;
        if (rank < 0 || rank > H5S_MAX_RANK)
            return 0;
        DatasetShape shape{path, std::vector<hsize_t>(size_t(rank)), 1};
        H5Sget_simple_extent_dims(space.id, shape.dims.data(), nullptr);
        for (hsize_t d : shape.dims)
            shape.elements *= (long double)d;
        contents.datasets.push_back(shape);
    }
    H5Eclear2(H5E_DEFAULT);
    return 0;
}

const DatasetShape* findShape(const FileContents& contents, const std::string& path) {
    for (const DatasetShape& shape : contents.datasets)
        if (shape.path == path)
            return &shape;
    return nullptr;
}

// "/a (2 x 3 x 4), /b (...)", the first few of `shapes` but `skip`.
std::string shapeList(const std::vector<const DatasetShape*>& shapes, const DatasetShape* skip) {
    std::string list;
    size_t listed = 0, left = 0;
    for (const DatasetShape* shape : shapes) {
        if (shape == skip)
            continue;
        if (listed == 8) {
            ++left;
            continue;
        }
        list += (listed++ ? ", " : "") + named(*shape);
    }
    if (left)
        list += " and " + std::to_string(left) + " more";
    return list;
}

// The dataset to read: --dataset's, else Data Exchange's projections, else
// a NeXus signal, else the largest of 3 or more dimensions.
bool chooseDataset(const FileContents& contents, const ReadOptions& options,
                   const DatasetShape*& chosen, std::vector<std::string>& notes,
                   std::string& reason) {
    std::vector<const DatasetShape*> volumes;
    for (const DatasetShape& shape : contents.datasets)
        if (shape.dims.size() >= 3)
            volumes.push_back(&shape);
    const std::string wanted = options.dataset ? options.dataset : "";
    if (!wanted.empty()) {
        chosen = findShape(contents, wanted[0] == '/' ? wanted : "/" + wanted);
        if (!chosen) {
            reason = "it holds no dataset " + quotedText(wanted) +
                     (volumes.empty() ? std::string("; it holds none of 3 or more dimensions")
                                      : "; its datasets of 3 or more dimensions: " +
                                            shapeList(volumes, nullptr));
            return false;
        }
        if (chosen->dims.size() < 3) {
            reason = "its dataset " + named(*chosen) + " has " +
                     std::to_string(chosen->dims.size()) +
                     (chosen->dims.size() == 1 ? " dimension" : " dimensions") +
                     "; a volume has 3 or more";
            return false;
        }
        return true;
    }
    if (volumes.empty()) {
        std::vector<const DatasetShape*> all;
        for (const DatasetShape& shape : contents.datasets)
            all.push_back(&shape);
        reason = "it holds no dataset of 3 or more dimensions" +
                 (all.empty() ? std::string(": it holds no datasets")
                              : "; its datasets: " + shapeList(all, nullptr));
        return false;
    }
    chosen = nullptr;
    const DatasetShape* exchange = findShape(contents, "/exchange/data");
    if (exchange && exchange->dims.size() >= 3)
        chosen = exchange;
    for (const std::string& signal : contents.signals) {
        const DatasetShape* shape = findShape(contents, signal);
        if (!chosen && shape && shape->dims.size() >= 3)
            chosen = shape;
    }
    if (!chosen)
        chosen = *std::max_element(
            volumes.begin(), volumes.end(),
            [](const DatasetShape* a, const DatasetShape* b) { return a->elements < b->elements; });
    if (volumes.size() > 1)
        notes.push_back("holds " + std::to_string(volumes.size()) +
                        " datasets of 3 or more dimensions; read " + named(*chosen) +
                        "; the others: " + shapeList(volumes, chosen) +
                        " (choose one with --dataset)");
    return true;
}

// The sample type of a dataset's type and the type the library converts
// it to (this machine's order), or a refusal naming what it holds.
bool sampleTypeOf(hid_t type, SampleType& sample, hid_t& memory, std::string& what) {
    const H5T_class_t kind = H5Tget_class(type);
    const size_t size = H5Tget_size(type);
    hid_t integer = type;
    Handle base;
    if (kind == H5T_ENUM) {
        // h5py's bool is an enum of int8 {FALSE, TRUE}; other enums are
        // labels, read as their integers.
        base.id = H5Tget_super(type);
        base.close = H5Tclose;
        integer = base.id;
        if (integer < 0 || H5Tget_class(integer) != H5T_INTEGER) {
            what = "an enum of no integer type";
            return false;
        }
        if (H5Tget_size(integer) == 1 && H5Tget_nmembers(type) == 2) {
            sample = SampleType::boolean;
            memory = H5Tget_native_type(type, H5T_DIR_ASCEND);
            return memory >= 0;
        }
        memory = H5Tget_native_type(type, H5T_DIR_ASCEND);
    }
    if (kind == H5T_INTEGER || kind == H5T_ENUM) {
        const bool sign = H5Tget_sign(integer) == H5T_SGN_2;
        struct Kind {
            size_t size;
            SampleType sample, unsignedSample;
            hid_t native, unsignedNative;
        };
        const Kind kinds[] = {
            {1, SampleType::int8, SampleType::uint8, H5T_NATIVE_INT8, H5T_NATIVE_UINT8},
            {2, SampleType::int16, SampleType::uint16, H5T_NATIVE_INT16, H5T_NATIVE_UINT16},
            {4, SampleType::int32, SampleType::uint32, H5T_NATIVE_INT32, H5T_NATIVE_UINT32},
            {8, SampleType::int64, SampleType::uint64, H5T_NATIVE_INT64, H5T_NATIVE_UINT64},
        };
        for (const Kind& k : kinds)
            if (k.size == H5Tget_size(integer)) {
                sample = sign ? k.sample : k.unsignedSample;
                if (kind == H5T_INTEGER)
                    memory = sign ? k.native : k.unsignedNative;
                return memory >= 0;
            }
        what = std::to_string(8 * H5Tget_size(integer)) + "-bit integers";
        return false;
    }
    if (kind == H5T_FLOAT) {
        // Half floats and other narrow ones widen to float32 in the library.
        sample = size <= 4 ? SampleType::float32 : SampleType::float64;
        memory = size <= 4 ? H5T_NATIVE_FLOAT : H5T_NATIVE_DOUBLE;
        return true;
    }
    switch (kind) {
    case H5T_COMPOUND:
        what = "compound records";
        break;
    case H5T_STRING:
        what = "strings";
        break;
    case H5T_VLEN:
        what = "variable-length sequences";
        break;
    case H5T_ARRAY:
        what = "arrays";
        break;
    case H5T_OPAQUE:
        what = "opaque bytes";
        break;
    case H5T_REFERENCE:
        what = "references";
        break;
    case H5T_BITFIELD:
        what = "bit fields";
        break;
    case H5T_TIME:
        what = "times";
        break;
    default:
        what = "values of an unknown type class";
        break;
    }
    return false;
}

// Refuses storage outside the file (external raw files, virtual datasets
// that map others), filters this library lacks, and chunks (which the
// library decompresses whole) past the memory allowed.
bool storageReadable(hid_t dataset, const std::string& name, size_t item, int64_t maxBytes,
                     hsize_t& chunkPlanes, std::string& reason) {
    Handle create{H5Dget_create_plist(dataset), H5Pclose};
    if (create.id < 0) {
        reason =
            "libhdf5 cannot read the storage of its dataset " + name + " (" + libraryError() + ")";
        return false;
    }
    const H5D_layout_t layout = H5Pget_layout(create.id);
    if (layout == H5D_VIRTUAL) {
        reason = "its dataset " + name +
                 " is a virtual dataset, mapped from other files, which vxlconv does not follow";
        return false;
    }
    if (H5Pget_external_count(create.id) > 0) {
        reason = "its dataset " + name +
                 " keeps its samples in external files, which vxlconv does not follow";
        return false;
    }
    chunkPlanes = 1;
    if (layout == H5D_CHUNKED) {
        hsize_t chunk[H5S_MAX_RANK] = {};
        const int rank = H5Pget_chunk(create.id, H5S_MAX_RANK, chunk);
        if (rank >= 3)
            chunkPlanes = std::max<hsize_t>(1, chunk[rank - 3]);
        long double bytes = (long double)item;
        for (int a = 0; a < rank; ++a)
            bytes *= (long double)chunk[a];
        if (bytes > (long double)maxBytes) {
            reason = memoryRefusal("its dataset " + name + "'s chunk of " +
                                       shapeText({chunk, chunk + std::max(rank, 0)}),
                                   bytes, maxBytes);
            return false;
        }
    }
    const int filters = H5Pget_nfilters(create.id);
    for (int f = 0; f < filters; ++f) {
        unsigned flags = 0, config = 0;
        size_t values = 0;
        char filterName[256] = {};
        const H5Z_filter_t id = H5Pget_filter2(create.id, unsigned(f), &flags, &values, nullptr,
                                               sizeof filterName, filterName, &config);
        if (id < 0) {
            reason = "libhdf5 cannot read the filters of its dataset " + name + " (" +
                     libraryError() + ")";
            return false;
        }
        if (H5Zfilter_avail(id) <= 0) {
            H5Eclear2(H5E_DEFAULT);
            reason = "its dataset " + name + " is stored through filter " + std::to_string(id) +
                     (filterName[0] ? " (" + escapedText(filterName, 60) + ")" : std::string()) +
                     ", which this system's libhdf5 does not have";
            return false;
        }
    }
    return true;
}

// Spacing from the dataset's attributes: element_size_um (ilastik, Fiji)
// in z, y, x order, else pixel_size or resolution, one number for every
// axis or three in z, y, x order.
void readSpacing(hid_t dataset, SampleVolume& out) {
    for (const char* name : {"element_size_um", "pixel_size", "resolution"}) {
        std::vector<double> values = numberAttribute(dataset, name, 16);
        if (values.size() == 1)
            values.assign(3, values[0]);
        if (values.size() < 3)
            continue;
        const double zyx[3] = {values[values.size() - 3], values[values.size() - 2], values.back()};
        if (!std::all_of(zyx, zyx + 3, [](double v) { return std::isfinite(v) && v > 0; }))
            continue;
        for (int a = 0; a < 3; ++a)
            out.spacing[a] = zyx[2 - a];
        out.spacingSource = std::string("the dataset's ") + name;
        return;
    }
    H5Eclear2(H5E_DEFAULT);
}

// Reads the last three axes of `dataset` (the first index of any before
// them) into `storage`, whole planes at a time, each read aligned to the
// chunks along z so that no chunk is decompressed twice.
bool readPlanes(hid_t dataset, hid_t memoryType, const std::vector<hsize_t>& dims,
                hsize_t chunkPlanes, size_t item, uint8_t* storage, const std::string& name,
                std::string& reason) {
    const size_t rank = dims.size();
    const hsize_t depth = dims[rank - 3];
    const size_t plane = size_t(dims[rank - 2]) * size_t(dims[rank - 1]) * item;
    hsize_t planes = std::max<hsize_t>(1, slabBytes / std::max<size_t>(1, plane));
    planes = std::max(chunkPlanes, planes / chunkPlanes * chunkPlanes);
    Handle fileSpace{H5Dget_space(dataset), H5Sclose};
    std::vector<hsize_t> start(rank, 0), count(rank, 1);
    count[rank - 2] = dims[rank - 2];
    count[rank - 1] = dims[rank - 1];
    for (hsize_t z = 0; z < depth; z += planes) {
        start[rank - 3] = z;
        count[rank - 3] = std::min(planes, depth - z);
        // The memory space has the file selection's shape: the library then
        // copies each chunk's part without building a mapping for it.
        Handle memorySpace{H5Screate_simple(int(rank), count.data(), nullptr), H5Sclose};
        if (fileSpace.id < 0 || memorySpace.id < 0 ||
            H5Sselect_hyperslab(fileSpace.id, H5S_SELECT_SET, start.data(), nullptr, count.data(),
                                nullptr) < 0 ||
            H5Dread(dataset, memoryType, memorySpace.id, fileSpace.id, H5P_DEFAULT,
                    storage + size_t(z) * plane) < 0) {
            reason = "libhdf5 cannot read its dataset " + name + " (" + libraryError() + ")";
            return false;
        }
    }
    return true;
}

bool readHdf5Here(const char* path, const ReadOptions& options, SampleVolume& out,
                  std::string& reason) {
    // The library's own printing would break the one line a refusal is.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    Handle access{H5Pcreate(H5P_FILE_ACCESS), H5Pclose};
    // Reading takes no lock: a lock fails on some network file systems.
    H5Pset_file_locking(access.id, false, true);
    Handle file{H5Fopen(path, H5F_ACC_RDONLY, access.id), H5Fclose};
    if (file.id < 0) {
        reason = "libhdf5 cannot open it (" + libraryError() + ")";
        return false;
    }
    FileContents contents;
    if (H5Ovisit2(file.id, H5_INDEX_NAME, H5_ITER_INC, visitObject, &contents, H5O_INFO_BASIC) <
            0 &&
        contents.datasets.empty()) {
        reason = "libhdf5 cannot list its contents (" + libraryError() + ")";
        return false;
    }
    std::vector<std::string> notes;
    const DatasetShape* chosen = nullptr;
    if (!chooseDataset(contents, options, chosen, notes, reason))
        return false;
    const std::string name = named(*chosen);
    Handle links{H5Pcreate(H5P_DATASET_ACCESS), H5Pclose};
    H5Pset_elink_cb(links.id, refuseExternalLink, nullptr);
    Handle dataset{H5Dopen2(file.id, chosen->path.c_str(), links.id), H5Dclose};
    Handle type{H5Dget_type(dataset.id), H5Tclose};
    if (dataset.id < 0 || type.id < 0) {
        reason = "libhdf5 cannot open its dataset " + name + " (" + libraryError() + ")";
        return false;
    }
    SampleType sample = SampleType::uint8;
    hid_t memoryType = -1;
    std::string what;
    if (!sampleTypeOf(type.id, sample, memoryType, what)) {
        reason = "its dataset " + name + " holds " + what +
                 "; vxlconv reads integers, booleans and floats";
        return false;
    }
    // An enum's native type is the library's to close; the predefined ones
    // are not.
    Handle enumType{H5Tget_class(type.id) == H5T_ENUM ? memoryType : -1, H5Tclose};
    const std::vector<hsize_t>& dims = chosen->dims;
    const size_t rank = dims.size();
    const int64_t volumeDims[3] = {int64_t(std::min<hsize_t>(dims[rank - 1], INT64_MAX)),
                                   int64_t(std::min<hsize_t>(dims[rank - 2], INT64_MAX)),
                                   int64_t(std::min<hsize_t>(dims[rank - 3], INT64_MAX))};
    if (std::find(dims.begin(), dims.end(), hsize_t(0)) != dims.end()) {
        reason = "its dataset " + name + " is empty";
        return false;
    }
    const size_t item = sampleTypeSize(sample);
    if (checkedSampleCount(volumeDims, item, options.maxBytes) < 0) {
        reason = memoryRefusal("its dataset " + name, claimedSampleBytes(volumeDims, item),
                               options.maxBytes);
        return false;
    }
    hsize_t chunkPlanes = 1;
    if (!storageReadable(dataset.id, name, sampleTypeSize(sample), options.maxBytes, chunkPlanes,
                         reason))
        return false;
    out = SampleVolume();
    out.storage.resize(size_t(volumeDims[0] * volumeDims[1] * volumeDims[2]) * item);
    if (!readPlanes(dataset.id, memoryType, dims, chunkPlanes, item, out.storage.data(), name,
                    reason))
        return false;
    for (int a = 0; a < 3; ++a)
        out.dims[a] = volumeDims[a];
    setSampleOrder(out, true);
    out.type = sample;
    out.meaning = sample == SampleType::boolean ? SampleMeaning::occupancy : SampleMeaning::values;
    out.positionSource = "the dataset's shape";
    readSpacing(dataset.id, out);
    if (rank > 3)
        notes.push_back("has a dataset of " + std::to_string(rank) + " dimensions, " + name +
                        "; read the first index of its " +
                        (rank == 4 ? std::string("leading axis") : "leading axes") + ": " +
                        shapeText({dims.end() - 3, dims.end()}));
    // Said once the volume is read, so that a refusal stays one line.
    for (const std::string& note : notes)
        fprintf(stderr, "%s: note: %s %s\n", programName, path, note.c_str());
    return true;
}

} // namespace

bool startsWithHdf5(const uint8_t* head, size_t size) {
    for (size_t at = 0; at + 8 <= size; at = at ? 2 * at : 512)
        if (memcmp(head + at, "\x89HDF\r\n\x1a\n", 8) == 0)
            return true;
    return false;
}

// libhdf5 trusts the file's structure: a damaged one may crash it or make
// it allocate what the file claims, so it runs in a capped child.
bool readHdf5Samples(const char* path, const ReadOptions& options, SampleVolume& out,
                     std::string& reason) {
    // A file that is no HDF5 or is cut short is refused here, without a
    // child to start.
    if (!hdf5SuperblockFits(path, reason))
        return false;
    return readSamplesInChild(readHdf5Here, path, options, out, reason);
}

namespace {

const char hdf5Help[] =
    "HDF5 volumes (tomography), through libhdf5: contiguous, chunked and compressed datasets "
    "(deflate, shuffle and the filters libhdf5 has built in) of integers, booleans or floats in "
    "either byte order. Reads Data Exchange's /exchange/data (not its dark and flat fields), a "
    "NeXus NXdata group's signal, else the largest dataset of 3 or more dimensions, naming the "
    "others (--dataset picks one by its path in the file); of more than 3 dimensions, the first "
    "index of the leading axes. The last axis is x. Spacing from the dataset's element_size_um "
    "attribute (z, y, x, as ilastik and Fiji write it), else its pixel_size or resolution.";

} // namespace

extern const InputFormat hdf5Input = {"HDF5",          {".h5", ".hdf5", ".he5", ".nxs", ".cxi"},
                                      startsWithHdf5,  nullptr,
                                      nullptr,         ColorMode::grey,
                                      nullptr,         nullptr,
                                      "HDF5",          hdf5Help,
                                      readHdf5Samples, nullptr,
                                      nullptr,         false,
                                      nullptr,         true};
