// JSON as Zarr stores hold it (metadata and attributes), through
// nlohmann/json's strict parser: nesting bounded before parsing, and typed
// reads that check what a field holds instead of throwing.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

// The deepest nesting a document may have: real metadata nests a few levels;
// the bound keeps a hostile one from costing a stack or a tree of millions.
constexpr int zarrJsonDepth = 64;

// Parses `text` into `out`; false with a reason when it nests deeper than
// zarrJsonDepth or is not JSON.
bool parseZarrJson(const std::string& text, nlohmann::json& out, std::string& reason);

// The member `key` of an object, or null when `doc` is no object or lacks it.
const nlohmann::json* jsonMember(const nlohmann::json& doc, const char* key);

// A whole number that fits in 64 signed bits.
bool jsonInteger(const nlohmann::json& value, int64_t& out);

// A number, or one of the strings "NaN", "Infinity", "-Infinity".
bool jsonNumber(const nlohmann::json& value, double& out);

// A field's value as messages show it: short, control characters escaped.
std::string jsonShown(const nlohmann::json& value);
