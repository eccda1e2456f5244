#include "convert/gzip_grid.h"

#include "container/inflate_stream.h"
#include "convert/grid_readers.h"
#include "convert/sample_grid.h"
#include "read/nifti_reader.h"

#include <vector>

namespace {

std::string withoutGz(const char* path) {
    std::string name = path;
    if (hasExtension(path, ".gz"))
        name.resize(name.size() - 3);
    return name;
}

// The reader of what the stream holds, judged from its decompressed start.
const GridFormat* innerFormat(const uint8_t* data, size_t size, const char* path,
                              std::vector<uint8_t>& start, std::string& error) {
    if (!inflatePrefix(data, size, DeflateWrapper::gzip, gridSniffBytes, start, error))
        return nullptr;
    const GridFormat* format = findGridFormat(start.data(), start.size(), withoutGz(path).c_str());
    if (!format) {
        error = "the gzip data holds no voxel grid or volume this reads";
        return nullptr;
    }
    if (format->read == readGzipGrid) {
        error = "the gzip data holds another gzip stream";
        return nullptr;
    }
    return format;
}

} // namespace

bool looksLikeGzipGrid(const uint8_t* head, size_t size, const char* path) {
    if (!startsWithGzip(head, size))
        return false;
    // Named as a compressed volume: its reader says what is wrong with it.
    if (hasExtension(path, ".nii.gz"))
        return true;
    std::vector<uint8_t> start;
    std::string ignored;
    // gzip within gzip is claimed too, so that its reader says what it is
    // rather than the mesh importer finding no format.
    return innerFormat(head, size, path, start, ignored) != nullptr ||
           startsWithGzip(start.data(), start.size());
}

bool readGzipGrid(const uint8_t* data, size_t size, const GridReadOptions& options, VoxelGrid& out,
                  std::string& error) {
    std::vector<uint8_t> start;
    const GridFormat* format = innerFormat(data, size, options.path, start, error);
    if (!format) {
        if (error.empty())
            error = "the gzip data holds no voxel grid or volume this reads";
        return refuseFile(options, "gzip data", error);
    }
    std::vector<uint8_t> whole;
    NiftiHeader header;
    std::string headerError;
    bool ok;
    if (startsWithNiftiHeader(start.data(), start.size()) &&
        parseNiftiHeader(start.data(), start.size(), header, headerError) && !header.pair) {
        int64_t end = niftiDataEnd(header, options.maxBytes);
        if (end < 0) {
            error = niftiMemoryRefusal(header, options.maxBytes);
            return refuseFile(options, "NIfTI-1", error);
        }
        // A series' later volumes are not needed: the stream is cut there.
        ok = inflatePrefix(data, size, DeflateWrapper::gzip, size_t(end), whole, error);
    } else {
        // No header has said how much the stream holds: all of it is read,
        // up to the memory allowed, and a stream that goes on past that is
        // refused as too large rather than as damaged.
        ok =
            inflateStream(data, size, DeflateWrapper::gzip, size_t(options.maxBytes), whole, error);
        if (!ok && error == inflatedPastLimit) {
            error = "its gzip data is larger than the memory allowed: it holds more than the " +
                    std::to_string(options.maxBytes >> 20) + " MiB allowed (raise --max-memory)";
            return refuseFile(options, format->name, error);
        }
    }
    if (!ok) {
        error = "its gzip data: " + error;
        return refuseFile(options, format->name, error);
    }
    return format->read(whole.data(), whole.size(), options, out, error);
}
