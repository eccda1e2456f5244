#include "write/html_text.h"

#include <cstdio>

namespace {

constexpr uint32_t replacement = 0xfffd;

// The code point starting at text[i], advancing i past it; a byte that does
// not start a well-formed UTF-8 sequence gives U+FFFD and advances by one.
uint32_t nextCodePoint(const std::string& text, size_t& i) {
    const auto byte = [&](size_t at) { return uint8_t(text[at]); };
    const uint8_t lead = byte(i);
    int length = 0;
    uint32_t point = 0, least = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2, point = lead & 0x1f, least = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3, point = lead & 0x0f, least = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4, point = lead & 0x07, least = 0x10000;
    } else {
        ++i;
        return replacement;
    }
    if (i + size_t(length) > text.size()) {
        ++i;
        return replacement;
    }
    for (int k = 1; k < length; ++k) {
        const uint8_t next = byte(i + size_t(k));
        if ((next & 0xc0) != 0x80) {
            ++i;
            return replacement;
        }
        point = point << 6 | (next & 0x3f);
    }
    // Overlong forms, surrogates and points past U+10FFFF are not UTF-8.
    if (point < least || (point >= 0xd800 && point <= 0xdfff) || point > 0x10ffff) {
        ++i;
        return replacement;
    }
    i += size_t(length);
    return point;
}

} // namespace

std::string escapeHtml(const std::string& text) {
    std::string html;
    for (size_t i = 0; i < text.size();) {
        uint32_t point = nextCodePoint(text, i);
        if (point < 0x20 || (point >= 0x7f && point < 0xa0))
            point = replacement;
        switch (point) {
        case '&':
            html += "&amp;";
            break;
        case '<':
            html += "&lt;";
            break;
        case '>':
            html += "&gt;";
            break;
        case '"':
            html += "&quot;";
            break;
        case '\'':
            html += "&#39;";
            break;
        default:
            if (point < 0x80) {
                html += char(point);
            } else {
                char reference[16];
                snprintf(reference, sizeof reference, "&#x%X;", unsigned(point));
                html += reference;
            }
        }
    }
    return html;
}

std::string groupedNumber(int64_t value) {
    std::string digits = std::to_string(value < 0 ? 0 - uint64_t(value) : uint64_t(value));
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return value < 0 ? "-" + digits : digits;
}
