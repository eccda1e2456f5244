#include "read/nrrd_reader.h"

#include "container/header_text.h"
#include "container/inflate_stream.h"
#include "container/quoted_text.h"
#include "math/vec3.h"
#include "platform/input_file.h"
#include "platform/program_name.h"
#include "read/data_file.h"
#include "read/memory_refusal.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

bool startsWithNrrd(const uint8_t* head, size_t size) {
    return size >= 7 && memcmp(head, "NRRD000", 7) == 0;
}

size_t nrrdItemBytes(const NrrdHeader& header) {
    return sampleTypeSize(header.layout.type) * size_t(header.layout.extraSize);
}

namespace {

constexpr size_t longestHeader = 1 << 20;

std::string trimmed(const std::string& text) {
    size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos)
        return "";
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(start, end - start + 1);
}

bool typeByName(const std::string& name, SampleType& type) {
    static const std::map<std::string, SampleType> names = {
        {"signed char", SampleType::int8},
        {"int8", SampleType::int8},
        {"int8_t", SampleType::int8},
        {"uchar", SampleType::uint8},
        {"unsigned char", SampleType::uint8},
        {"uint8", SampleType::uint8},
        {"uint8_t", SampleType::uint8},
        {"short", SampleType::int16},
        {"short int", SampleType::int16},
        {"signed short", SampleType::int16},
        {"signed short int", SampleType::int16},
        {"int16", SampleType::int16},
        {"int16_t", SampleType::int16},
        {"ushort", SampleType::uint16},
        {"unsigned short", SampleType::uint16},
        {"unsigned short int", SampleType::uint16},
        {"uint16", SampleType::uint16},
        {"uint16_t", SampleType::uint16},
        {"int", SampleType::int32},
        {"signed int", SampleType::int32},
        {"int32", SampleType::int32},
        {"int32_t", SampleType::int32},
        {"uint", SampleType::uint32},
        {"unsigned int", SampleType::uint32},
        {"uint32", SampleType::uint32},
        {"uint32_t", SampleType::uint32},
        {"longlong", SampleType::int64},
        {"long long", SampleType::int64},
        {"long long int", SampleType::int64},
        {"signed long long", SampleType::int64},
        {"signed long long int", SampleType::int64},
        {"int64", SampleType::int64},
        {"int64_t", SampleType::int64},
        {"ulonglong", SampleType::uint64},
        {"unsigned long long", SampleType::uint64},
        {"unsigned long long int", SampleType::uint64},
        {"uint64", SampleType::uint64},
        {"uint64_t", SampleType::uint64},
        {"float", SampleType::float32},
        {"double", SampleType::float64},
    };
    auto found = names.find(name);
    if (found == names.end())
        return false;
    type = found->second;
    return true;
}

// "(1,0,0.5)" -> three numbers; false for "none" or anything malformed.
bool vectorOf3(const std::string& text, double v[3]) {
    std::string t = trimmed(text);
    if (t.size() < 2 || t.front() != '(' || t.back() != ')')
        return false;
    t = t.substr(1, t.size() - 2);
    size_t pos = 0;
    for (int a = 0; a < 3; ++a) {
        size_t comma = t.find(',', pos);
        if ((a < 2) != (comma != std::string::npos))
            return false;
        std::string part = trimmed(t.substr(pos, a < 2 ? comma - pos : std::string::npos));
        if (!wordToDouble(part, v[a]) || !std::isfinite(v[a]))
            return false;
        pos = comma + 1;
    }
    return true;
}

// The kind of stored axis `axis` ("domain", "RGB-color", ...), or empty.
std::string kindOf(const std::string* kinds, int axis) {
    if (!kinds)
        return "";
    const std::vector<std::string> words = splitWords(*kinds);
    return words.size() == 4 ? words[size_t(axis)] : "";
}

// Which of four stored axes is not of space (see parseNrrdHeader).
int extraNrrdAxis(const std::string* kinds, const std::string* directions,
                  const std::vector<std::string>& sizes) {
    int found = -1, count = 0;
    for (int axis = 0; axis < 4; ++axis) {
        const std::string kind = kindOf(kinds, axis);
        if (!kind.empty() && kind != "domain" && kind != "space")
            found = axis, ++count;
    }
    if (count == 1)
        return found;
    if (directions) {
        const std::vector<std::string> words = splitWords(*directions, true);
        count = 0;
        for (size_t axis = 0; axis < words.size() && words.size() == 4; ++axis)
            if (words[axis] == "none")
                found = int(axis), ++count;
        if (count == 1)
            return found;
    }
    return sizes[0] == "1" ? 0 : 3;
}

// The patient frame a "space" names; other spaces (scanner-xyz,
// 3D-right-handed, ...) say nothing of where the patient faces.
PatientFrame patientFrame(const std::string* space) {
    static const std::pair<const char*, PatientFrame> frames[] = {
        {"right-anterior-superior", PatientFrame::ras}, {"RAS", PatientFrame::ras},
        {"left-anterior-superior", PatientFrame::las},  {"LAS", PatientFrame::las},
        {"left-posterior-superior", PatientFrame::lps}, {"LPS", PatientFrame::lps},
    };
    for (const auto& entry : frames)
        if (space && *space == entry.first)
            return entry.second;
    return PatientFrame::none;
}

} // namespace

bool parseNrrdHeader(const uint8_t* data, size_t size, NrrdHeader& header, std::string& error) {
    header = NrrdHeader();
    if (!startsWithNrrd(data, size)) {
        error = "not an NRRD file (it does not begin with NRRD000)";
        return false;
    }
    std::map<std::string, std::string> fields;
    size_t pos = 0;
    bool first = true;
    for (;;) {
        if (pos >= size) {
            header.headerEnd = size;
            break;
        }
        size_t end = pos;
        while (end < size && data[end] != '\n')
            ++end;
        if (end > longestHeader) {
            error = "the NRRD header is longer than 1 MiB";
            return false;
        }
        std::string line(reinterpret_cast<const char*>(data + pos), end - pos);
        pos = end < size ? end + 1 : size;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (first) {
            first = false;
            continue;
        }
        if (line.empty()) {
            header.headerEnd = pos;
            break;
        }
        if (line[0] == '#')
            continue;
        if (line.find(":=") != std::string::npos && line.find(":=") < line.find(": "))
            continue; // a key/value pair: not ours to interpret
        size_t colon = line.find(": ");
        if (colon == std::string::npos) {
            error = "the NRRD header line " + quotedText(line, 40) + " is not a field";
            return false;
        }
        fields[line.substr(0, colon)] = trimmed(line.substr(colon + 2));
    }
    auto field = [&](const char* name) -> const std::string* {
        auto found = fields.find(name);
        return found == fields.end() ? nullptr : &found->second;
    };
    const std::string* type = field("type");
    if (!type || !typeByName(*type, header.layout.type)) {
        error = type ? "the NRRD type " + quotedText(*type, 30) + " is not one this reads"
                     : "the NRRD header has no \"type\"";
        return false;
    }
    const std::string* dimension = field("dimension");
    const std::string* sizes = field("sizes");
    if (!dimension || !sizes) {
        error = "the NRRD header needs \"dimension\" and \"sizes\"";
        return false;
    }
    std::vector<std::string> sizeWords = splitWords(*sizes);
    int64_t axes = 0;
    if (!wordToInt(*dimension, axes) || axes != int64_t(sizeWords.size())) {
        error = "the NRRD \"sizes\" do not match its \"dimension\"";
        return false;
    }
    // Of four axes, one is not of space: its kind says so (colour channels,
    // a list, a series), or its "none" space direction; else the slowest,
    // as a series of volumes is stored. A leading axis of one sample (a
    // scalar per voxel written as a vector) is that axis too.
    int spatial[3] = {0, 1, 2};
    if (axes == 4) {
        header.layout.extraAxis =
            extraNrrdAxis(field("kinds"), field("space directions"), sizeWords);
        for (int stored = 0, a = 0; stored < 4; ++stored)
            if (stored != header.layout.extraAxis)
                spatial[a++] = stored;
        if (!wordToInt(sizeWords[size_t(header.layout.extraAxis)], header.layout.extraSize) ||
            header.layout.extraSize < 1) {
            error = "the NRRD \"sizes\" must be whole numbers of at least 1";
            return false;
        }
        const std::string kind = kindOf(field("kinds"), header.layout.extraAxis);
        header.layout.extraIsColor = kind == "RGB-color" || kind == "RGBA-color";
        if (header.layout.extraIsColor &&
            (header.layout.type != SampleType::uint8 ||
             header.layout.extraSize != (kind == "RGB-color" ? 3 : 4))) {
            error = "the NRRD " + kind + " axis holds " + std::to_string(header.layout.extraSize) +
                    " " + sampleTypeName(header.layout.type) + " samples; colours are read as " +
                    (kind == "RGB-color" ? "3" : "4") + " uint8 channels";
            return false;
        }
    } else if (axes != 3) {
        error = "the NRRD array has " + std::to_string(axes) +
                " dimensions; a volume needs 3 (or 4: colours or a series)";
        return false;
    }
    for (int a = 0; a < 3; ++a)
        if (!wordToInt(sizeWords[size_t(spatial[a])], header.layout.dims[a]) ||
            header.layout.dims[a] < 1) {
            error = "the NRRD \"sizes\" must be whole numbers of at least 1";
            return false;
        }
    // One entry per axis of the array, of which the three spatial ones count.
    auto perAxis = [&](const char* name, const std::vector<std::string>& entries) {
        if (entries.size() == size_t(axes))
            return true;
        error = std::string("the NRRD \"") + name + "\" do not match its \"dimension\"";
        return false;
    };
    if (const std::string* spacings = field("spacings")) {
        std::vector<std::string> w = splitWords(*spacings);
        if (!perAxis("spacings", w))
            return false;
        for (int a = 0; a < 3; ++a) {
            double s = 0;
            if (!wordToDouble(w[size_t(spatial[a])], s)) {
                error = "the NRRD \"spacings\" must be numbers";
                return false;
            }
            // "nan" leaves an axis without a spacing: one unit.
            header.layout.spacing[a] = std::isfinite(s) && s != 0 ? std::fabs(s) : 1.0;
        }
        header.layout.spacingSource = "\"spacings\"";
    }
    if (const std::string* directions = field("space directions")) {
        std::vector<std::string> w = splitWords(*directions, true);
        if (!perAxis("space directions", w))
            return false;
        for (int a = 0; a < 3; ++a) {
            double v[3];
            double length = vectorOf3(w[size_t(spatial[a])], v) ? length3(v[0], v[1], v[2]) : -1.0;
            if (!(length > 0) || !std::isfinite(length)) {
                error = length < 0 ? "the NRRD \"space directions\" need a (x,y,z) vector for "
                                     "each axis"
                                   : "an NRRD space direction has no length";
                return false;
            }
            header.layout.spacing[a] = length;
            for (int e = 0; e < 3; ++e)
                header.layout.directions[a][e] = v[e] / length;
        }
        header.layout.spacingSource = "\"space directions\"";
        header.layout.frame = patientFrame(field("space"));
    }
    header.layout.positionSource = header.layout.spacingSource;
    if (const std::string* origin = field("space origin")) {
        if (!vectorOf3(*origin, header.layout.origin)) {
            error = "the NRRD \"space origin\" must be a (x,y,z) vector";
            return false;
        }
        header.layout.positionSource = "\"space origin\" and " + header.layout.spacingSource;
    }
    const std::string* encoding = field("encoding");
    if (!encoding) {
        error = "the NRRD header has no \"encoding\"";
        return false;
    }
    if (*encoding == "gzip" || *encoding == "gz") {
        header.gzip = true;
    } else if (*encoding != "raw") {
        error =
            "the NRRD encoding " + quotedText(*encoding, 20) + " is not one this reads (raw, gzip)";
        return false;
    }
    if (const std::string* endian = field("endian")) {
        if (*endian != "little" && *endian != "big") {
            error = "the NRRD \"endian\" must be little or big";
            return false;
        }
        header.layout.bigEndian = *endian == "big";
    } else if (sampleTypeSize(header.layout.type) > 1) {
        error = "the NRRD header has no \"endian\" for a type wider than a byte";
        return false;
    }
    if (const std::string* skip = field("line skip"))
        if (!wordToInt(*skip, header.lineSkip) || header.lineSkip < 0) {
            error = "the NRRD \"line skip\" must be a whole number of at least 0";
            return false;
        }
    if (const std::string* skip = field("byte skip"))
        if (!wordToInt(*skip, header.byteSkip) || header.byteSkip < -1 ||
            (header.byteSkip == -1 && header.gzip)) {
            error = "the NRRD \"byte skip\" must be a whole number of at least 0 (or -1 for "
                    "raw data)";
            return false;
        }
    const std::string* dataFile = field("data file");
    if (!dataFile)
        dataFile = field("datafile");
    if (dataFile) {
        if (dataFile->empty() || splitWords(*dataFile).size() != 1 || *dataFile == "LIST") {
            error = "the NRRD \"data file\" must name one file (lists of files are not read)";
            return false;
        }
        header.dataFile = *dataFile;
    }
    return true;
}

bool decodeNrrdData(const NrrdHeader& header, std::vector<uint8_t> bytes, size_t start,
                    int64_t maxBytes, SampleVolume& out, std::string& error) {
    size_t item = nrrdItemBytes(header);
    int64_t count = checkedSampleCount(header.layout.dims, item, maxBytes);
    if (count < 0) {
        error = memoryRefusal("the NRRD volume", claimedSampleBytes(header.layout.dims, item),
                              maxBytes);
        return false;
    }
    size_t needed = size_t(count) * item;
    size_t pos = std::min(start, bytes.size());
    for (int64_t line = 0; line < header.lineSkip; ++line) {
        while (pos < bytes.size() && bytes[pos] != '\n')
            ++pos;
        if (pos >= bytes.size()) {
            error = "the NRRD data ends within its \"line skip\"";
            return false;
        }
        ++pos;
    }
    const std::string needs = " bytes; the sizes and type need ";
    if (header.gzip) {
        std::vector<uint8_t> inflated;
        if (header.byteSkip > maxBytes) {
            error = memoryRefusal("the NRRD \"byte skip\"", header.byteSkip, maxBytes);
            return false;
        }
        size_t skip = size_t(header.byteSkip);
        if (!inflateStated(bytes.data() + pos, bytes.size() - pos, DeflateWrapper::gzip,
                           needed + skip, inflated, error)) {
            error = "the NRRD gzip data: " + error;
            return false;
        }
        if (inflated.size() != needed + skip) {
            error = "the NRRD gzip data holds " + std::to_string(inflated.size()) + needs +
                    std::to_string(needed + skip);
            return false;
        }
        bytes = std::vector<uint8_t>();
        takeSamples(header.layout, std::move(inflated), skip, out);
        return true;
    }
    size_t available = bytes.size() - pos;
    if (header.byteSkip >= 0 && uint64_t(header.byteSkip) > available) {
        error = "the NRRD data ends within its \"byte skip\"";
        return false;
    }
    if (header.byteSkip >= 0)
        available -= size_t(header.byteSkip);
    if (available < needed) {
        error = "the NRRD data holds " + std::to_string(available) + needs + std::to_string(needed);
        return false;
    }
    // A byte skip of -1 means the samples are the file's last bytes.
    pos = header.byteSkip == -1 ? bytes.size() - needed : pos + size_t(header.byteSkip);
    takeSamples(header.layout, std::move(bytes), pos, out);
    return true;
}

namespace {

// The samples of a raw detached data file, checked against its size before
// any of it is read.
bool readRawDataFile(const NrrdHeader& header, const std::string& path, const DataFile& file,
                     int64_t maxBytes, SampleVolume& out, std::string& error) {
    const size_t item = nrrdItemBytes(header);
    const int64_t count = checkedSampleCount(header.layout.dims, item, maxBytes);
    if (count < 0) {
        error = memoryRefusal("the NRRD volume", claimedSampleBytes(header.layout.dims, item),
                              maxBytes);
        return false;
    }
    const int64_t needed = count * int64_t(item);
    const int64_t skip = header.byteSkip == -1 ? 0 : header.byteSkip;
    const std::string holds =
        "its data file " + shownPath(path) + " holds " + std::to_string(file.size) + " bytes";
    int64_t least = 0;
    const bool overflows = __builtin_add_overflow(skip, needed, &least);
    if (overflows || least > file.size) {
        error = holds + "; the header's sizes, type and skips need " +
                (overflows ? std::string("more than a file can hold")
                           : "at least " + std::to_string(least));
        return false;
    }
    // Skipped lines come first and can take only what the samples and the
    // byte skip leave.
    int64_t start = 0;
    if (header.lineSkip > 0) {
        start = endOfLines(file, header.lineSkip, file.size - skip - needed);
        if (start < 0) {
            error = holds + ", too few for its \"line skip\" before " + std::to_string(needed) +
                    " bytes of samples";
            return false;
        }
    }
    int64_t first = file.size - needed; // a byte skip of -1: the file's last bytes
    if (header.byteSkip != -1) {
        first = start + skip;
        if (file.size != first + needed) {
            error = holds + "; the header's sizes, type and skips need exactly " +
                    std::to_string(first + needed);
            return false;
        }
    }
    std::vector<uint8_t> samples;
    if (!readDataBytes(file, path, first, size_t(needed), samples, error))
        return false;
    takeSamples(header.layout, std::move(samples), 0, out);
    return true;
}

bool readDataFile(const NrrdHeader& header, const std::string& path, const DataFile& file,
                  int64_t maxBytes, SampleVolume& out, std::string& error) {
    if (!header.gzip)
        return readRawDataFile(header, path, file, maxBytes, out, error);
    if (file.size > maxBytes) {
        error = "its data file " + shownPath(path) + " holds " + std::to_string(file.size) +
                " bytes of gzip data, more than the memory allowed (" +
                std::to_string(maxBytes >> 20) + " MiB; raise --max-memory)";
        return false;
    }
    std::vector<uint8_t> data;
    if (!readDataBytes(file, path, 0, size_t(file.size), data, error))
        return false;
    return decodeNrrdData(header, std::move(data), 0, maxBytes, out, error);
}

} // namespace

bool readNrrd(const std::string& path, std::vector<uint8_t> bytes, int64_t maxBytes,
              SampleVolume& out, std::string& error, const std::string& output) {
    NrrdHeader header;
    if (!parseNrrdHeader(bytes.data(), bytes.size(), header, error))
        return false;
    if (header.dataFile.empty())
        return decodeNrrdData(header, std::move(bytes), header.headerEnd, maxBytes, out, error);
    bytes = std::vector<uint8_t>();
    std::string dataPath;
    DataFile file;
    if (!nrrdDataPath(path, header, dataPath, error) ||
        !openDataFile(dataPath, "data file", output, file, error))
        return false;
    const bool read = readDataFile(header, dataPath, file, maxBytes, out, error);
    closeDataFile(file);
    return read;
}

bool nrrdDataPath(const std::string& path, const NrrdHeader& header, std::string& dataPath,
                  std::string& error) {
    return dataFilePath(path, header.dataFile, dataPath, error);
}

namespace {

bool readNrrdSamples(const uint8_t* data, size_t size, const ReadOptions& options,
                     SampleVolume& out, std::string& reason) {
    if (!readNrrd(options.path, std::vector<uint8_t>(data, data + size), options.maxBytes, out,
                  reason, options.output))
        return false;
    // Said once the series is read, so that a refusal stays one line.
    NrrdHeader header;
    std::string ignored;
    if (parseNrrdHeader(data, size, header, ignored) && header.layout.extraSize > 1 &&
        !header.layout.extraIsColor)
        fprintf(stderr, "%s: note: %s holds a series of volumes; the first is read\n", programName,
                options.path);
    return true;
}

bool nrrdSecondFile(const char* path, const uint8_t* head, size_t size, std::string& second,
                    std::string& reason) {
    NrrdHeader header;
    second.clear();
    return parseNrrdHeader(head, size, header, reason) &&
           (header.dataFile.empty() || nrrdDataPath(path, header, second, reason));
}

// Raw samples, attached or in a raw detached data file, with no skipped
// lines: one block at a byte the header and the file's size fix.
// Enough for any header this reads in practice; a longer one is read whole.
constexpr size_t nrrdLocateHeadBytes = size_t(1) << 20;

bool locateNrrdSamples(const char* path, const ReadOptions& options, SampleVolume& out,
                       SamplePlace& place) {
    std::vector<uint8_t> head;
    std::string error;
    NrrdHeader header;
    if (!readFileHead(path, nrrdLocateHeadBytes, head, error) ||
        !parseNrrdHeader(head.data(), head.size(), header, error) || header.gzip ||
        header.lineSkip > 0 || header.layout.extraSize > 1)
        return false;
    place.path = path;
    if (!header.dataFile.empty() && !nrrdDataPath(path, header, place.path, error))
        return false;
    DataFile file;
    if (!openDataFile(place.path, "data file", options.output, file, error))
        return false;
    const size_t item = nrrdItemBytes(header);
    const int64_t count = checkedSampleCount(header.layout.dims, item, INT64_MAX);
    const int64_t before = header.dataFile.empty() ? int64_t(header.headerEnd) : 0;
    const int64_t skip = header.byteSkip == -1 ? 0 : header.byteSkip;
    int64_t needed = 0;
    // Detached raw data must be exactly the skip and the samples, as the
    // whole-file reader holds it to; attached data at least that.
    if (count < 0 || __builtin_mul_overflow(count, int64_t(item), &needed) ||
        needed > file.size - before || skip > file.size - before - needed ||
        (!header.dataFile.empty() && header.byteSkip != -1 && file.size != skip + needed)) {
        closeDataFile(file);
        return false;
    }
    describeSamples(header.layout, out);
    place.fd = file.fd;
    place.start = header.byteSkip == -1 ? file.size - needed : before + skip;
    place.bigEndian = header.layout.bigEndian;
    return true;
}

} // namespace

const char nrrdHelp[] = "volumes (.nrrd; .nhdr and the data file it names, in its folder or "
                        "below; raw or gzip; spacings or space directions, and space origin): "
                        "need --threshold, grey by value. A fourth axis of uint8 RGB-color or "
                        "RGBA-color is colours; any other, a series whose first volume is read.";

extern const InputFormat nrrdInput = {"NRRD",           {".nrrd", ".nhdr"},
                                      startsWithNrrd,   nullptr,
                                      readNrrdSamples,  ColorMode::grey,
                                      nullptr,          nrrdSecondFile,
                                      "NRRD",           nrrdHelp,
                                      nullptr,          nullptr,
                                      nullptr,          false,
                                      locateNrrdSamples};
