#include "model/number_reader.h"

#include <cstdlib>

namespace number_reader_detail {

const double exactDoublePowers[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
const double negativeDoublePowers[23] = {1e-0,  1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                         1e-8,  1e-9,  1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15,
                                         1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22};

const uint64_t powersOfTen[8] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};

} // namespace number_reader_detail

const char* scanIntDigits(const char* p, const char* end, bool negative, int32_t* value) {
    const char* digits = p;
    uint64_t magnitude = 0;
    bool beyond = false; // more than 64 bits of digits
    for (; p < end && isDigitChar(*p); ++p) {
        uint64_t d = uint64_t(*p - '0');
        if (magnitude > (UINT64_MAX - d) / 10)
            beyond = true;
        else
            magnitude = magnitude * 10 + d;
    }
    if (p == digits)
        return nullptr;
    // The C library converts to a `long`, which saturates, and stores its low
    // 32 bits into the int.
    const uint64_t longMax = uint64_t(INT64_MAX);
    uint64_t asLong;
    if (negative)
        asLong = beyond || magnitude > longMax + 1 ? longMax + 1 : 0 - magnitude;
    else
        asLong = beyond || magnitude > longMax ? longMax : magnitude;
    *value = int32_t(uint32_t(asLong));
    return p;
}

const char* scanInt(const char* p, const char* end, int32_t* value) {
    p = skipSpace(p, end);
    if (p == end)
        return nullptr;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    return scanIntDigits(p, end, negative, value);
}

const char* scanFloat(const char* p, const char* end, float* value) {
    return scanFloatInline(p, end, value);
}

static bool isHexDigitChar(char c) {
    return isDigitChar(c) || unsigned((c | 0x20) - 'a') < 6u;
}

// Matches `word` (lower case) at p, ignoring case; returns the position after
// it, or null at the first character that differs or is missing.
static const char* matchWord(const char* p, const char* end, const char* word) {
    for (; *word; ++word, ++p)
        if (p == end || (*p | 0x20) != *word)
            return nullptr;
    return p;
}

// The characters the formatted input collects for "%f" after the sign, in the
// order it tests them, one character of look-ahead and no going back: an
// infinity or a NaN by name, a hexadecimal number after "0x", or decimal
// digits with one point and an exponent marker that only counts after a digit
// and may carry a sign right after it. Whatever was collected is then
// converted by strtof, which may use only a prefix of it ("1e+" is 1).
const char* scanFloatGeneral(const char* p, const char* end, bool negative, float* value) {
    if (p == end)
        return nullptr;
    const char* start = p;
    char first = char(*p | 0x20);
    if (first == 'n') {
        // Only the three letters: a "(chars)" after them is left unread.
        if (!(p = matchWord(p, end, "nan")))
            return nullptr;
    } else if (first == 'i') {
        if (!(p = matchWord(p, end, "inf")))
            return nullptr;
        // Once an 'i' follows "inf", the whole "infinity" must.
        if (p < end && (*p | 0x20) == 'i' && !(p = matchWord(p, end, "inity")))
            return nullptr;
    } else {
        bool hex = false, gotDigit = false, gotDot = false, gotExponent = false;
        char exponentMarker = 'e';
        if (*p == '0') {
            ++p;
            if (p < end && (*p | 0x20) == 'x') {
                hex = true;
                exponentMarker = 'p';
                ++p;
            } else {
                gotDigit = true;
            }
        }
        for (; p < end; ++p) {
            char c = *p;
            if (isDigitChar(c) || (hex && !gotExponent && isHexDigitChar(c)))
                gotDigit = true;
            else if (gotExponent && (c == '-' || c == '+') && (p[-1] | 0x20) == exponentMarker)
                continue;
            else if (gotDigit && !gotExponent && (c | 0x20) == exponentMarker)
                gotExponent = gotDot = true;
            else if (!gotDot && c == '.')
                gotDot = true;
            else
                break;
        }
        // Nothing, or a bare "0x", is no number.
        if (p == start || (hex && p - start == 2))
            return nullptr;
    }
    // strtof needs a terminated copy; numbers are short, but a mantissa may
    // run on for any number of digits.
    size_t length = size_t(p - start);
    char local[64];
    char* text = length < sizeof local ? local : static_cast<char*>(malloc(length + 1));
    if (!text)
        return nullptr;
    memcpy(text, start, length);
    text[length] = '\0';
    char* stop = text;
    float f = strtof(text, &stop);
    bool converted = stop != text;
    if (text != local)
        free(text);
    if (!converted)
        return nullptr;
    *value = negative ? -f : f;
    return p;
}
