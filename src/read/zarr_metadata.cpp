#include "read/zarr_metadata.h"

#include "read/memory_refusal.h"
#include "read/zarr_json.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using nlohmann::json;

namespace {

// Arrays of more axes than this are no volume anyone stores.
constexpr size_t mostAxes = 32;

bool refuse(std::string& reason, const std::string& text) {
    reason = text;
    return false;
}

bool readShape(const json* field, const char* name, bool chunk, std::vector<int64_t>& out,
               std::string& reason) {
    out.clear();
    if (!field || !field->is_array() || field->empty() || field->size() > mostAxes)
        return refuse(reason, std::string("its ") + name + " is " +
                                  (field ? jsonShown(*field) : "missing") +
                                  ", not a list of 1 to " + std::to_string(mostAxes) + " sizes");
    for (const json& value : *field) {
        int64_t n = 0;
        if (!jsonInteger(value, n) || n < (chunk ? 1 : 0))
            return refuse(reason, std::string("its ") + name + " holds " + jsonShown(value) +
                                      (chunk ? ", not a size of at least 1" : ", not a size"));
        out.push_back(n);
    }
    return true;
}

// numpy's type strings as .zarray writes them: "<u2", ">f8", "|b1".
bool readV2Type(const json* field, SampleType& type, bool& bigEndian, std::string& reason) {
    static const struct {
        const char* code;
        SampleType type;
    } types[] = {
        {"b1", SampleType::boolean}, {"i1", SampleType::int8},   {"u1", SampleType::uint8},
        {"i2", SampleType::int16},   {"u2", SampleType::uint16}, {"i4", SampleType::int32},
        {"u4", SampleType::uint32},  {"i8", SampleType::int64},  {"u8", SampleType::uint64},
        {"f4", SampleType::float32}, {"f8", SampleType::float64}};
    const std::string text = field && field->is_string() ? field->get<std::string>() : "";
    if (text.size() == 3 && strchr("<>|=", text[0]))
        for (const auto& entry : types)
            if (text.compare(1, 2, entry.code) == 0) {
                type = entry.type;
                bigEndian = text[0] == '>';
                return true;
            }
    return refuse(reason, "its dtype " + (field ? jsonShown(*field) : std::string("is missing")) +
                              " is not one vxlconv reads (bool, integers of 8 to 64 bits, "
                              "float32 or float64)");
}

bool readV3Type(const json* field, SampleType& type, std::string& reason) {
    const std::string text = field && field->is_string() ? field->get<std::string>() : "";
    if (text == "bool") {
        type = SampleType::boolean;
        return true;
    }
    for (SampleType candidate :
         {SampleType::int8, SampleType::uint8, SampleType::int16, SampleType::uint16,
          SampleType::int32, SampleType::uint32, SampleType::int64, SampleType::uint64,
          SampleType::float32, SampleType::float64})
        if (text == sampleTypeName(candidate)) {
            type = candidate;
            return true;
        }
    return refuse(reason, "its data_type " +
                              (field ? jsonShown(*field) : std::string("is missing")) +
                              " is not one vxlconv reads (bool, integers of 8 to 64 bits, "
                              "float32 or float64)");
}

template <typename T> void storeFill(T value, uint8_t* fill) {
    memcpy(fill, &value, sizeof value);
}

// The fill value as one sample: null is 0; floats may be "NaN", "Infinity",
// "-Infinity" or (v3) the bits in hexadecimal.
bool readFill(const json* field, SampleType type, uint8_t* fill, std::string& reason) {
    memset(fill, 0, 8);
    if (!field || field->is_null())
        return true;
    const std::string refusal =
        "its fill_value " + jsonShown(*field) + " is no " + sampleTypeName(type) + " value";
    if (type == SampleType::boolean) {
        if (field->is_boolean() || field->is_number_integer()) {
            fill[0] = field->is_boolean() ? field->get<bool>() : field->get<int64_t>() != 0;
            return true;
        }
        return refuse(reason, refusal);
    }
    if (sampleTypeIsFloat(type)) {
        double value = 0;
        if (field->is_string() && field->get_ref<const std::string&>().rfind("0x", 0) == 0) {
            const std::string& hex = field->get_ref<const std::string&>();
            const size_t digits = sampleTypeSize(type) * 2;
            if (hex.size() != digits + 2 ||
                hex.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos)
                return refuse(reason, refusal);
            const uint64_t bits = std::stoull(hex.substr(2), nullptr, 16);
            if (type == SampleType::float32)
                storeFill(uint32_t(bits), fill);
            else
                storeFill(bits, fill);
            return true;
        }
        if (!jsonNumber(*field, value))
            return refuse(reason, refusal);
        if (type == SampleType::float32)
            storeFill(float(value), fill);
        else
            storeFill(value, fill);
        return true;
    }
    // Integers: exactly, within the type's range.
    return withSampleType(type, [&](auto* kind) {
        using T = std::remove_pointer_t<decltype(kind)>;
        if (field->is_number_unsigned()) {
            const uint64_t n = field->get<uint64_t>();
            if (n > uint64_t(std::numeric_limits<T>::max()))
                return refuse(reason, refusal);
            storeFill(T(n), fill);
            return true;
        }
        if (!field->is_number_integer())
            return refuse(reason, refusal);
        const int64_t n = field->get<int64_t>();
        if (n < int64_t(std::numeric_limits<T>::min()) ||
            (n > 0 && uint64_t(n) > uint64_t(std::numeric_limits<T>::max())))
            return refuse(reason, refusal);
        storeFill(T(n), fill);
        return true;
    });
}

bool checkChunkBytes(const std::vector<int64_t>& chunk, size_t itemSize, int64_t maxBytes,
                     std::string& reason) {
    const int64_t count = zarrShapeProduct(chunk);
    long double bytes = itemSize;
    for (int64_t n : chunk)
        bytes *= n;
    if (count < 0 || bytes > maxBytes)
        return refuse(reason, memoryRefusal("a chunk", bytes, maxBytes));
    return true;
}

std::vector<int> identityOrder(size_t axes) {
    std::vector<int> order(axes);
    for (size_t a = 0; a < axes; ++a)
        order[a] = int(a);
    return order;
}

std::string codecName(const json& codec, const char* key) {
    const json* name = jsonMember(codec, key);
    return name && name->is_string() ? name->get<std::string>() : "";
}

bool readCompression(const std::string& name, ZarrCompression& out) {
    static const struct {
        const char* name;
        ZarrCompression step;
    } steps[] = {{"blosc", ZarrCompression::blosc},
                 {"zlib", ZarrCompression::zlib},
                 {"gzip", ZarrCompression::gzip},
                 {"zstd", ZarrCompression::zstd},
                 {"crc32c", ZarrCompression::crc32c}};
    for (const auto& step : steps)
        if (name == step.name) {
            out = step.step;
            return true;
        }
    return false;
}

bool unknownCodec(const json& codec, const char* key, std::string& reason) {
    const json* name = jsonMember(codec, key);
    return refuse(reason, "its codec " + (name ? jsonShown(*name) : jsonShown(codec)) +
                              " is not one vxlconv reads (bytes, transpose, sharding_indexed, "
                              "blosc, gzip, zlib, zstd, crc32c)");
}

// A v3 transpose's order: a permutation of the axes, or "C" / "F".
bool readTranspose(const json& codec, size_t axes, std::vector<int>& order, std::string& reason) {
    const json* config = jsonMember(codec, "configuration");
    const json* field = config ? jsonMember(*config, "order") : nullptr;
    std::vector<int> step;
    if (field && field->is_string() && (*field == "C" || *field == "F")) {
        step = identityOrder(axes);
        if (*field == "F")
            std::reverse(step.begin(), step.end());
    } else if (field && field->is_array() && field->size() == axes) {
        std::vector<bool> seen(axes, false);
        for (const json& value : *field) {
            int64_t axis = -1;
            if (!jsonInteger(value, axis) || axis < 0 || axis >= int64_t(axes) || seen[axis])
                break;
            seen[axis] = true;
            step.push_back(int(axis));
        }
    }
    if (step.size() != axes)
        return refuse(reason, "its transpose order " +
                                  (field ? jsonShown(*field) : std::string("is missing and")) +
                                  " is no order of its " + std::to_string(axes) + " axes");
    std::vector<int> combined(axes);
    for (size_t p = 0; p < axes; ++p)
        combined[p] = order[step[p]];
    order = combined;
    return true;
}

bool readEndian(const json& codec, bool& bigEndian, std::string& reason) {
    const json* config = jsonMember(codec, "configuration");
    const json* endian = config ? jsonMember(*config, "endian") : nullptr;
    if (!endian || endian->is_null() || *endian == "little") {
        bigEndian = false;
        return true;
    }
    if (*endian == "big") {
        bigEndian = true;
        return true;
    }
    return refuse(reason, "its bytes codec's endian " + jsonShown(*endian) +
                              " is neither \"little\" nor \"big\"");
}

bool readV3Codecs(const json* list, size_t itemSize, int64_t maxBytes, bool shardAllowed,
                  ZarrChunkCoding& coding, ZarrArrayMeta& meta, std::string& reason);

bool readSharding(const json& codec, size_t itemSize, int64_t maxBytes, ZarrArrayMeta& meta,
                  std::string& reason) {
    const json* config = jsonMember(codec, "configuration");
    if (!config)
        return refuse(reason, "its sharding_indexed codec has no configuration");
    if (!readShape(jsonMember(*config, "chunk_shape"), "inner chunk_shape", true, meta.inner.shape,
                   reason))
        return false;
    const std::vector<int64_t>& shard = meta.stored.shape;
    if (meta.inner.shape.size() != shard.size())
        return refuse(reason, "its inner chunk_shape has " +
                                  std::to_string(meta.inner.shape.size()) + " axes, its shards " +
                                  std::to_string(shard.size()));
    for (size_t a = 0; a < shard.size(); ++a)
        if (shard[a] % meta.inner.shape[a] != 0)
            return refuse(reason, "its shards of " + std::to_string(shard[a]) +
                                      " samples along axis " + std::to_string(a) +
                                      " do not hold whole inner chunks of " +
                                      std::to_string(meta.inner.shape[a]));
    if (!checkChunkBytes(meta.inner.shape, itemSize, maxBytes, reason))
        return false;
    meta.sharded = true;
    meta.inner.order = identityOrder(shard.size());
    if (!readV3Codecs(jsonMember(*config, "codecs"), itemSize, maxBytes, false, meta.inner, meta,
                      reason))
        return false;
    // The index: (offset, length) pairs of 64 bits, through bytes and at
    // most checksums (its size is fixed).
    meta.index.shape = {int64_t(zarrShapeProduct(shard) / zarrShapeProduct(meta.inner.shape)), 2};
    meta.index.order = identityOrder(2);
    const json* indexCodecs = jsonMember(*config, "index_codecs");
    if (indexCodecs) {
        if (!readV3Codecs(indexCodecs, 8, maxBytes, false, meta.index, meta, reason))
            return false;
        for (ZarrCompression step : meta.index.steps)
            if (step != ZarrCompression::crc32c)
                return refuse(reason, "its shard index is compressed; an index is of a fixed size");
    }
    if (!checkChunkBytes(meta.index.shape, 8, maxBytes, reason))
        return false;
    const json* location = jsonMember(*config, "index_location");
    if (location && *location != "end" && *location != "start")
        return refuse(reason, "its shard index_location " + jsonShown(*location) +
                                  " is neither \"start\" nor \"end\"");
    meta.indexAtEnd = !location || *location == "end";
    return true;
}

// A v3 codec list: array to array (transpose), one array to bytes (bytes,
// or sharding when allowed), then bytes to bytes.
bool readV3Codecs(const json* list, size_t itemSize, int64_t maxBytes, bool shardAllowed,
                  ZarrChunkCoding& coding, ZarrArrayMeta& meta, std::string& reason) {
    if (!list || !list->is_array() || list->size() > 16)
        return refuse(reason, "its codecs are " + (list ? jsonShown(*list) : "missing") +
                                  ", not a list of codecs");
    coding.steps.clear();
    bool bytesSeen = false;
    for (const json& codec : *list) {
        const std::string name = codecName(codec, "name");
        ZarrCompression step;
        if (!bytesSeen && name == "transpose") {
            if (!readTranspose(codec, coding.shape.size(), coding.order, reason))
                return false;
        } else if (!bytesSeen && name == "bytes") {
            if (!readEndian(codec, coding.bigEndian, reason))
                return false;
            bytesSeen = true;
        } else if (!bytesSeen && name == "sharding_indexed") {
            if (!shardAllowed || &codec != &list->front())
                return refuse(reason, "its sharding_indexed codec is nested or follows another; "
                                      "vxlconv reads sharding as a store's only array codec");
            if (!readSharding(codec, itemSize, maxBytes, meta, reason))
                return false;
            if (list->size() != 1)
                return refuse(reason, "its shards go through further codecs, which vxlconv "
                                      "does not read");
            bytesSeen = true;
        } else if (bytesSeen && name != "zlib" && readCompression(name, step)) {
            coding.steps.push_back(step);
        } else if (name == "transpose" || name == "bytes" || name == "sharding_indexed") {
            return refuse(reason, "its codec \"" + name + "\" comes out of order");
        } else {
            return unknownCodec(codec, "name", reason);
        }
    }
    if (!bytesSeen)
        return refuse(reason, "its codecs name no bytes codec");
    return true;
}

bool readV2(const json& doc, ZarrArrayMeta& out, std::string& reason) {
    bool bigEndian = false;
    if (!readShape(jsonMember(doc, "shape"), "shape", false, out.shape, reason) ||
        !readShape(jsonMember(doc, "chunks"), "chunks", true, out.stored.shape, reason) ||
        !readV2Type(jsonMember(doc, "dtype"), out.type, bigEndian, reason))
        return false;
    out.stored.bigEndian = bigEndian;
    const json* order = jsonMember(doc, "order");
    if (order && *order != "C" && *order != "F")
        return refuse(reason, "its order " + jsonShown(*order) + " is neither \"C\" nor \"F\"");
    out.stored.order = identityOrder(out.shape.size());
    if (order && *order == "F")
        std::reverse(out.stored.order.begin(), out.stored.order.end());
    const json* filters = jsonMember(doc, "filters");
    if (filters && !filters->is_null() && !(filters->is_array() && filters->empty())) {
        const json& first = filters->is_array() ? filters->front() : *filters;
        return refuse(reason, "its filter " +
                                  jsonShown(jsonMember(first, "id") ? first["id"] : first) +
                                  " is not one vxlconv reads (it reads stores without filters)");
    }
    const json* compressor = jsonMember(doc, "compressor");
    if (compressor && !compressor->is_null()) {
        ZarrCompression step;
        if (!readCompression(codecName(*compressor, "id"), step) || step == ZarrCompression::crc32c)
            return unknownCodec(*compressor, "id", reason);
        out.stored.steps = {step};
    }
    const json* separator = jsonMember(doc, "dimension_separator");
    if (separator && *separator != "." && *separator != "/")
        return refuse(reason, "its dimension_separator " + jsonShown(*separator) +
                                  " is neither \".\" nor \"/\"");
    out.separator = separator && *separator == "/" ? '/' : '.';
    return readFill(jsonMember(doc, "fill_value"), out.type, out.fill, reason);
}

bool readV3(const json& doc, int64_t maxBytes, ZarrArrayMeta& out, std::string& reason) {
    const json* grid = jsonMember(doc, "chunk_grid");
    if (!grid || codecName(*grid, "name") != "regular")
        return refuse(reason, "its chunk_grid is not a regular grid");
    const json* gridConfig = jsonMember(*grid, "configuration");
    if (!readShape(jsonMember(doc, "shape"), "shape", false, out.shape, reason) ||
        !readShape(gridConfig ? jsonMember(*gridConfig, "chunk_shape") : nullptr, "chunk_shape",
                   true, out.stored.shape, reason) ||
        !readV3Type(jsonMember(doc, "data_type"), out.type, reason))
        return false;
    if (out.stored.shape.size() != out.shape.size())
        return refuse(reason, "its chunk_shape has " + std::to_string(out.stored.shape.size()) +
                                  " axes, its shape " + std::to_string(out.shape.size()));
    out.stored.order = identityOrder(out.shape.size());
    if (zarrShapeProduct(out.stored.shape) < 0)
        return refuse(reason, "its chunk_shape holds more samples than 64 bits count");
    if (!readV3Codecs(jsonMember(doc, "codecs"), sampleTypeSize(out.type), maxBytes, true,
                      out.stored, out, reason))
        return false;
    const json* keys = jsonMember(doc, "chunk_key_encoding");
    const std::string encoding = keys ? codecName(*keys, "name") : "default";
    if (encoding != "default" && encoding != "v2")
        return refuse(reason, "its chunk_key_encoding " +
                                  jsonShown(jsonMember(*keys, "name") ? (*keys)["name"] : *keys) +
                                  " is neither \"default\" nor \"v2\"");
    out.keyPrefix = encoding == "default";
    out.separator = out.keyPrefix ? '/' : '.';
    const json* keyConfig = keys ? jsonMember(*keys, "configuration") : nullptr;
    if (const json* separator = keyConfig ? jsonMember(*keyConfig, "separator") : nullptr) {
        if (*separator != "." && *separator != "/")
            return refuse(reason, "its chunk key separator " + jsonShown(*separator) +
                                      " is neither \".\" nor \"/\"");
        out.separator = *separator == "/" ? '/' : '.';
    }
    if (const json* names = jsonMember(doc, "dimension_names"); names && names->is_array())
        for (const json& name : *names)
            out.dimensionNames.push_back(name.is_string() ? name.get<std::string>() : "");
    return readFill(jsonMember(doc, "fill_value"), out.type, out.fill, reason);
}

} // namespace

int64_t zarrShapeProduct(const std::vector<int64_t>& shape) {
    int64_t product = 1;
    for (int64_t n : shape) {
        if (n < 0 || (n > 0 && product > (int64_t(1) << 62) / n))
            return -1;
        product *= n;
    }
    return product;
}

bool parseZarrArray(const json& doc, int format, int64_t maxBytes, ZarrArrayMeta& out,
                    std::string& reason) {
    out = ZarrArrayMeta();
    out.format = format;
    if (!(format == 2 ? readV2(doc, out, reason) : readV3(doc, maxBytes, out, reason)))
        return false;
    if (out.stored.shape.size() != out.shape.size())
        return refuse(reason, "its chunks have " + std::to_string(out.stored.shape.size()) +
                                  " axes, its shape " + std::to_string(out.shape.size()));
    if (zarrShapeProduct(out.shape) < 0)
        return refuse(reason, "its shape holds more samples than 64 bits count");
    if (!out.dimensionNames.empty() && out.dimensionNames.size() != out.shape.size())
        return refuse(reason, "its dimension_names name " +
                                  std::to_string(out.dimensionNames.size()) + " axes of " +
                                  std::to_string(out.shape.size()));
    // A shard is never decoded whole: its inner chunks are, and were checked.
    return out.sharded ||
           checkChunkBytes(out.stored.shape, sampleTypeSize(out.type), maxBytes, reason);
}
