#include "read/npy_reader.h"

#include "container/inflate_stream.h"
#include "container/quoted_text.h"
#include "convert/sample_grid.h"

#include <cstdio>

#include <cstring>
#include <map>

static bool startsWithNpyMagic(const uint8_t* data, size_t size) {
    return size >= 6 && memcmp(data, "\x93NUMPY", 6) == 0;
}

bool looksLikeNpy(const uint8_t* head, size_t size, const char* path) {
    return startsWithNpyMagic(head, size) || namedAs(head, size, path, ".npy");
}

bool looksLikeNpz(const uint8_t* head, size_t size, const char* path) {
    return (size >= 4 && memcmp(head, "PK\x03\x04", 4) == 0) || namedAs(head, size, path, ".npz");
}

namespace {

uint64_t readLittle(const uint8_t* at, int bytes) {
    uint64_t value = 0;
    for (int n = bytes - 1; n >= 0; --n)
        value = (value << 8) | at[n];
    return value;
}

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

bool parseNpy(const uint8_t* data, size_t size, int64_t maxBytes, SampleVolume& out,
              std::string& error) {
    if (!startsWithNpyMagic(data, size) || size < 10) {
        error = "not a NumPy .npy file (it does not begin with \\x93NUMPY and a version)";
        return false;
    }
    int major = data[6];
    size_t headerLength = 0;
    size_t headerStart = 0;
    if (major == 1) {
        headerLength = size_t(readLittle(data + 8, 2));
        headerStart = 10;
    } else if (major == 2 || major == 3) {
        if (size < 12) {
            error = "the .npy header is cut short";
            return false;
        }
        headerLength = size_t(readLittle(data + 8, 4));
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
    bool bigEndian = false;
    if (!decodeDescr(fields["descr"].string, type, bigEndian)) {
        error = "the array's dtype " + quotedText(fields["descr"].string, 20) +
                " is not one this reads (bool, int8 to int64, uint8 to uint64, float32, "
                "float64)";
        return false;
    }
    const std::vector<int64_t>& shape = fields["shape"].numbers;
    if (shape.size() != 3) {
        error =
            "the array has " + std::to_string(shape.size()) + " dimensions; a voxel grid needs 3";
        return false;
    }
    out = SampleVolume();
    for (int a = 0; a < 3; ++a)
        out.dims[a] = shape[a];
    if (shape[0] == 0 || shape[1] == 0 || shape[2] == 0) {
        error = "the array is empty (its shape has a 0)";
        return false;
    }
    size_t item = sampleTypeSize(type);
    int64_t count = checkedSampleCount(out.dims, item, maxBytes);
    if (count < 0) {
        error = memoryRefusal("the array's shape", claimedSampleBytes(out.dims, item), maxBytes);
        return false;
    }
    size_t dataStart = headerStart + headerLength;
    uint64_t needed = uint64_t(count) * item;
    if (size - dataStart != needed) {
        error = "the array's data holds " + std::to_string(size - dataStart) +
                " bytes; its shape and dtype need " + std::to_string(needed);
        return false;
    }
    out.type = type;
    out.meaning = type == SampleType::boolean ? SampleMeaning::occupancy
                  : sampleTypeIsFloat(type)   ? SampleMeaning::values
                                              : SampleMeaning::labels;
    setSampleOrder(out, fields["fortran_order"].flag);
    const uint8_t* samples = data + dataStart;
    const bool machineBig = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
    if ((item == 1 || bigEndian == machineBig) &&
        reinterpret_cast<uintptr_t>(samples) % item == 0) {
        out.borrowed = samples;
        return true;
    }
    out.storage.assign(samples, samples + needed);
    toNativeByteOrder(out.storage.data(), size_t(count), item, bigEndian);
    return true;
}

namespace {

struct ZipMember {
    std::string name;
    int method = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localOffset = 0;
};

// Finds the end-of-central-directory record (and its zip64 form) and reads
// the first central-directory entry.
bool firstZipMember(const uint8_t* data, size_t size, ZipMember& member, uint64_t& members,
                    std::string& error) {
    if (size < 22) {
        error = "the zip archive is cut short";
        return false;
    }
    size_t end = size - 22;
    size_t lowest = size > 22 + 65535 ? size - 22 - 65535 : 0;
    for (;;) {
        if (memcmp(data + end, "PK\x05\x06", 4) == 0)
            break;
        if (end == lowest) {
            error = "the zip archive has no central directory (is it cut short?)";
            return false;
        }
        --end;
    }
    uint64_t entries = readLittle(data + end + 10, 2);
    uint64_t directory = readLittle(data + end + 16, 4);
    if (directory == 0xffffffffu || entries == 0xffff) {
        // zip64: the locator just before the record points at the larger one.
        if (end < 20 || memcmp(data + end - 20, "PK\x06\x07", 4) != 0) {
            error = "the zip64 archive has no zip64 directory locator";
            return false;
        }
        uint64_t record = readLittle(data + end - 20 + 8, 8);
        if (record > size || size - record < 56 || memcmp(data + record, "PK\x06\x06", 4) != 0) {
            error = "the zip64 directory record is missing";
            return false;
        }
        entries = readLittle(data + record + 32, 8);
        directory = readLittle(data + record + 48, 8);
    }
    if (entries == 0) {
        error = "the zip archive holds no arrays";
        return false;
    }
    members = entries;
    if (directory > size || size - directory < 46 ||
        memcmp(data + directory, "PK\x01\x02", 4) != 0) {
        error = "the zip archive's central directory is damaged";
        return false;
    }
    const uint8_t* entry = data + directory;
    int flags = int(readLittle(entry + 8, 2));
    member.method = int(readLittle(entry + 10, 2));
    member.compressedSize = readLittle(entry + 20, 4);
    member.size = readLittle(entry + 24, 4);
    size_t nameLength = size_t(readLittle(entry + 28, 2));
    size_t extraLength = size_t(readLittle(entry + 30, 2));
    member.localOffset = readLittle(entry + 42, 4);
    if (size - directory - 46 < nameLength + extraLength) {
        error = "the zip archive's central directory is damaged";
        return false;
    }
    member.name.assign(reinterpret_cast<const char*>(entry + 46), nameLength);
    if (flags & 1) {
        error = "the zip archive is encrypted";
        return false;
    }
    // A zip64 extra field holds, in this order, those of the sizes and the
    // offset that did not fit their 32-bit fields.
    const uint8_t* extra = entry + 46 + nameLength;
    size_t at = 0;
    while (at + 4 <= extraLength) {
        uint64_t id = readLittle(extra + at, 2);
        size_t length = size_t(readLittle(extra + at + 2, 2));
        if (length > extraLength - at - 4)
            break;
        if (id == 1) {
            const uint8_t* field = extra + at + 4;
            size_t used = 0;
            uint64_t* wide[3] = {&member.size, &member.compressedSize, &member.localOffset};
            for (uint64_t* value : wide)
                if (*value == 0xffffffffu) {
                    if (used + 8 > length) {
                        error = "the zip64 sizes of the first member are missing";
                        return false;
                    }
                    *value = readLittle(field + used, 8);
                    used += 8;
                }
        }
        at += 4 + length;
    }
    return true;
}

} // namespace

bool parseNpz(const uint8_t* data, size_t size, int64_t maxBytes, SampleVolume& out,
              std::string& memberName, uint64_t& members, std::string& error) {
    ZipMember member;
    if (!firstZipMember(data, size, member, members, error))
        return false;
    memberName = member.name;
    const std::string shownName = quotedText(member.name);
    if (member.localOffset > size || size - member.localOffset < 30 ||
        memcmp(data + member.localOffset, "PK\x03\x04", 4) != 0) {
        error = "the zip member " + shownName + " is not where the directory says";
        return false;
    }
    const uint8_t* local = data + member.localOffset;
    uint64_t start =
        member.localOffset + 30 + readLittle(local + 26, 2) + readLittle(local + 28, 2);
    if (start > size || size - start < member.compressedSize) {
        error = "the zip member " + shownName + " is cut short";
        return false;
    }
    if (member.size > uint64_t(maxBytes) + 4096) {
        error = memoryRefusal("the zip member " + shownName, member.size, maxBytes);
        return false;
    }
    std::vector<uint8_t> bytes;
    if (member.method == 0) {
        if (member.compressedSize != member.size) {
            error = "the stored zip member " + shownName + " has two different sizes";
            return false;
        }
        bytes.assign(data + start, data + start + member.size);
    } else if (member.method == 8) {
        if (!inflateStated(data + start, size_t(member.compressedSize), DeflateWrapper::raw,
                           size_t(member.size), bytes, error)) {
            error = "the zip member " + shownName + ": " + error;
            return false;
        }
        if (bytes.size() != member.size) {
            error = "the zip member " + shownName + " inflates to another size than stated";
            return false;
        }
    } else {
        error = "the zip member " + shownName + " uses compression method " +
                std::to_string(member.method) + "; only stored and deflated members are read";
        return false;
    }
    if (!parseNpy(bytes.data(), bytes.size(), maxBytes, out, error)) {
        error = "the zip member " + shownName + ": " + error;
        return false;
    }
    // Moving the buffer keeps its address, so what the volume borrows stays.
    if (out.borrowed)
        out.storage = std::move(bytes);
    return true;
}

bool readNpyGrid(const uint8_t* data, size_t size, const GridReadOptions& options, VoxelGrid& out,
                 std::string& error) {
    SampleVolume volume;
    if (!parseNpy(data, size, options.maxBytes, volume, error))
        return refuseFile(options, "NumPy .npy", error);
    return samplesToGrid(volume, false, options, out, error);
}

bool readNpzGrid(const uint8_t* data, size_t size, const GridReadOptions& options, VoxelGrid& out,
                 std::string& error) {
    SampleVolume volume;
    std::string member;
    uint64_t members = 0;
    if (!parseNpz(data, size, options.maxBytes, volume, member, members, error))
        return refuseFile(options, "NumPy .npz", error);
    if (members > 1)
        fprintf(stderr, "vxlconv: note: %s: read the array %s, the first of the archive's %llu\n",
                options.path, quotedText(member).c_str(), static_cast<unsigned long long>(members));
    return samplesToGrid(volume, false, options, out, error);
}
