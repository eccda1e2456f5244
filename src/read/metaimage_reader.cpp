#include "read/metaimage_reader.h"

#include "container/header_text.h"
#include "container/inflate_stream.h"
#include "container/quoted_text.h"
#include "platform/program_name.h"
#include "read/data_file.h"
#include "read/memory_refusal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

namespace {

constexpr size_t longestHeader = 1 << 20;

// Slice numbers far beyond any file count; within it, a pattern's
// arithmetic cannot overflow.
constexpr int64_t maxPatternNumber = 999999999999;

std::string trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos)
        return "";
    return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

bool typeByName(const std::string& name, SampleType& type, bool& array) {
    static const std::pair<const char*, SampleType> names[] = {
        {"MET_CHAR", SampleType::int8},       {"MET_UCHAR", SampleType::uint8},
        {"MET_SHORT", SampleType::int16},     {"MET_USHORT", SampleType::uint16},
        {"MET_INT", SampleType::int32},       {"MET_UINT", SampleType::uint32},
        {"MET_LONG_LONG", SampleType::int64}, {"MET_ULONG_LONG", SampleType::uint64},
        {"MET_FLOAT", SampleType::float32},   {"MET_DOUBLE", SampleType::float64},
    };
    array = name.size() > 6 && name.compare(name.size() - 6, 6, "_ARRAY") == 0;
    const std::string base = array ? name.substr(0, name.size() - 6) : name;
    for (const auto& entry : names)
        if (base == entry.first) {
            type = entry.second;
            return true;
        }
    return false;
}

bool isTrue(const std::string& value) {
    return !value.empty() && (value[0] == 'T' || value[0] == 't' || value[0] == '1');
}

// `count` numbers from a field's value; false when it holds fewer, or any
// that is not a finite number.
bool numbers(const std::string& value, size_t count, double* out) {
    const std::vector<std::string> words = splitWords(value);
    if (words.size() < count)
        return false;
    for (size_t n = 0; n < count; ++n)
        if (!wordToDouble(words[n], out[n]) || !std::isfinite(out[n]))
            return false;
    return true;
}

// The LPS direction an AnatomicalOrientation letter gives its axis: the
// letter names the side the axis comes from ("RAI" is LPS's own axes).
bool letterDirection(char letter, double direction[3]) {
    static const char letters[] = "RLAPIS";
    const char* at = letter ? strchr(letters, letter) : nullptr;
    if (!at)
        return false;
    const int index = int(at - letters);
    for (int e = 0; e < 3; ++e)
        direction[e] = e == index / 2 ? (index % 2 == 0 ? 1.0 : -1.0) : 0.0;
    return true;
}

bool anatomicalAxes(const std::string& code, double axes[3][3]) {
    if (code.size() < 3)
        return false;
    bool used[3] = {false, false, false};
    for (int a = 0; a < 3; ++a) {
        if (!letterDirection(code[size_t(a)], axes[a]))
            return false;
        for (int e = 0; e < 3; ++e)
            if (axes[a][e] != 0) {
                if (used[e])
                    return false;
                used[e] = true;
            }
    }
    return true;
}

// The names of the files that hold the samples: one, a LIST on the lines
// from `listStart` (`files` of them), or a numbered pattern.
bool dataFileNames(const std::string& value, const uint8_t* data, size_t size, size_t listStart,
                   int64_t files, std::vector<std::string>& names, std::string& error) {
    const std::vector<std::string> words = splitWords(value);
    if (!words.empty() && words[0] == "LIST") {
        size_t pos = listStart;
        while (int64_t(names.size()) < files) {
            if (pos >= size) {
                error = "the MetaImage LIST names " + std::to_string(names.size()) +
                        " files; its dimensions need " + std::to_string(files);
                return false;
            }
            size_t end = pos;
            while (end < size && data[end] != '\n')
                ++end;
            const std::string name =
                trimmed(std::string(reinterpret_cast<const char*>(data + pos), end - pos));
            pos = end + 1;
            if (!name.empty())
                names.push_back(name);
        }
        return true;
    }
    if (words.size() >= 2 && words[0].find('%') != std::string::npos) {
        int64_t range[3] = {0, 0, 1};
        for (size_t n = 1; n < words.size() && n < 4; ++n)
            if (!wordToInt(words[n], range[n - 1]) || range[n - 1] < -maxPatternNumber ||
                range[n - 1] > maxPatternNumber) {
                error = "the MetaImage ElementDataFile pattern's numbers must be whole numbers "
                        "of at most 12 digits";
                return false;
            }
        if (words.size() < 3)
            range[1] = range[0] + files - 1;
        if (range[2] <= 0 || range[1] < range[0] || (range[1] - range[0]) / range[2] + 1 < files) {
            error = "the MetaImage ElementDataFile pattern " + quotedText(value, 60) +
                    " does not number the " + std::to_string(files) + " files its dimensions need";
            return false;
        }
        for (int64_t n = 0; n < files; ++n) {
            std::string name;
            if (!patternName(words[0], range[0] + n * range[2], name)) {
                error = "the MetaImage ElementDataFile pattern " + quotedText(words[0], 60) +
                        " is not a name with one number (%d, %03d, ...)";
                return false;
            }
            names.push_back(name);
        }
        return true;
    }
    if (value.empty()) {
        error = "the MetaImage ElementDataFile names no file";
        return false;
    }
    names.push_back(value);
    return true;
}

} // namespace

bool startsWithMetaImage(const uint8_t* head, size_t size) {
    for (const char* key : {"ObjectType", "NDims"}) {
        const size_t length = strlen(key);
        if (size < length || memcmp(head, key, length) != 0)
            continue;
        size_t at = length;
        while (at < size && head[at] == ' ')
            ++at;
        return at < size && head[at] == '=';
    }
    return false;
}

bool patternName(const std::string& pattern, int64_t number, std::string& name) {
    const size_t percent = pattern.find('%');
    if (percent == std::string::npos || pattern.find('%', percent + 1) != std::string::npos)
        return false;
    size_t at = percent + 1;
    const bool zeros = at < pattern.size() && pattern[at] == '0';
    size_t width = 0;
    while (at < pattern.size() && pattern[at] >= '0' && pattern[at] <= '9' && width < 100)
        width = width * 10 + size_t(pattern[at++] - '0');
    if (at >= pattern.size() || (pattern[at] != 'd' && pattern[at] != 'i') || width >= 100)
        return false;
    if (number < -maxPatternNumber || number > maxPatternNumber)
        return false;
    const std::string digits = std::to_string(number < 0 ? -number : number);
    const std::string sign = number < 0 ? "-" : "";
    const size_t used = digits.size() + sign.size();
    const std::string pad(used < width ? width - used : 0, zeros ? '0' : ' ');
    const std::string text = zeros ? sign + pad + digits : pad + sign + digits;
    name = pattern.substr(0, percent) + text + pattern.substr(at + 1);
    return true;
}

bool parseMetaImageHeader(const uint8_t* data, size_t size, MetaImageHeader& header,
                          std::string& error) {
    header = MetaImageHeader();
    std::map<std::string, std::string> fields;
    std::string dataFile;
    bool ended = false;
    size_t pos = 0;
    while (pos < size && !ended) {
        size_t end = pos;
        while (end < size && data[end] != '\n')
            ++end;
        if (end > longestHeader) {
            error = "the MetaImage header is longer than 1 MiB";
            return false;
        }
        const std::string line =
            trimmed(std::string(reinterpret_cast<const char*>(data + pos), end - pos));
        pos = end < size ? end + 1 : size;
        if (line.empty())
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            error = "the MetaImage header line " + quotedText(line, 40) + " is not a field";
            return false;
        }
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        if (key == "ElementDataFile") {
            dataFile = value;
            ended = true;
        } else {
            fields[key] = value;
        }
    }
    if (!ended) {
        error = "the MetaImage header has no ElementDataFile";
        return false;
    }
    header.headerEnd = pos;
    auto field = [&](const char* name) -> const std::string* {
        auto found = fields.find(name);
        return found == fields.end() ? nullptr : &found->second;
    };
    auto firstField = [&](std::initializer_list<const char*> names) -> const std::string* {
        for (const char* name : names)
            if (const std::string* value = field(name))
                return value;
        return nullptr;
    };
    if (const std::string* object = field("ObjectType"))
        if (*object != "Image") {
            error = "the MetaImage ObjectType " + quotedText(*object, 30) + " is not Image";
            return false;
        }
    int64_t dimensions = 0;
    const std::string* ndims = field("NDims");
    if (!ndims || !wordToInt(*ndims, dimensions) || dimensions < 2 || dimensions > 4) {
        error = "the MetaImage NDims must be 2, 3 or 4";
        return false;
    }
    const size_t n = size_t(dimensions);
    SampleLayout& layout = header.layout;
    const std::string* dimSize = field("DimSize");
    const std::vector<std::string> sizeWords =
        dimSize ? splitWords(*dimSize) : std::vector<std::string>();
    int64_t sizes[4] = {1, 1, 1, 1};
    for (size_t a = 0; a < n; ++a)
        if (sizeWords.size() < n || !wordToInt(sizeWords[a], sizes[a]) || sizes[a] < 1) {
            error = "the MetaImage DimSize must be NDims whole numbers of at least 1";
            return false;
        }
    for (int a = 0; a < 3; ++a)
        layout.dims[a] = sizes[a];
    header.volumes = sizes[3];
    const std::string* type = field("ElementType");
    bool array = false;
    if (!type || !typeByName(*type, layout.type, array)) {
        error = type ? "the MetaImage ElementType " + quotedText(*type, 30) +
                           " is not one this reads (MET_CHAR to MET_ULONG_LONG, MET_FLOAT, "
                           "MET_DOUBLE)"
                     : "the MetaImage header has no ElementType";
        return false;
    }
    int64_t channels = 1;
    if (const std::string* value = field("ElementNumberOfChannels"))
        if (!wordToInt(*value, channels) || channels < 1) {
            error = "the MetaImage ElementNumberOfChannels must be a whole number of at least 1";
            return false;
        }
    if (channels != 1) {
        if ((channels != 3 && channels != 4) || layout.type != SampleType::uint8 ||
            header.volumes > 1) {
            error = "the MetaImage image has " + std::to_string(channels) + " " +
                    sampleTypeName(layout.type) +
                    " channels; colours are read as 3 or 4 uint8 channels of a 2-D or 3-D image";
            return false;
        }
        header.channels = int(channels);
        layout.extraAxis = 0;
        layout.extraSize = channels;
        layout.extraIsColor = true;
    }
    double values[16];
    if (const std::string* spacing = firstField({"ElementSpacing", "ElementSize"})) {
        if (!numbers(*spacing, n, values)) {
            error = "the MetaImage ElementSpacing must be NDims numbers";
            return false;
        }
        for (size_t a = 0; a < std::min<size_t>(n, 3); ++a)
            layout.spacing[a] = values[a] != 0 ? std::fabs(values[a]) : 1.0;
        layout.spacingSource = field("ElementSpacing") ? "\"ElementSpacing\"" : "\"ElementSize\"";
    }
    layout.positionSource = layout.spacingSource;
    if (const std::string* offset = firstField({"Offset", "Position", "Origin"})) {
        if (!numbers(*offset, n, values)) {
            error = "the MetaImage Offset must be NDims numbers";
            return false;
        }
        for (size_t a = 0; a < std::min<size_t>(n, 3); ++a)
            layout.origin[a] = values[a];
        layout.positionSource = "\"Offset\" and " + layout.spacingSource;
    }
    if (const std::string* matrix = firstField({"TransformMatrix", "Rotation", "Orientation"})) {
        // NDims x NDims numbers, each axis's direction in turn (ITK writes
        // the direction matrix's columns).
        if (!numbers(*matrix, n * n, values)) {
            error = "the MetaImage TransformMatrix must be NDims x NDims numbers";
            return false;
        }
        for (size_t a = 0; a < std::min<size_t>(n, 3); ++a) {
            double length = 0;
            for (size_t e = 0; e < std::min<size_t>(n, 3); ++e)
                length += values[a * n + e] * values[a * n + e];
            length = std::sqrt(length);
            if (!(length > 0) || !std::isfinite(length)) {
                error = "the MetaImage TransformMatrix gives an axis no direction";
                return false;
            }
            for (size_t e = 0; e < 3; ++e)
                layout.directions[a][e] = e < n ? values[a * n + e] / length : 0.0;
        }
        layout.frame = PatientFrame::lps;
    } else if (const std::string* code = field("AnatomicalOrientation")) {
        double axes[3][3];
        if (n == 3 && anatomicalAxes(*code, axes)) {
            for (int a = 0; a < 3; ++a)
                for (int e = 0; e < 3; ++e)
                    layout.directions[a][e] = axes[a][e];
            layout.frame = PatientFrame::lps;
        }
    }
    if (n == 2 && layout.frame == PatientFrame::lps) {
        // The slice's normal completes its two axes.
        const double(*d)[3] = layout.directions;
        layout.directions[2][0] = d[0][1] * d[1][2] - d[0][2] * d[1][1];
        layout.directions[2][1] = d[0][2] * d[1][0] - d[0][0] * d[1][2];
        layout.directions[2][2] = d[0][0] * d[1][1] - d[0][1] * d[1][0];
    }
    if (const std::string* order = firstField({"BinaryDataByteOrderMSB", "ElementByteOrderMSB"}))
        layout.bigEndian = isTrue(*order);
    if (const std::string* binary = field("BinaryData"))
        if (!isTrue(*binary)) {
            error = "the MetaImage data is text (BinaryData = False), which this does not read";
            return false;
        }
    if (const std::string* compressed = field("CompressedData"))
        header.compressed = isTrue(*compressed);
    if (const std::string* value = field("CompressedDataSize"))
        if (header.compressed &&
            (!wordToInt(*value, header.compressedSize) || header.compressedSize < 1)) {
            error = "the MetaImage CompressedDataSize must be a whole number of at least 1";
            return false;
        }
    if (const std::string* value = field("HeaderSize"))
        if (!wordToInt(*value, header.headerSize) || header.headerSize < -1) {
            error = "the MetaImage HeaderSize must be a whole number of at least 0, or -1";
            return false;
        }
    if (dataFile == "LOCAL") {
        header.local = true;
        return true;
    }
    // A LIST or a pattern: each file holds a slice of NDims - 1 dimensions
    // unless "LIST 3D" and the like says otherwise; the first volume's
    // files are named.
    const std::vector<std::string> words = splitWords(dataFile);
    const bool several = (!words.empty() && words[0] == "LIST") ||
                         (words.size() >= 2 && words[0].find('%') != std::string::npos);
    int64_t fileDimensions = several ? int64_t(n) - 1 : int64_t(n);
    if (words.size() >= 2 && words[0] == "LIST") {
        const std::string& d = words[1];
        // A file of the whole series (4D) would not fit the first volume's
        // buffer it is read into.
        const size_t most = std::min<size_t>(n, 3);
        if (d.size() != 2 || d[1] != 'D' || d[0] < '1' || d[0] > char('0' + most)) {
            error = "the MetaImage LIST's file dimension " + quotedText(d, 10) + " is not 1D to " +
                    std::to_string(most) + "D";
            return false;
        }
        fileDimensions = d[0] - '0';
    }
    header.sliced = several;
    if (several && header.compressed) {
        error = "the MetaImage data is compressed in several files, which this does not read";
        return false;
    }
    int64_t files = 1;
    header.fileSamples = 1;
    for (int64_t a = 0; a < int64_t(n); ++a) {
        int64_t& product = a < fileDimensions ? header.fileSamples : files;
        if (a >= fileDimensions && a >= 3)
            continue; // later volumes' files are not named
        if (__builtin_mul_overflow(product, sizes[a], &product)) {
            error = "the MetaImage DimSize is larger than any file could hold";
            return false;
        }
    }
    if (several && files > int64_t(size)) {
        // A name takes at least two bytes of the header; a pattern is held
        // to the same, so that no header asks for more names than it could list.
        error = "the MetaImage header cannot name the " + std::to_string(files) +
                " files its dimensions need";
        return false;
    }
    return dataFileNames(dataFile, data, size, header.headerEnd, several ? files : 1,
                         header.dataFiles, error);
}

namespace {

// The bytes one sample takes, its channels with it.
size_t itemBytes(const MetaImageHeader& header) {
    return sampleTypeSize(header.layout.type) * size_t(header.channels);
}

std::string volumeRefusal(const MetaImageHeader& header, int64_t maxBytes) {
    return memoryRefusal("the MetaImage volume",
                         claimedSampleBytes(header.layout.dims, itemBytes(header)), maxBytes);
}

// Inflates the zlib data at `data` into exactly `needed` bytes (or the first
// volume's, of a series).
bool inflateSamples(const MetaImageHeader& header, const uint8_t* data, size_t size, size_t needed,
                    std::vector<uint8_t>& out, std::string& error) {
    if (header.compressedSize > 0) {
        if (uint64_t(header.compressedSize) > size) {
            error = "the MetaImage data holds " + std::to_string(size) +
                    " compressed bytes; its CompressedDataSize says " +
                    std::to_string(header.compressedSize);
            return false;
        }
        size = size_t(header.compressedSize);
    }
    const bool inflated = header.volumes > 1
                              ? inflatePrefix(data, size, DeflateWrapper::zlib, needed, out, error)
                              : inflateStated(data, size, DeflateWrapper::zlib, needed, out, error);
    if (!inflated) {
        error = "the MetaImage compressed data: " + error;
        return false;
    }
    if (out.size() != needed) {
        error = "the MetaImage compressed data holds " + std::to_string(out.size()) +
                " bytes; its dimensions and type need " + std::to_string(needed);
        return false;
    }
    return true;
}

// The first volume's samples from the one data file, checked against its
// size before any of it is read: raw data exactly as long as HeaderSize and
// every volume (with HeaderSize -1, at least the volumes, which end the
// file); compressed data no larger than the memory allowed.
bool readOneFile(const MetaImageHeader& header, const std::string& path, const DataFile& file,
                 size_t needed, int64_t maxBytes, std::vector<uint8_t>& samples,
                 std::string& error) {
    const std::string holds =
        "its data file " + shownPath(path) + " holds " + std::to_string(file.size) + " bytes";
    if (header.compressed) {
        if (file.size > maxBytes) {
            error = holds + " of compressed data, more than the memory allowed (" +
                    std::to_string(maxBytes >> 20) + " MiB; raise --max-memory)";
            return false;
        }
        const int64_t skip = std::max<int64_t>(header.headerSize, 0);
        if (skip > file.size) {
            error = holds + ", fewer than its HeaderSize";
            return false;
        }
        std::vector<uint8_t> compressed;
        return readDataBytes(file, path, skip, size_t(file.size - skip), compressed, error) &&
               inflateSamples(header, compressed.data(), compressed.size(), needed, samples, error);
    }
    int64_t whole = 0;
    const int64_t skip = std::max<int64_t>(header.headerSize, 0);
    const bool overflows = __builtin_mul_overflow(int64_t(needed), header.volumes, &whole) ||
                           __builtin_add_overflow(whole, skip, &whole);
    if (overflows || (header.headerSize == -1 ? whole > file.size : whole != file.size)) {
        error = holds + "; the header's sizes, type and HeaderSize need " +
                (overflows                 ? std::string("more than a file can hold")
                 : header.headerSize == -1 ? "at least " + std::to_string(whole)
                                           : "exactly " + std::to_string(whole));
        return false;
    }
    const int64_t first = header.headerSize == -1 ? file.size - whole : skip;
    return readDataBytes(file, path, first, needed, samples, error);
}

// The samples of a LIST or pattern, a slice in each file: every file is
// opened and its size checked (HeaderSize and the slice, exactly; -1: at
// least the slice, which ends it) before the volume is allocated.
bool readSliceFiles(const MetaImageHeader& header, const std::string& headerPath,
                    const std::string& output, size_t needed, std::vector<uint8_t>& samples,
                    std::string& error) {
    const size_t sliceBytes = size_t(header.fileSamples) * itemBytes(header);
    if (sliceBytes * header.dataFiles.size() != needed) {
        error = "the MetaImage slice files do not make up its volume";
        return false;
    }
    const int64_t skip = std::max<int64_t>(header.headerSize, 0);
    std::vector<std::string> paths;
    std::vector<int64_t> starts;
    for (const std::string& name : header.dataFiles) {
        std::string path;
        DataFile file;
        if (!dataFilePath(headerPath, name, path, error) ||
            !openDataFile(path, "data file", output, file, error))
            return false;
        const int64_t size = file.size;
        closeDataFile(file);
        const int64_t least = skip + int64_t(sliceBytes);
        if (header.headerSize == -1 ? size < least : size != least) {
            error = "its data file " + shownPath(path) + " holds " + std::to_string(size) +
                    " bytes; a slice and the header's HeaderSize need " +
                    (header.headerSize == -1 ? "at least " : "exactly ") + std::to_string(least);
            return false;
        }
        paths.push_back(path);
        starts.push_back(header.headerSize == -1 ? size - int64_t(sliceBytes) : skip);
    }
    samples.assign(needed, 0);
    std::vector<uint8_t> slice;
    for (size_t n = 0; n < paths.size(); ++n) {
        DataFile file;
        if (!openDataFile(paths[n], "data file", output, file, error))
            return false;
        const bool read = readDataBytes(file, paths[n], starts[n], sliceBytes, slice, error);
        closeDataFile(file);
        if (!read)
            return false;
        memcpy(samples.data() + n * sliceBytes, slice.data(), sliceBytes);
    }
    return true;
}

bool readMetaImageSamples(const uint8_t* data, size_t size, const ReadOptions& options,
                          SampleVolume& out, std::string& reason) {
    MetaImageHeader header;
    if (!parseMetaImageHeader(data, size, header, reason))
        return false;
    const int64_t count =
        checkedSampleCount(header.layout.dims, itemBytes(header), options.maxBytes);
    if (count < 0) {
        reason = volumeRefusal(header, options.maxBytes);
        return false;
    }
    const size_t needed = size_t(count) * itemBytes(header);
    std::vector<uint8_t> samples;
    if (header.local) {
        const size_t available = size - header.headerEnd;
        const uint8_t* start = data + header.headerEnd;
        if (header.compressed) {
            if (!inflateSamples(header, start, available, needed, samples, reason))
                return false;
        } else {
            if (available < needed) {
                reason = "the MetaImage data holds " + std::to_string(available) +
                         " bytes; its dimensions and type need " + std::to_string(needed);
                return false;
            }
            // HeaderSize -1: every volume ends the file.
            const size_t all = needed * size_t(header.volumes);
            const size_t first = header.headerSize == -1 &&
                                         all / needed == size_t(header.volumes) && all <= available
                                     ? available - all
                                     : 0;
            samples.assign(start + first, start + first + needed);
        }
    } else if (!header.sliced) {
        std::string path;
        DataFile file;
        if (!dataFilePath(options.path, header.dataFiles[0], path, reason) ||
            !openDataFile(path, "data file", options.output, file, reason))
            return false;
        const bool read =
            readOneFile(header, path, file, needed, options.maxBytes, samples, reason);
        closeDataFile(file);
        if (!read)
            return false;
    } else if (!readSliceFiles(header, options.path, options.output, needed, samples, reason)) {
        return false;
    }
    takeSamples(header.layout, std::move(samples), 0, out);
    // Said once the volume is read, so that a refusal stays one line.
    if (header.volumes > 1)
        fprintf(stderr, "%s: note: %s holds a series of volumes; the first is read\n", programName,
                options.path);
    return true;
}

bool metaImageSecondFile(const char* path, const uint8_t* head, size_t size, std::string& second,
                         std::string& reason) {
    MetaImageHeader header;
    second.clear();
    return parseMetaImageHeader(head, size, header, reason) &&
           (header.dataFiles.empty() || dataFilePath(path, header.dataFiles[0], second, reason));
}

} // namespace

const char metaImageHelp[] =
    "volumes (.mha with its data inside, .mhd and the data file it names, in its folder or "
    "below, or a LIST or numbered pattern of slice files; raw or zlib; ElementSpacing, Offset "
    "and TransformMatrix in ITK's LPS frame, else AnatomicalOrientation): need --threshold, "
    "grey by value. MET_UCHAR_ARRAY of 3 or 4 channels is colours; a fourth dimension, a "
    "series whose first volume is read.";

extern const InputFormat metaImageInput = {
    "MetaImage",     {".mha", ".mhd"}, startsWithMetaImage, nullptr,     readMetaImageSamples,
    ColorMode::grey, nullptr,          metaImageSecondFile, "MetaImage", metaImageHelp};
