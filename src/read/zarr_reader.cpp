#include "read/zarr_reader.h"

#include "container/quoted_text.h"
#include "platform/program_name.h"
#include "read/data_file.h"
#include "read/memory_refusal.h"
#include "read/zarr_codecs.h"
#include "read/zarr_store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace {

bool refuse(std::string& reason, const std::string& text) {
    reason = text;
    return false;
}

// Where the chunks go: the volume's bytes and, per array axis, the bytes
// between neighbours there (0 for an axis of which only index 0 is read).
struct Target {
    uint8_t* bytes = nullptr;
    std::vector<int64_t> strides;
    size_t itemSize = 1;
};

// Copies a decoded chunk (this machine's byte order) of `coding.shape`,
// whose first sample is at array index `start`, into the volume: the part
// within the array's shape, and of the other axes only index 0.
void placeChunk(const uint8_t* source, const ZarrChunkCoding& coding,
                const std::vector<int64_t>& start, const ZarrChoice& choice, const Target& target) {
    const size_t axes = coding.shape.size(), item = target.itemSize;
    std::vector<int64_t> count(axes), sourceStride(axes), targetStride(axes);
    int64_t stride = int64_t(item);
    for (size_t p = axes; p-- > 0;) {
        const int a = coding.order[p];
        sourceStride[p] = stride;
        stride *= coding.shape[a];
        targetStride[p] = target.strides[a];
        count[p] = choice.roles[a] < 0 ? (start[a] == 0 ? 1 : 0)
                                       : std::min(coding.shape[a], choice.meta.shape[a] - start[a]);
        if (count[p] <= 0)
            return;
    }
    int64_t base = 0;
    for (size_t a = 0; a < axes; ++a)
        base += start[a] * target.strides[a];
    const size_t last = axes - 1;
    const bool run = sourceStride[last] == int64_t(item) && targetStride[last] == int64_t(item);
    std::vector<int64_t> at(axes, 0);
    for (;;) {
        int64_t from = 0, to = base;
        for (size_t p = 0; p < last; ++p) {
            from += at[p] * sourceStride[p];
            to += at[p] * targetStride[p];
        }
        if (run) {
            memcpy(target.bytes + to, source + from, size_t(count[last]) * item);
        } else {
            for (int64_t e = 0; e < count[last]; ++e)
                memcpy(target.bytes + to + e * targetStride[last],
                       source + from + e * sourceStride[last], item);
        }
        size_t p = last;
        while (p-- > 0 && ++at[p] == count[p])
            at[p] = 0;
        if (p == size_t(-1))
            return;
    }
}

std::string chunkKey(const ZarrArrayMeta& meta, const std::vector<int64_t>& grid) {
    std::string key = meta.keyPrefix ? "c" : "";
    for (int64_t n : grid)
        key += (key.empty() ? "" : std::string(1, meta.separator)) + std::to_string(n);
    return key.empty() ? "0" : key;
}

// Decodes `data` as a chunk of `coding` and places it at `start`.
bool decodeAndPlace(std::vector<uint8_t>& data, const ZarrChunkCoding& coding,
                    const std::vector<int64_t>& start, const ZarrChoice& choice,
                    const Target& target, std::vector<uint8_t>& decoded, const std::string& what,
                    std::string& reason) {
    const size_t bytes = size_t(zarrShapeProduct(coding.shape)) * target.itemSize;
    if (!decodeZarrChunk(data, coding, bytes, decoded, reason))
        return refuse(reason, what + ": " + reason);
    toNativeByteOrder(decoded.data(), bytes / target.itemSize, target.itemSize, coding.bigEndian);
    placeChunk(decoded.data(), coding, start, choice, target);
    return true;
}

bool readStored(const DataFile& file, const std::string& path, int64_t offset, int64_t length,
                const ReadOptions& options, std::vector<uint8_t>& bytes, const std::string& what,
                std::string& reason) {
    if (length > options.maxBytes)
        return refuse(reason, memoryRefusal(what, length, options.maxBytes));
    return readDataBytes(file, path, offset, size_t(length), bytes, reason);
}

uint64_t indexWord(const uint8_t* at, bool bigEndian) {
    uint64_t value = 0;
    for (int b = 0; b < 8; ++b)
        value |= uint64_t(at[bigEndian ? 7 - b : b]) << (8 * b);
    return value;
}

// A shard: its index, then each inner chunk it holds.
bool readShard(const DataFile& file, const std::string& path, const std::string& what,
               const std::vector<int64_t>& shardStart, const ZarrChoice& choice,
               const ReadOptions& options, const Target& target, std::string& reason) {
    const ZarrArrayMeta& meta = choice.meta;
    const size_t axes = meta.shape.size();
    const int64_t entries = meta.index.shape[0];
    const int64_t indexBytes = int64_t(shardIndexBytes(meta.index, entries));
    if (indexBytes > file.size)
        return refuse(reason, what + " is " + std::to_string(file.size) +
                                  " bytes, shorter than its index of " +
                                  std::to_string(indexBytes));
    std::vector<uint8_t> stored, index, data, decoded;
    if (!readStored(file, path, meta.indexAtEnd ? file.size - indexBytes : 0, indexBytes, options,
                    stored, what + "'s index", reason))
        return false;
    if (!decodeZarrChunk(stored, meta.index, size_t(entries) * 16, index, reason))
        return refuse(reason, what + "'s index: " + reason);
    std::vector<int64_t> per(axes), inner(axes, 0), start(axes);
    for (size_t a = 0; a < axes; ++a)
        per[a] = meta.stored.shape[a] / meta.inner.shape[a];
    for (int64_t n = 0; n < entries; ++n) {
        // Inner chunks in C order of their grid within the shard.
        int64_t rest = n;
        bool wanted = true;
        for (size_t a = axes; a-- > 0;) {
            inner[a] = rest % per[a];
            rest /= per[a];
            start[a] = shardStart[a] + inner[a] * meta.inner.shape[a];
            wanted = wanted && start[a] < meta.shape[a] && (choice.roles[a] >= 0 || start[a] == 0);
        }
        const uint64_t offset = indexWord(&index[size_t(n) * 16], meta.index.bigEndian);
        const uint64_t length = indexWord(&index[size_t(n) * 16 + 8], meta.index.bigEndian);
        if (!wanted || (offset == ~uint64_t(0) && length == ~uint64_t(0)))
            continue;
        if (offset > uint64_t(file.size) || length > uint64_t(file.size) - offset)
            return refuse(reason,
                          what + "'s index points outside the file: " + std::to_string(length) +
                              " bytes at " + std::to_string(offset) + " of its " +
                              std::to_string(file.size));
        const std::string chunk = what + "'s inner chunk " + std::to_string(n);
        if (!readStored(file, path, int64_t(offset), int64_t(length), options, data, chunk,
                        reason) ||
            !decodeAndPlace(data, meta.inner, start, choice, target, decoded, chunk, reason))
            return false;
    }
    return true;
}

// Every chunk (or shard) that holds samples the volume takes.
bool readChunks(const ZarrChoice& choice, const ReadOptions& options, const Target& target,
                std::string& reason) {
    const ZarrArrayMeta& meta = choice.meta;
    const size_t axes = meta.shape.size();
    std::vector<int64_t> grid(axes, 0), last(axes), start(axes);
    for (size_t a = 0; a < axes; ++a)
        last[a] = choice.roles[a] < 0
                      ? 0
                      : (meta.shape[a] + meta.stored.shape[a] - 1) / meta.stored.shape[a] - 1;
    std::vector<uint8_t> data, decoded;
    for (;;) {
        for (size_t a = 0; a < axes; ++a)
            start[a] = grid[a] * meta.stored.shape[a];
        const std::string key = chunkKey(meta, grid);
        const std::string path = choice.folder + "/" + key;
        const std::string what = std::string(meta.sharded ? "its shard " : "its chunk ") + key;
        struct stat info;
        // A chunk never written holds only the fill value.
        if (stat(path.c_str(), &info) == 0 || errno != ENOENT) {
            DataFile file;
            if (!openDataFile(path, meta.sharded ? "shard" : "chunk", options.output, file, reason))
                return false;
            bool read = meta.sharded;
            if (meta.sharded)
                read = readShard(file, path, what, start, choice, options, target, reason);
            else
                read =
                    readStored(file, path, 0, file.size, options, data, what, reason) &&
                    decodeAndPlace(data, meta.stored, start, choice, target, decoded, what, reason);
            closeDataFile(file);
            if (!read)
                return false;
        }
        size_t a = axes;
        while (a-- > 0 && ++grid[a] > last[a])
            grid[a] = 0;
        if (a == size_t(-1))
            return true;
    }
}

} // namespace

bool startsAsZarrMetadata(const uint8_t* head, size_t size) {
    const std::string start(reinterpret_cast<const char*>(head), size);
    return size > 0 && head[0] == '{' && start.find("\"zarr_format\"") != std::string::npos;
}

bool isZarrFolder(const char* folder) {
    const size_t length = strlen(folder);
    return holdsZarrMetadata(folder) || (length > 5 && strcmp(folder + length - 5, ".zarr") == 0);
}

bool readZarrStore(const char* path, const ReadOptions& options, SampleVolume& out,
                   std::string& reason) {
    ZarrChoice choice;
    if (!chooseZarrArray(path, options, choice, reason))
        return false;
    const ZarrArrayMeta& meta = choice.meta;
    const size_t item = sampleTypeSize(meta.type);
    out = SampleVolume();
    out.dims[0] = out.dims[1] = out.dims[2] = 1;
    std::vector<std::string> notes = choice.notes;
    std::string others;
    size_t otherCount = 0;
    for (size_t a = 0; a < meta.shape.size(); ++a) {
        if (choice.roles[a] >= 0) {
            out.dims[choice.roles[a]] = meta.shape[a];
        } else if (meta.shape[a] > 1) {
            const bool named = a < choice.axisNames.size() && !choice.axisNames[a].empty();
            others += std::string(others.empty() ? "" : " and ") +
                      (named ? quotedText(choice.axisNames[a], 20) : std::to_string(a)) + " (" +
                      std::to_string(meta.shape[a]) + " long)";
            ++otherCount;
        }
        if (meta.shape[a] == 0)
            return refuse(reason, "its array holds no samples: its shape has a 0");
    }
    if (otherCount > 0)
        notes.push_back("read index 0 of its ax" + std::string(otherCount > 1 ? "es " : "is ") +
                        others + ", which " + (otherCount > 1 ? "are" : "is") + " not x, y or z");
    const int64_t count = checkedSampleCount(out.dims, item, options.maxBytes);
    if (count < 0)
        return refuse(reason, memoryRefusal("its array", claimedSampleBytes(out.dims, item),
                                            options.maxBytes));
    out.storage.resize(size_t(count) * item);
    bool fillIsZero = true;
    for (size_t b = 0; b < item; ++b)
        fillIsZero = fillIsZero && meta.fill[b] == 0;
    if (!fillIsZero)
        for (int64_t n = 0; n < count; ++n)
            memcpy(out.storage.data() + size_t(n) * item, meta.fill, item);
    out.strides[0] = 1;
    out.strides[1] = out.dims[0];
    out.strides[2] = out.dims[0] * out.dims[1];
    out.type = meta.type;
    out.meaning = SampleMeaning::values;
    for (int r = 0; r < 3; ++r) {
        out.spacing[r] = choice.spacing[r];
        out.origin[r] = choice.origin[r];
    }
    out.spacingSource = choice.spacingSource;
    Target target;
    target.bytes = out.storage.data();
    target.itemSize = item;
    target.strides.resize(meta.shape.size());
    for (size_t a = 0; a < meta.shape.size(); ++a)
        target.strides[a] = choice.roles[a] < 0 ? 0 : out.strides[choice.roles[a]] * int64_t(item);
    if (!readChunks(choice, options, target, reason))
        return false;
    for (const std::string& note : notes)
        fprintf(stderr, "%s: note: %s %s\n", programName, path, note.c_str());
    return true;
}

namespace {

bool readZarrSamples(const char* path, const ReadOptions& options, SampleVolume& out,
                     std::string& reason) {
    return readZarrStore(path, options, out, reason);
}

// The bytes of the store's files, for the memory cap: a chunk at a time is
// held, but a few of them and the volume come from these.
int64_t folderBytes(const std::string& folder, int depth) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return 0;
    int64_t total = 0;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        const std::string path = folder + "/" + entry->d_name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0)
            continue;
        if (S_ISREG(info.st_mode))
            total += int64_t(info.st_size);
        else if (S_ISDIR(info.st_mode) && depth < 16)
            total += folderBytes(path, depth + 1);
    }
    closedir(dir);
    return total;
}

int64_t zarrStoreBytes(const char* path) {
    return folderBytes(zarrStoreRoot(path), 0);
}

} // namespace

const char zarrTitle[] = "Zarr";
const char zarrHelp[] =
    "stores (v2 .zarray, v3 zarr.json, a store's folder or its metadata file) and OME-Zarr "
    "pyramids (0.4 and 0.5): bool, 8 to 64-bit integers and float32/64 of either byte order, "
    "C or F order, compressed with blosc (lz4, zstd, zlib, blosclz; either shuffle), zlib, "
    "gzip, zstd or none; v3 transpose, crc32c and sharding too. Missing chunks take the fill "
    "value. Need --threshold, grey by value. A group gives its largest array (--dataset PATH "
    "another); a pyramid the finest level of no more samples than --max-voxels (--level N "
    "another), spaced and placed by its scale and translation. Axes x, y, z run along i, j, "
    "k (the last axis is x); a time or channel axis gives its first index.";

// A store is a folder; a metadata file given instead reads its folder.
extern const InputFormat zarrInput = {"Zarr",
                                      {".zarray", ".zgroup", ".zattrs"},
                                      startsAsZarrMetadata,
                                      nullptr,
                                      nullptr,
                                      ColorMode::grey,
                                      nullptr,
                                      nullptr,
                                      zarrTitle,
                                      zarrHelp,
                                      readZarrSamples,
                                      isZarrFolder,
                                      zarrStoreBytes,
                                      false,
                                      nullptr,
                                      true,
                                      true};
