#include "container/quoted_text.h"

#include <cstdint>
#include <cstdio>

namespace {

// The length of the UTF-8 sequence at `at` and its code point, or 0 when the
// bytes there are not one (overlong forms and surrogates included).
size_t utf8Sequence(const std::string& text, size_t at, uint32_t& point) {
    const auto byte = [&](size_t n) { return static_cast<unsigned char>(text[at + n]); };
    const unsigned char lead = byte(0);
    size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
    if (lead < 0xc2 || lead > 0xf4 || at + length > text.size())
        return 0;
    point = lead & (0x7f >> length);
    for (size_t n = 1; n < length; ++n) {
        if ((byte(n) & 0xc0) != 0x80)
            return 0;
        point = (point << 6) | (byte(n) & 0x3f);
    }
    const uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (point < least || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff))
        return 0;
    return length;
}

// Characters that steer a terminal or the direction of the text around them.
bool isFormatControl(uint32_t point) {
    return (point >= 0x80 && point <= 0x9f) || point == 0x200e || point == 0x200f ||
           (point >= 0x2028 && point <= 0x202e) || (point >= 0x2066 && point <= 0x2069);
}

// Appends the escaped text to `out`; true when some of it was left out.
// Double quotes are escaped only inside quotes of ours.
bool escapeInto(const std::string& text, size_t most, bool quoted, std::string& out) {
    char escape[8];
    size_t at = 0;
    while (at < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        uint32_t point = 0;
        const size_t length = c < 0x80 ? 1 : utf8Sequence(text, at, point);
        if (at + (length ? length : 1) > most)
            break;
        if (length > 1 && !isFormatControl(point)) {
            out.append(text, at, length);
        } else if (length > 1) {
            snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(point));
            out += escape;
        } else if (c == '\\' || (c == '"' && quoted)) {
            out += '\\';
            out += char(c);
        } else if (c == '\n' || c == '\r' || c == '\t') {
            out += '\\';
            out += c == '\n' ? 'n' : c == '\r' ? 'r' : 't';
        } else if (c < 0x20 || c >= 0x7f) {
            snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += char(c);
        }
        at += length ? length : 1;
    }
    return at < text.size();
}

} // namespace

std::string escapedText(const std::string& text, size_t most) {
    std::string out;
    if (escapeInto(text, most, false, out))
        out += "...";
    return out;
}

std::string quotedText(const std::string& text, size_t most) {
    std::string out = "\"";
    const bool cut = escapeInto(text, most, true, out);
    out += cut ? "\"..." : "\"";
    return out;
}
