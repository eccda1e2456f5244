#include "read/vdb_header.h"

#include <cstring>

namespace {

// The first file version whose grid descriptors name an instance parent,
// the last of their three strings.
constexpr uint32_t instancingVersion = 216;

struct Cursor {
    const uint8_t* data;
    size_t size, at;
};

template <typename T> bool take(Cursor& c, T& value) {
    if (c.size - c.at < sizeof value)
        return false;
    memcpy(&value, c.data + c.at, sizeof value); // stored least significant first
    c.at += sizeof value;
    return true;
}

bool skip(Cursor& c, uint64_t bytes) {
    if (c.size - c.at < bytes)
        return false;
    c.at += size_t(bytes);
    return true;
}

// A string: its length, then its bytes.
bool takeString(Cursor& c, std::string* text) {
    uint32_t length;
    if (!take(c, length) || c.size - c.at < length)
        return false;
    if (text)
        text->assign(reinterpret_cast<const char*>(c.data + c.at), length);
    c.at += length;
    return true;
}

} // namespace

bool vdbGridsFit(const uint8_t* data, size_t size, std::string& reason) {
    Cursor c{data, size, 0};
    uint64_t magic;
    uint32_t version, major, minor, count;
    uint8_t hasOffsets;
    reason = "it ends before its header does";
    if (!take(c, magic) || !take(c, version))
        return false;
    if (version < instancingVersion)
        return true;
    if (!take(c, major) || !take(c, minor) || !take(c, hasOffsets) || !skip(c, 36))
        return false;
    if (!hasOffsets)
        return true;
    reason = "it ends before its metadata does";
    if (!take(c, count))
        return false;
    for (uint32_t n = 0; n < count; ++n) {
        uint32_t valueBytes;
        if (!takeString(c, nullptr) || !takeString(c, nullptr) || !take(c, valueBytes) ||
            !skip(c, valueBytes))
            return false;
    }
    reason = "it ends before its list of grids does";
    if (!take(c, count))
        return false;
    for (uint32_t n = 0; n < count; ++n) {
        std::string name;
        int64_t gridAt, blockAt, endAt;
        if (!takeString(c, &name) || !takeString(c, nullptr) || !takeString(c, nullptr) ||
            !take(c, gridAt) || !take(c, blockAt) || !take(c, endAt))
            return false;
        for (char& ch : name)
            if (ch < ' ' || ch > '~')
                ch = '?';
        if (gridAt != int64_t(c.at) || blockAt < gridAt || endAt < blockAt) {
            reason = "its grid \"" + name + "\" is placed where its descriptor cannot be";
            return false;
        }
        if (uint64_t(endAt) > size) {
            reason = "it ends before its grid \"" + name + "\" does: it holds " +
                     std::to_string(size) + " bytes, the grid ends at " + std::to_string(endAt);
            return false;
        }
        c.at = size_t(endAt);
    }
    return true;
}
