#include "read/zarr_json.h"

#include "container/quoted_text.h"

#include <cmath>
#include <limits>

namespace {

// How deep `text` nests its arrays and objects (brackets inside strings
// not counted), stopping once past `most`.
int nestingDepth(const std::string& text, int most) {
    int depth = 0, deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size() && deepest <= most; ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

} // namespace

bool parseZarrJson(const std::string& text, nlohmann::json& out, std::string& reason) {
    if (nestingDepth(text, zarrJsonDepth) > zarrJsonDepth) {
        reason = "nests deeper than " + std::to_string(zarrJsonDepth) + " levels";
        return false;
    }
    out = nlohmann::json::parse(text, nullptr, false);
    if (out.is_discarded()) {
        reason = "is not JSON";
        return false;
    }
    return true;
}

const nlohmann::json* jsonMember(const nlohmann::json& doc, const char* key) {
    if (!doc.is_object())
        return nullptr;
    const auto found = doc.find(key);
    return found == doc.end() ? nullptr : &*found;
}

bool jsonInteger(const nlohmann::json& value, int64_t& out) {
    if (value.is_number_unsigned()) {
        const uint64_t n = value.get<uint64_t>();
        if (n > uint64_t(std::numeric_limits<int64_t>::max()))
            return false;
        out = int64_t(n);
        return true;
    }
    if (!value.is_number_integer())
        return false;
    out = value.get<int64_t>();
    return true;
}

bool jsonNumber(const nlohmann::json& value, double& out) {
    if (value.is_number()) {
        out = value.get<double>();
        return true;
    }
    if (!value.is_string())
        return false;
    const std::string& text = value.get_ref<const std::string&>();
    if (text == "NaN")
        out = std::nan("");
    else if (text == "Infinity")
        out = std::numeric_limits<double>::infinity();
    else if (text == "-Infinity")
        out = -std::numeric_limits<double>::infinity();
    else
        return false;
    return true;
}

std::string jsonShown(const nlohmann::json& value) {
    if (value.is_string())
        return quotedText(value.get_ref<const std::string&>(), 40);
    if (value.is_number() || value.is_boolean() || value.is_null())
        return value.dump();
    return value.is_array() ? "a list" : "an object";
}
