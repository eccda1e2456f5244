#include "read/dicom_elements.h"

#include "container/inflate_stream.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t undefinedLength = 0xffffffff;
constexpr int deepest = 64;

struct Walk {
    const uint8_t* data;
    bool explicitVr, little;
    std::string problem;
};

uint32_t number(const Walk& w, size_t at, int bytes) {
    uint32_t value = 0;
    for (int b = 0; b < bytes; ++b)
        value |= uint32_t(w.data[at + size_t(b)]) << (8 * (w.little ? b : bytes - 1 - b));
    return value;
}

std::string tagName(uint32_t group, uint32_t element) {
    char text[16];
    snprintf(text, sizeof text, "(%04X,%04X)", group, element);
    return text;
}

bool fail(Walk& w, const std::string& problem) {
    w.problem = problem;
    return false;
}

bool knownVr(const uint8_t* vr) {
    static const char known[] =
        "AEASATCSDADSDTFLFDISLOLTOBODOFOLOVOWPNSHSLSQSSSTSVTMUCUIULUNURUSUTUV";
    for (size_t at = 0; at + 2 <= sizeof known - 1; at += 2)
        if (memcmp(vr, known + at, 2) == 0)
            return true;
    return false;
}

// Value representations whose explicit header has a 4-byte length.
bool longLength(const uint8_t* vr) {
    static const char* const vrs[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                      "SV", "UC", "UN", "UR", "UT", "UV"};
    for (const char* v : vrs)
        if (memcmp(vr, v, 2) == 0)
            return true;
    return false;
}

// Passes over the fragments that start at `at`, and their delimiter.
bool skipFragments(Walk& w, size_t& at, size_t end) {
    while (end - at >= 8) {
        const uint32_t group = number(w, at, 2), element = number(w, at + 2, 2);
        const uint32_t length = number(w, at + 4, 4);
        at += 8;
        if (group == 0xfffe && element == 0xe0dd)
            return true;
        if (group != 0xfffe || element != 0xe000)
            return fail(w, "has compressed pixel data whose fragments are damaged");
        if (length > end - at)
            return fail(w, "has a fragment of compressed pixel data that claims " +
                               std::to_string(length) + " bytes; " + std::to_string(end - at) +
                               " follow it");
        at += length;
    }
    return fail(w, "has compressed pixel data that ends before its last fragment");
}

// Walks the elements in [at, end): a sequence of explicit VR descends into
// its items; an item of stated length is walked within it; undefined
// lengths go on inline up to their delimiters. `stopGroup`, when set, ends
// the walk at the first element of another group (the meta header's end).
bool walk(Walk& w, size_t at, size_t end, int depth, size_t* stoppedAt = nullptr,
          int stopGroup = -1) {
    if (depth > deepest)
        return fail(w, "nests its sequences more than 64 deep");
    while (at < end) {
        if (end - at < 8)
            return fail(w, "ends inside an element's header");
        const uint32_t group = number(w, at, 2), element = number(w, at + 2, 2);
        if (stopGroup >= 0 && int(group) != stopGroup)
            break;
        if (group == 0xfffe) {
            const uint32_t length = number(w, at + 4, 4);
            at += 8;
            if (element == 0xe0dd || element == 0xe00d)
                continue;
            if (element != 0xe000)
                return fail(w, "has an item tag " + tagName(group, element) + " it cannot hold");
            if (length == undefinedLength)
                continue;
            if (length > end - at)
                return fail(w, "has an item that claims " + std::to_string(length) + " bytes; " +
                                   std::to_string(end - at) + " follow it");
            if (!walk(w, at, at + length, depth + 1))
                return false;
            at += length;
            continue;
        }
        uint32_t length;
        bool sequence = false, binary = false;
        if (w.explicitVr) {
            const uint8_t* vr = w.data + at + 4;
            if (!knownVr(vr))
                return fail(w, "has an element " + tagName(group, element) +
                                   " with no value representation it could have");
            if (longLength(vr)) {
                if (end - at < 12)
                    return fail(w, "ends inside an element's header");
                length = number(w, at + 8, 4);
                sequence = memcmp(vr, "SQ", 2) == 0;
                binary = memcmp(vr, "OB", 2) == 0 || memcmp(vr, "OW", 2) == 0;
                at += 12;
            } else {
                length = number(w, at + 6, 2);
                at += 8;
            }
        } else {
            length = number(w, at + 4, 4);
            at += 8;
        }
        if (length == undefinedLength && (group == 0x7fe0 || binary)) {
            // Encapsulated pixel data: fragments of compressed bytes, each
            // an item of stated length, up to the sequence delimiter.
            if (!skipFragments(w, at, end))
                return false;
            continue;
        }
        if (length == undefinedLength)
            continue;
        if (length > end - at)
            return fail(w, "has an element " + tagName(group, element) + " that claims " +
                               std::to_string(length) + " bytes; " + std::to_string(end - at) +
                               " follow it");
        if (sequence && !walk(w, at, at + length, depth + 1))
            return false;
        at += length;
    }
    if (stoppedAt)
        *stoppedAt = at;
    return true;
}

} // namespace

bool dicomBytesFit(const uint8_t* data, size_t size, int64_t maxBytes, std::string& problem) {
    if (size < 132 || memcmp(data + 128, "DICM", 4) != 0) {
        problem = "is not a DICOM file (no \"DICM\" at byte 128)";
        return false;
    }
    // The meta header: explicit VR little endian, group 0002 alone.
    Walk meta{data, true, true, ""};
    size_t metaEnd = 132;
    if (!walk(meta, 132, size, 0, &metaEnd, 0x0002)) {
        problem = meta.problem;
        return false;
    }
    // The transfer syntax (0002,0010) says how the data set is written.
    std::string syntax;
    for (size_t at = 132; at + 8 <= metaEnd;) {
        const uint32_t element = number(meta, at + 2, 2);
        const bool longHeader = longLength(data + at + 4);
        const size_t header = longHeader ? 12 : 8;
        const uint32_t length = longHeader ? number(meta, at + 8, 4) : number(meta, at + 6, 2);
        if (length == undefinedLength || at + header + length > metaEnd)
            break;
        if (element == 0x0010)
            syntax.assign(reinterpret_cast<const char*>(data + at + header), length);
        at += header + length;
    }
    while (!syntax.empty() && (syntax.back() == '\0' || syntax.back() == ' '))
        syntax.pop_back();
    Walk set{data, syntax != "1.2.840.10008.1.2", syntax != "1.2.840.10008.1.2.2", ""};
    if (syntax == "1.2.840.10008.1.2.1.99") {
        std::vector<uint8_t> inflated;
        std::string error;
        if (!inflateStream(data + metaEnd, size - metaEnd, DeflateWrapper::raw, size_t(maxBytes),
                           inflated, error)) {
            problem = "has a deflated data set that does not inflate: " + error;
            return false;
        }
        set.data = inflated.data();
        if (!walk(set, 0, inflated.size(), 0)) {
            problem = set.problem;
            return false;
        }
        return true;
    }
    if (!walk(set, metaEnd, size, 0)) {
        problem = set.problem;
        return false;
    }
    return true;
}

bool dicomElementsFit(const std::string& path, int64_t maxBytes, std::string& problem) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0)
            close(fd);
        problem = "cannot be opened as a regular file";
        return false;
    }
    if (info.st_size > maxBytes) {
        close(fd);
        problem = "is larger than the memory allowed";
        return false;
    }
    std::vector<uint8_t> bytes(size_t(info.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = pread(fd, bytes.data() + got, bytes.size() - got, off_t(got));
        if (n <= 0)
            break;
        got += size_t(n);
    }
    close(fd);
    if (got != bytes.size()) {
        problem = "cannot be read whole";
        return false;
    }
    return dicomBytesFit(bytes.data(), bytes.size(), maxBytes, problem);
}
