// Builds .vox files byte by byte for the tests and the fuzzing seeds.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void putU32(Bytes& out, uint32_t value) {
    for (int k = 0; k < 4; ++k)
        out.push_back(uint8_t(value >> (8 * k)));
}

inline void putString(Bytes& out, const std::string& text) {
    putU32(out, uint32_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

inline void putDict(Bytes& out, const std::map<std::string, std::string>& dict) {
    putU32(out, uint32_t(dict.size()));
    for (const auto& [key, value] : dict) {
        putString(out, key);
        putString(out, value);
    }
}

inline Bytes chunk(const char id[5], const Bytes& content, const Bytes& children = {}) {
    Bytes out(id, id + 4);
    putU32(out, uint32_t(content.size()));
    putU32(out, uint32_t(children.size()));
    out.insert(out.end(), content.begin(), content.end());
    out.insert(out.end(), children.begin(), children.end());
    return out;
}

inline Bytes sizeChunk(int x, int y, int z) {
    Bytes content;
    putU32(content, uint32_t(x));
    putU32(content, uint32_t(y));
    putU32(content, uint32_t(z));
    return chunk("SIZE", content);
}

// Voxels as x, y, z, colour index.
inline Bytes xyziChunk(const std::vector<std::array<uint8_t, 4>>& voxels) {
    Bytes content;
    putU32(content, uint32_t(voxels.size()));
    for (const auto& v : voxels)
        content.insert(content.end(), v.begin(), v.end());
    return chunk("XYZI", content);
}

inline Bytes transformChunk(int32_t id, int32_t child,
                            const std::map<std::string, std::string>& frame,
                            const std::map<std::string, std::string>& attributes = {},
                            int32_t layer = -1) {
    Bytes content;
    putU32(content, uint32_t(id));
    putDict(content, attributes);
    putU32(content, uint32_t(child));
    putU32(content, uint32_t(-1));
    putU32(content, uint32_t(layer));
    putU32(content, 1);
    putDict(content, frame);
    return chunk("nTRN", content);
}

inline Bytes groupChunk(int32_t id, const std::vector<int32_t>& children) {
    Bytes content;
    putU32(content, uint32_t(id));
    putDict(content, {});
    putU32(content, uint32_t(children.size()));
    for (int32_t child : children)
        putU32(content, uint32_t(child));
    return chunk("nGRP", content);
}

inline Bytes shapeChunk(int32_t id, int32_t model) {
    Bytes content;
    putU32(content, uint32_t(id));
    putDict(content, {});
    putU32(content, 1);
    putU32(content, uint32_t(model));
    putDict(content, {});
    return chunk("nSHP", content);
}

// The whole file: magic, version 150, and MAIN holding `children`.
inline Bytes voxFile(const std::vector<Bytes>& children) {
    Bytes inner;
    for (const Bytes& c : children)
        inner.insert(inner.end(), c.begin(), c.end());
    Bytes out = {'V', 'O', 'X', ' '};
    putU32(out, 150);
    Bytes main = chunk("MAIN", {}, inner);
    out.insert(out.end(), main.begin(), main.end());
    return out;
}
