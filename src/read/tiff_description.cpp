#include "read/tiff_description.h"

#include "container/quoted_text.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

// Counts beyond this are no file's: it keeps every product within 64 bits.
constexpr int64_t largestCount = int64_t(1) << 31;

bool wholeCount(const std::string& text, int64_t& out) {
    if (text.empty() || text.size() > 12)
        return false;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    out = value;
    return value >= 1 && value <= largestCount;
}

bool positiveNumber(const std::string& text, double& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    out = strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(out) && out > 0;
}

// An RGB(A) channel is one page of several samples: the pages of a channel
// count are that many fewer.
int64_t channelPages(int64_t channels, int samplesPerPixel) {
    if (samplesPerPixel > 1 && channels % samplesPerPixel == 0)
        return channels / samplesPerPixel;
    return channels;
}

std::string trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos)
        return "";
    return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

bool readImageJ(const std::string& text, int samplesPerPixel, TiffStackPlan& plan,
                std::string& reason) {
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            fields[trimmed(line.substr(0, equals))] = trimmed(line.substr(equals + 1));
        start = end + 1;
    }
    int64_t counts[4] = {0, 1, 0, 1}; // images, channels, slices, frames
    const char* keys[4] = {"images", "channels", "slices", "frames"};
    for (int n = 0; n < 4; ++n) {
        auto found = fields.find(keys[n]);
        if (found != fields.end() && !wholeCount(found->second, counts[n])) {
            reason = std::string("its ImageJ description's ") + keys[n] + "=" +
                     quotedText(found->second, 20) + " is not a count from 1 to 2^31";
            return false;
        }
    }
    const int64_t channels = channelPages(counts[1], samplesPerPixel), frames = counts[3];
    int64_t slices = counts[2];
    if (slices == 0)
        slices = counts[0] > 0 ? std::max<int64_t>(1, counts[0] / (channels * frames)) : 1;
    plan.source = "ImageJ";
    plan.slices = slices;
    // ImageJ stores channels fastest, then slices, then frames.
    plan.pageStep = channels;
    plan.pages = channels * slices * frames;
    if (counts[0] > 0 && counts[0] < plan.pages) {
        reason = "its ImageJ description counts " + std::to_string(plan.pages) +
                 " pages (channels x slices x frames) but images=" + std::to_string(counts[0]);
        return false;
    }
    double spacing = 0;
    auto found = fields.find("spacing");
    if (found != fields.end() && positiveNumber(found->second, spacing))
        plan.spacing[2] = spacing;
    found = fields.find("unit");
    if (found != fields.end())
        plan.unit = found->second;
    return true;
}

// The value of attribute `name` in the tag text `tag` (between '<' and '>').
bool attribute(const std::string& tag, const char* name, std::string& value) {
    const std::string key = std::string(name) + "=";
    for (size_t at = tag.find(key); at != std::string::npos; at = tag.find(key, at + 1)) {
        const char before = at > 0 ? tag[at - 1] : ' ';
        const size_t open = at + key.size();
        if ((before != ' ' && before != '\t' && before != '\n' && before != '\r') ||
            open >= tag.size() || (tag[open] != '"' && tag[open] != '\''))
            continue;
        const size_t close = tag.find(tag[open], open + 1);
        if (close == std::string::npos)
            return false;
        value = tag.substr(open + 1, close - open - 1);
        return true;
    }
    return false;
}

// Metres per unit, for the units OME-XML names lengths in; 0 for others.
double metresPer(const std::string& unit) {
    static const std::map<std::string, double> units = {
        {"m", 1},     {"cm", 1e-2},        {"mm", 1e-3},  {"\xC2\xB5m", 1e-6}, {"um", 1e-6},
        {"nm", 1e-9}, {"\xC3\x85", 1e-10}, {"pm", 1e-12}, {"micron", 1e-6}};
    auto found = units.find(unit);
    return found == units.end() ? 0 : found->second;
}

bool readOme(const std::string& text, int samplesPerPixel, TiffStackPlan& plan,
             std::string& reason) {
    // The first image's Pixels element, with or without a namespace prefix.
    size_t at = 0;
    for (at = text.find("Pixels"); at != std::string::npos; at = text.find("Pixels", at + 1))
        if (at > 0 && (text[at - 1] == '<' || text[at - 1] == ':') && at + 6 < text.size() &&
            (text[at + 6] == ' ' || text[at + 6] == '\n' || text[at + 6] == '\t'))
            break;
    if (at == std::string::npos) {
        reason = "its OME-XML description has no Pixels element";
        return false;
    }
    const std::string tag = text.substr(at, text.find('>', at) - at);
    std::string order, value;
    int64_t sizes[3] = {1, 1, 1}; // Z, C, T
    const char* sizeNames[3] = {"SizeZ", "SizeC", "SizeT"};
    for (int n = 0; n < 3; ++n)
        if (attribute(tag, sizeNames[n], value) && !wholeCount(value, sizes[n])) {
            reason = std::string("its OME-XML ") + sizeNames[n] + "=" + quotedText(value, 20) +
                     " is not a count from 1 to 2^31";
            return false;
        }
    if (!attribute(tag, "DimensionOrder", order) || order.size() != 5 ||
        order.compare(0, 2, "XY") || order.find('Z') == std::string::npos ||
        order.find('C') == std::string::npos || order.find('T') == std::string::npos) {
        reason = "its OME-XML DimensionOrder " + quotedText(order, 20) +
                 " is not XY followed by Z, C and T";
        return false;
    }
    sizes[1] = channelPages(sizes[1], samplesPerPixel);
    plan.source = "OME-XML";
    plan.slices = sizes[0];
    plan.pageStep = 1;
    for (size_t n = 2; order[n] != 'Z'; ++n)
        plan.pageStep *= sizes[order[n] == 'C' ? 1 : 2];
    plan.pages = sizes[0] * sizes[1] * sizes[2];
    // Every length in the unit of x (OME's default is the micrometre).
    const char* axes[3] = {"X", "Y", "Z"};
    double xMetres = 0;
    for (int a = 0; a < 3; ++a) {
        double size = 0;
        if (!attribute(tag, (std::string("PhysicalSize") + axes[a]).c_str(), value) ||
            !positiveNumber(value, size))
            continue;
        std::string unit = "\xC2\xB5m";
        attribute(tag, (std::string("PhysicalSize") + axes[a] + "Unit").c_str(), unit);
        const double metres = metresPer(unit);
        if (a == 0 || plan.unit.empty()) {
            plan.unit = unit;
            xMetres = metres;
        } else if (metres > 0 && xMetres > 0) {
            size *= metres / xMetres;
        }
        plan.spacing[a] = size;
    }
    return true;
}

} // namespace

bool readTiffDescription(const std::string& text, int samplesPerPixel, TiffStackPlan& plan,
                         std::string& reason) {
    plan = TiffStackPlan();
    if (text.compare(0, 7, "ImageJ=") == 0)
        return readImageJ(text, samplesPerPixel, plan, reason);
    if (text.find("<OME") != std::string::npos || text.find(":OME") != std::string::npos)
        return readOme(text, samplesPerPixel, plan, reason);
    return true;
}
