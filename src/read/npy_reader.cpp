#include "read/npy_reader.h"

#include "container/byte_order.h"
#include "container/quoted_text.h"
#include "container/zip.h"
#include "platform/input_file.h"
#include "platform/program_name.h"
#include "read/data_file.h"
#include "read/memory_refusal.h"

#include <cstdio>

#include <cstring>
#include <map>

bool startsWithNpy(const uint8_t* head, size_t size) {
    return size >= 6 && memcmp(head, "\x93NUMPY", 6) == 0;
}

namespace {

// The header is a Python dictionary literal with string keys; its values are
// strings, True / False, or tuples of whole numbers. This reads just that.
struct HeaderValue {
    enum Kind { text, boolean, tuple } kind = text;
    std::string string;
    bool flag = false;
    std::vector<int64_t> numbers;
};

struct HeaderScanner {
    const std::string& s;
    size_t pos = 0;
};

void skipBlanks(HeaderScanner& sc) {
    while (sc.pos < sc.s.size() && (sc.s[sc.pos] == ' ' || sc.s[sc.pos] == '\t' ||
                                    sc.s[sc.pos] == '\n' || sc.s[sc.pos] == '\r'))
        ++sc.pos;
}

bool take(HeaderScanner& sc, char c) {
    skipBlanks(sc);
    if (sc.pos < sc.s.size() && sc.s[sc.pos] == c) {
        ++sc.pos;
        return true;
    }
    return false;
}

bool quoted(HeaderScanner& sc, std::string& out) {
    skipBlanks(sc);
    if (sc.pos >= sc.s.size() || (sc.s[sc.pos] != '\'' && sc.s[sc.pos] != '"'))
        return false;
    char quote = sc.s[sc.pos++];
    size_t end = sc.s.find(quote, sc.pos);
    if (end == std::string::npos)
        return false;
    out = sc.s.substr(sc.pos, end - sc.pos);
    sc.pos = end + 1;
    return true;
}

bool wholeNumber(HeaderScanner& sc, int64_t& out) {
    skipBlanks(sc);
    size_t start = sc.pos;
    int64_t value = 0;
    while (sc.pos < sc.s.size() && sc.s[sc.pos] >= '0' && sc.s[sc.pos] <= '9') {
        if (value > (INT64_MAX - 9) / 10)
            return false;
        value = value * 10 + (sc.s[sc.pos++] - '0');
    }
    // Python 2 wrote long integers with an L.
    if (sc.pos < sc.s.size() && sc.s[sc.pos] == 'L')
        ++sc.pos;
    out = value;
    return sc.pos > start;
}

bool headerValue(HeaderScanner& sc, HeaderValue& out) {
    skipBlanks(sc);
    if (sc.pos >= sc.s.size())
        return false;
    char c = sc.s[sc.pos];
    if (c == '\'' || c == '"') {
        out.kind = HeaderValue::text;
        return quoted(sc, out.string);
    }
    if (sc.s.compare(sc.pos, 4, "True") == 0 || sc.s.compare(sc.pos, 5, "False") == 0) {
        out.kind = HeaderValue::boolean;
        out.flag = c == 'T';
        sc.pos += out.flag ? 4 : 5;
        return true;
    }
    if (c == '(') {
        ++sc.pos;
        out.kind = HeaderValue::tuple;
        for (;;) {
            if (take(sc, ')'))
                return true;
            int64_t n = 0;
            if (!wholeNumber(sc, n) || out.numbers.size() >= 64)
                return false;
            out.numbers.push_back(n);
            if (take(sc, ','))
                continue;
            return take(sc, ')');
        }
    }
    // Anything else (a list of fields for a structured dtype, for one) is not
    // a plain array.
    return false;
}

bool parseHeader(const std::string& text, std::map<std::string, HeaderValue>& fields) {
    HeaderScanner sc{text};
    if (!take(sc, '{'))
        return false;
    for (;;) {
        if (take(sc, '}'))
            break;
        std::string key;
        HeaderValue value;
        if (!quoted(sc, key) || !take(sc, ':') || !headerValue(sc, value))
            return false;
        fields[key] = value;
        if (take(sc, ','))
            continue;
        if (!take(sc, '}'))
            return false;
        break;
    }
    skipBlanks(sc);
    return sc.pos == text.size();
}

// "<f8", "|u1", ">i2", "|b1", "?"...: byte order, kind and size.
bool decodeDescr(const std::string& descr, SampleType& type, bool& bigEndian) {
    std::string d = descr;
    bigEndian = false;
    if (!d.empty() && (d[0] == '<' || d[0] == '>' || d[0] == '|' || d[0] == '=')) {
        bigEndian = d[0] == '>';
        d = d.substr(1);
    }
    static const std::map<std::string, SampleType> types = {
        {"?", SampleType::boolean}, {"b1", SampleType::boolean}, {"i1", SampleType::int8},
        {"u1", SampleType::uint8},  {"i2", SampleType::int16},   {"u2", SampleType::uint16},
        {"i4", SampleType::int32},  {"u4", SampleType::uint32},  {"i8", SampleType::int64},
        {"u8", SampleType::uint64}, {"f4", SampleType::float32}, {"f8", SampleType::float64},
        {"b", SampleType::int8},    {"B", SampleType::uint8},
    };
    auto found = types.find(d);
    if (found == types.end())
        return false;
    type = found->second;
    return true;
}

} // namespace

namespace {

// The header at the start of `data` (at least all of it), for a file of
// `fileSize` bytes: `out` without its samples, where they start and their
// byte order.
bool parseNpyHeader(const uint8_t* data, size_t size, uint64_t fileSize, int64_t maxBytes,
                    SampleVolume& out, size_t& dataStart, bool& bigEndian, std::string& error) {
    if (!startsWithNpy(data, size) || size < 10) {
        error = "not a NumPy .npy file (it does not begin with \\x93NUMPY and a version)";
        return false;
    }
    int major = data[6];
    size_t headerLength = 0;
    size_t headerStart = 0;
    if (major == 1) {
        headerLength = size_t(readLittleEndian(data + 8, 2));
        headerStart = 10;
    } else if (major == 2 || major == 3) {
        if (size < 12) {
            error = "the .npy header is cut short";
            return false;
        }
        headerLength = size_t(readLittleEndian(data + 8, 4));
        headerStart = 12;
    } else {
        error =
            "the .npy format version " + std::to_string(major) + " is not one this reads (1 to 3)";
        return false;
    }
    if (headerLength > size - headerStart) {
        error = "the .npy header is cut short";
        return false;
    }
    std::string text(reinterpret_cast<const char*>(data + headerStart), headerLength);
    std::map<std::string, HeaderValue> fields;
    if (!parseHeader(text, fields) || !fields.count("descr") || !fields.count("shape") ||
        !fields.count("fortran_order") || fields["descr"].kind != HeaderValue::text ||
        fields["shape"].kind != HeaderValue::tuple ||
        fields["fortran_order"].kind != HeaderValue::boolean) {
        error = "the .npy header is not a plain array's (descr, fortran_order, shape)";
        return false;
    }
    SampleType type;
    bigEndian = false;
    if (!decodeDescr(fields["descr"].string, type, bigEndian)) {
        error = "the array's dtype " + quotedText(fields["descr"].string, 20) +
                " is not one this reads (bool, int8 to int64, uint8 to uint64, float32, "
                "float64)";
        return false;
    }
    const std::vector<int64_t>& shape = fields["shape"].numbers;
    // (X, Y, Z, 3 or 4) bytes: a colour for each sample, RGB or RGBA.
    const bool colors =
        shape.size() == 4 && (shape[3] == 3 || shape[3] == 4) && type == SampleType::uint8;
    if (shape.size() != 3 && !colors) {
        error = "the array has " + std::to_string(shape.size()) +
                " dimensions; a voxel grid needs 3 (or a last of 3 or 4 uint8 colour channels)";
        return false;
    }
    out = SampleVolume();
    for (int a = 0; a < 3; ++a)
        out.dims[a] = shape[a];
    if (shape[0] == 0 || shape[1] == 0 || shape[2] == 0) {
        error = "the array is empty (its shape has a 0)";
        return false;
    }
    const int channels = colors ? int(shape[3]) : 1;
    // A sample's channels together count as one item.
    size_t item = sampleTypeSize(type) * size_t(channels);
    int64_t count = checkedSampleCount(out.dims, item, maxBytes);
    if (count < 0) {
        error = memoryRefusal("the array's shape", claimedSampleBytes(out.dims, item), maxBytes);
        return false;
    }
    dataStart = headerStart + headerLength;
    uint64_t needed = uint64_t(count) * item;
    if (fileSize - dataStart != needed) {
        error = "the array's data holds " + std::to_string(fileSize - dataStart) +
                " bytes; its shape and dtype need " + std::to_string(needed);
        return false;
    }
    out.type = type;
    out.meaning = type == SampleType::boolean ? SampleMeaning::occupancy
                  : sampleTypeIsFloat(type)   ? SampleMeaning::values
                                              : SampleMeaning::labels;
    if (colors)
        setColorChannels(out, channels, fields["fortran_order"].flag);
    else
        setSampleOrder(out, fields["fortran_order"].flag);
    return true;
}

} // namespace

bool parseNpy(const uint8_t* data, size_t size, int64_t maxBytes, SampleVolume& out,
              std::string& error) {
    size_t dataStart = 0;
    bool bigEndian = false;
    if (!parseNpyHeader(data, size, size, maxBytes, out, dataStart, bigEndian, error))
        return false;
    const SampleType type = out.type;
    const int64_t channels = out.channels;
    const uint64_t count = uint64_t(out.dims[0] * out.dims[1] * out.dims[2]);
    const uint64_t needed = count * sampleTypeSize(type) * uint64_t(channels);
    const uint8_t* samples = data + dataStart;
    const bool machineBig = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
    const size_t sampleSize = sampleTypeSize(type);
    if ((sampleSize == 1 || bigEndian == machineBig) &&
        reinterpret_cast<uintptr_t>(samples) % sampleSize == 0) {
        out.borrowed = samples;
        return true;
    }
    out.storage.assign(samples, samples + needed);
    toNativeByteOrder(out.storage.data(), size_t(count) * size_t(channels), sampleSize, bigEndian);
    return true;
}

bool parseNpz(const uint8_t* data, size_t size, int64_t maxBytes, SampleVolume& out,
              std::string& memberName, uint64_t& members, std::string& error) {
    ZipMember member;
    if (!firstZipMember(data, size, member, members, error) ||
        !locateZipMember(data, size, member, error))
        return false;
    memberName = member.name;
    const std::string shownName = quotedText(member.name);
    if (member.size > uint64_t(maxBytes) + 4096) {
        error = memoryRefusal("the zip member " + shownName, member.size, maxBytes);
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!zipMemberBytes(data, member, bytes, error))
        return false;
    if (!parseNpy(bytes.data(), bytes.size(), maxBytes, out, error)) {
        error = "the zip member " + shownName + ": " + error;
        return false;
    }
    // Moving the buffer keeps its address, so what the volume borrows stays.
    if (out.borrowed)
        out.storage = std::move(bytes);
    return true;
}

namespace {

// Enough for the header of any array this reads.
constexpr size_t npyLocateHeadBytes = size_t(1) << 16;

bool readNpySamples(const uint8_t* data, size_t size, const ReadOptions& options, SampleVolume& out,
                    std::string& reason) {
    return parseNpy(data, size, options.maxBytes, out, reason);
}

bool readNpzSamples(const uint8_t* data, size_t size, const ReadOptions& options, SampleVolume& out,
                    std::string& reason) {
    std::string member;
    uint64_t members = 0;
    if (!parseNpz(data, size, options.maxBytes, out, member, members, reason))
        return false;
    if (members > 1)
        fprintf(stderr, "%s: note: %s: read the array %s, the first of the archive's %llu\n",
                programName, options.path, quotedText(member).c_str(),
                static_cast<unsigned long long>(members));
    return true;
}

// The samples after the header, when the file holds exactly what the
// shape and dtype need.
bool locateNpySamples(const char* path, const ReadOptions& options, SampleVolume& out,
                      SamplePlace& place) {
    std::vector<uint8_t> head;
    std::string error;
    DataFile file;
    if (!readFileHead(path, npyLocateHeadBytes, head, error) ||
        !openDataFile(path, "file", options.output, file, error))
        return false;
    size_t start = 0;
    if (!parseNpyHeader(head.data(), head.size(), uint64_t(file.size), INT64_MAX, out, start,
                        place.bigEndian, error)) {
        closeDataFile(file);
        return false;
    }
    place.path = path;
    place.fd = file.fd;
    place.start = int64_t(start);
    return true;
}

} // namespace

const char numpyTitle[] = "NumPy .npy, .npz";
const char numpyHelp[] =
    "a 3-D array (an .npz archive's first, stored or deflated) of bool, "
    "integers or floats, C or Fortran order, either byte order; element "
    "[i][j][k] at (i, j, k). Nonzero elements are voxels: bool coloured by "
    "height, integers as labels (a fixed palette, 0 empty); floats need "
    "--threshold and take the colour map. A uint8 array of shape (X, Y, Z, 3 or "
    "4) is colours: RGB, or RGBA; black or transparent is empty.";

extern const InputFormat npyInput = {"NumPy .npy",   {".npy"},       startsWithNpy,   nullptr,
                                     readNpySamples, ColorMode::map, nullptr,         nullptr,
                                     numpyTitle,     numpyHelp,      nullptr,         nullptr,
                                     nullptr,        false,          locateNpySamples};

extern const InputFormat npzInput = {"NumPy .npz",   {".npz"},       startsWithZip, nullptr,
                                     readNpzSamples, ColorMode::map, nullptr,       nullptr,
                                     numpyTitle,     numpyHelp};
