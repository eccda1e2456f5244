#include "convert/input_read.h"

#include "container/inflate_stream.h"
#include "platform/program_name.h"
#include "samples/volume_orientation.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

std::string withoutGz(const char* path) {
    std::string name = path;
    if (hasExtension(path, ".gz"))
        name.resize(name.size() - 3);
    return name;
}

// "cannot read PATH as FORMAT: REASON".
bool refuse(const ReadOptions& options, const char* format, const std::string& reason,
            std::string& error) {
    error = std::string("cannot read ") + options.path + " as " + format + ": " + reason;
    return false;
}

// The decompressed stream, as far as the row's header says it reads, or
// whole up to the memory allowed.
bool inflateInput(const InputFormat& format, const uint8_t* data, size_t size,
                  const ReadOptions& options, std::vector<uint8_t>& whole, std::string& error) {
    std::vector<uint8_t> start;
    std::string reason;
    if (!inflatePrefix(data, size, DeflateWrapper::gzip, inputHeadBytes, start, reason))
        return refuse(options, "gzip data", reason, error);
    int64_t end = 0;
    if (format.streamEnd &&
        !format.streamEnd(start.data(), start.size(), options.maxBytes, end, reason))
        return refuse(options, format.name, reason, error);
    bool ok;
    if (end > 0) {
        ok = inflatePrefix(data, size, DeflateWrapper::gzip, size_t(end), whole, reason);
    } else {
        // No header has said how much the stream holds: all of it is read,
        // up to the memory allowed, and a stream that goes on past that is
        // refused as too large rather than as damaged.
        ok = inflateStream(data, size, DeflateWrapper::gzip, size_t(options.maxBytes), whole,
                           reason);
        if (!ok && reason == inflatedPastLimit)
            return refuse(options, format.name,
                          "its gzip data is larger than the memory allowed: it holds more than "
                          "the " +
                              std::to_string(options.maxBytes >> 20) +
                              " MiB allowed (raise --max-memory)",
                          error);
    }
    if (!ok)
        return refuse(options, format.name, "its gzip data: " + reason, error);
    return true;
}

// The reader row of the input's first bytes, else the unread row. A format
// built on a read one (MINC-2 on HDF5) is known by its content and name
// together, and is named as such rather than read as the plainer one.
void chooseRow(const uint8_t* head, size_t size, const char* path, InputChoice& choice) {
    const UnreadFormat* unread = findUnreadFormat(head, size, path);
    choice.format = unread && unread->nameToo ? nullptr : findInputFormat(head, size, path);
    if (!choice.format)
        choice.unread = unread;
}

} // namespace

bool chooseInput(const uint8_t* data, size_t size, const char* path, InputChoice& choice,
                 std::string& error) {
    choice = InputChoice();
    if (!startsWithGzip(data, size)) {
        chooseRow(data, std::min(size, inputHeadBytes), path, choice);
        return true;
    }
    const std::string inner = withoutGz(path);
    std::vector<uint8_t> start;
    std::string reason;
    if (!inflatePrefix(data, size, DeflateWrapper::gzip, inputHeadBytes, start, reason)) {
        // Named as a compressed format: its reader says what is wrong.
        choice.format = findInputFormat(nullptr, 0, inner.c_str());
        choice.gzip = choice.format != nullptr;
        if (!choice.format)
            choice.unread = findUnreadFormat(nullptr, 0, inner.c_str());
        return true;
    }
    if (startsWithGzip(start.data(), start.size())) {
        error = std::string("cannot read ") + path +
                " as gzip data: the gzip data holds another gzip stream";
        return false;
    }
    chooseRow(start.data(), start.size(), inner.c_str(), choice);
    choice.gzip = choice.format != nullptr;
    return true;
}

bool readInputAs(const InputChoice& choice, const uint8_t* data, size_t size,
                 const ReadOptions& options, const SampleRules& rules, VoxelGrid& grid,
                 std::string& error, std::string* note) {
    const InputFormat& format = *choice.format;
    // A reader by path opens the file itself, so it would see the gzip
    // stream rather than what it holds.
    if (choice.gzip && format.readSamplesAt)
        return refuse(options, format.name, "it is gzip-compressed; decompress it first", error);
    std::vector<uint8_t> inflated;
    if (choice.gzip) {
        if (!inflateInput(format, data, size, options, inflated, error))
            return false;
        data = inflated.data();
        size = inflated.size();
    }
    if (format.readVoxels)
        return format.readVoxels(data, size, options, grid, error);
    SampleVolume volume;
    std::string reason;
    const bool read = format.readSamplesAt
                          ? format.readSamplesAt(options.path, options, volume, reason)
                          : format.readSamples(data, size, options, volume, reason);
    if (!read)
        return refuse(options, format.name, reason, error);
    std::string turnNote, sampleNote;
    orientToDisplay(volume, turnNote);
    if (!samplesToGrid(volume, format.valueColors, rules, options.maxVoxels, grid, reason,
                       &sampleNote)) {
        error = std::string(options.path) + ": " + reason;
        return false;
    }
    // Notes only for what was read: a refusal is the one line.
    if (!turnNote.empty())
        fprintf(stderr, "%s: note: %s %s\n", programName, options.path, turnNote.c_str());
    if (note && !sampleNote.empty())
        *note = std::string(options.path) + ": " + sampleNote;
    return true;
}
