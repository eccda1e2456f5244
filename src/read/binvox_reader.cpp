#include "read/binvox_reader.h"

#include "container/header_text.h"
#include "container/quoted_text.h"
#include "read/memory_refusal.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

bool startsWithBinvox(const uint8_t* head, size_t size) {
    return size >= 7 && memcmp(head, "#binvox", 7) == 0;
}

namespace {

// The header is a few short lines; a line longer than this is not one.
constexpr size_t longestHeaderLine = 1024;
constexpr int64_t largestDim = 1 << 20;

// Reads the next line of the header, without its line break (\n or \r\n).
bool nextLine(const uint8_t* data, size_t size, size_t& pos, std::string& line) {
    size_t end = pos;
    while (end < size && data[end] != '\n') {
        if (end - pos > longestHeaderLine)
            return false;
        ++end;
    }
    if (end >= size)
        return false;
    line.assign(reinterpret_cast<const char*>(data + pos), end - pos);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    pos = end + 1;
    return true;
}

} // namespace

bool parseBinvox(const uint8_t* data, size_t size, int64_t maxBytes, SampleVolume& out,
                 std::string& error) {
    size_t pos = 0;
    std::string line;
    if (!nextLine(data, size, pos, line) ||
        splitWords(line) != std::vector<std::string>{"#binvox", "1"}) {
        error = "not a binvox file of version 1 (the first line must be \"#binvox 1\")";
        return false;
    }
    int64_t dim[3] = {0, 0, 0};
    double translate[3] = {0, 0, 0};
    double scale = 1.0;
    bool haveDim = false;
    for (;;) {
        if (!nextLine(data, size, pos, line)) {
            error = "the header ends before its \"data\" line";
            return false;
        }
        std::vector<std::string> w = splitWords(line);
        if (w.empty())
            continue;
        if (w[0] == "data" && w.size() == 1)
            break;
        if (w[0] == "dim" && w.size() == 4) {
            for (int a = 0; a < 3; ++a)
                if (!wordToInt(w[a + 1], dim[a]) || dim[a] < 1 || dim[a] > largestDim) {
                    error = "the \"dim\" line needs three whole numbers from 1 to " +
                            std::to_string(largestDim);
                    return false;
                }
            haveDim = true;
        } else if (w[0] == "translate" && w.size() == 4) {
            for (int a = 0; a < 3; ++a)
                if (!wordToDouble(w[a + 1], translate[a]) || !std::isfinite(translate[a])) {
                    error = "the \"translate\" line needs three numbers";
                    return false;
                }
        } else if (w[0] == "scale" && w.size() == 2) {
            if (!wordToDouble(w[1], scale) || !(scale > 0) || !std::isfinite(scale)) {
                error = "the \"scale\" line needs a positive number";
                return false;
            }
        } else {
            error = "the header line " + quotedText(line, 40) + " is not one binvox knows";
            return false;
        }
    }
    if (!haveDim) {
        error = "the header has no \"dim\" line";
        return false;
    }
    if (dim[0] != dim[1] || dim[1] != dim[2]) {
        error = "the grid is not a cube (\"dim\" gives three different sizes); binvox grids are";
        return false;
    }
    int64_t cells = checkedSampleCount(dim, 1, maxBytes);
    if (cells < 0) {
        error = memoryRefusal("the grid of " + std::to_string(dim[0]) + "^3 voxels",
                              claimedSampleBytes(dim, 1), maxBytes);
        return false;
    }
    // Each pair covers at most 255 voxels, so a grid this size needs at least
    // this many bytes of runs: a header claiming more than the file can hold
    // is refused before the grid is allocated.
    int64_t leastPairs = (cells + 254) / 255;
    if (int64_t(size - pos) / 2 < leastPairs) {
        error = "the run-length data is too short for a grid of " + std::to_string(dim[0]) + "^3";
        return false;
    }
    out = SampleVolume();
    out.type = SampleType::uint8;
    out.meaning = SampleMeaning::occupancy;
    // Stored y fastest, then z, then x: index = x * d^2 + z * d + y.
    for (int a = 0; a < 3; ++a)
        out.dims[a] = dim[a];
    out.strides[0] = dim[0] * dim[0];
    out.strides[1] = 1;
    out.strides[2] = dim[0];
    double step = scale / double(dim[0]);
    for (int a = 0; a < 3; ++a) {
        out.spacing[a] = step;
        out.origin[a] = translate[a] + 0.5 * step;
    }
    out.spacingSource = "\"scale\"";
    out.positionSource = "\"translate\" and \"scale\"";
    out.storage.assign(size_t(cells), 0);
    int64_t filled = 0;
    while (filled < cells) {
        if (size - pos < 2) {
            error = "the run-length data ends before the grid is full (" + std::to_string(filled) +
                    " of " + std::to_string(cells) + " voxels)";
            out.storage.clear();
            return false;
        }
        uint8_t value = data[pos];
        int64_t count = data[pos + 1];
        pos += 2;
        if (value > 1) {
            error = "a run has the value " + std::to_string(value) + "; binvox runs are 0 or 1";
            out.storage.clear();
            return false;
        }
        if (count > cells - filled) {
            error = "a run passes the end of the grid";
            out.storage.clear();
            return false;
        }
        if (value)
            memset(out.storage.data() + filled, 1, size_t(count));
        filled += count;
    }
    return true;
}

namespace {

bool readBinvoxSamples(const uint8_t* data, size_t size, const ReadOptions& options,
                       SampleVolume& out, std::string& reason) {
    return parseBinvox(data, size, options.maxBytes, out, reason);
}

} // namespace

const char binvoxHelp[] =
    "the grid's occupied voxels (stored y fastest, then z, then x), centred on "
    "translate + (index + 0.5) x scale / dim; coloured by height.";

extern const InputFormat binvoxInput = {
    "binvox",       {".binvox"}, startsWithBinvox, nullptr,  readBinvoxSamples,
    ColorMode::map, nullptr,     nullptr,          "binvox", binvoxHelp};
