// The voxel file's numbers, read from text in memory exactly as the C
// library's formatted input reads them with "%d" and "%f": the same white
// space skipped, the same characters consumed, the same values to the bit and
// the same refusals. The common short decimals are converted here with one
// exact floating-point operation; everything else (long mantissas, large
// exponents, hexadecimal, infinities, NaNs) goes to the C library's own
// conversion on the very characters its formatted input would have collected.
//
// Each scanner takes the text from `p` up to `end` (no terminator needed) and
// returns the position just after the number, or null when no number could be
// converted there (end of text, a sign alone, a word, ...).
#pragma once

#include <cstdint>
#include <cstring>

// The fast paths are forced inline: the loader's loop runs them millions of
// times, and left to itself the compiler keeps the float reader out of line.
#define VOXSCOPE_ALWAYS_INLINE inline __attribute__((always_inline))

// White space as isspace() sees it in the C locale: blank, \t \n \v \f \r.
inline bool isSpaceChar(char c) {
    return c == ' ' || unsigned(c - '\t') <= unsigned('\r' - '\t');
}

inline bool isDigitChar(char c) {
    return unsigned(c - '0') < 10u;
}

inline const char* skipSpace(const char* p, const char* end) {
    while (p < end && isSpaceChar(*p))
        ++p;
    return p;
}

// What "%d" stores: optional sign, decimal digits, converted as a `long` that
// saturates when out of range and then keeps its low 32 bits.
const char* scanInt(const char* p, const char* end, int32_t* value);

// What "%f" stores.
const char* scanFloat(const char* p, const char* end, float* value);

// The general scanners behind the inline fast paths below: `p` is past the
// white space and the sign, `negative` says whether that sign was a minus.
const char* scanIntDigits(const char* p, const char* end, bool negative, int32_t* value);
const char* scanFloatGeneral(const char* p, const char* end, bool negative, float* value);

// ---------------------------------------------------------------------------
// Inline fast paths: the loader calls these millions of times.

namespace number_reader_detail {

// Powers of ten that double holds exactly, and the negative ones rounded to
// the nearest double.
extern const double exactDoublePowers[23];
extern const double negativeDoublePowers[23];
extern const uint64_t powersOfTen[8];

// Converts mantissa m times 10^exp10 when a double-precision product gives
// the float the C library would give; returns false when it might not.
VOXSCOPE_ALWAYS_INLINE bool fastDecimalToFloat(uint64_t m, int exp10, float* out) {
    if (m == 0) {
        *out = 0.0f;
        return true;
    }
    if (m >= (uint64_t(1) << 53) || exp10 < -22 || exp10 > 22)
        return false;
    // A double keeps 29 bits more than a float; the float nearest the value
    // is the float nearest the double unless a float midpoint (low 29 bits
    // 1 followed by zeros) lies between the two. The midpoints are two to
    // the 28 units of the double away from any float, so none sits near a
    // power of two, where the unit changes.
    const uint64_t low29 = (uint64_t(1) << 29) - 1;
    const uint64_t midpoint = uint64_t(1) << 28;
    double d = double(m);
    uint64_t bits;
    if (exp10 >= 0) {
        // Both factors exact: one rounding, so the double is off the value
        // only when it lands exactly on a midpoint the value is not on.
        // Below 2^53 the product of the two integers is exact, and the one
        // rounding to float is the C library's, ties included.
        d *= exactDoublePowers[exp10];
        memcpy(&bits, &d, sizeof bits);
        if (d >= 9007199254740992.0 && (bits & low29) == midpoint)
            return false;
    } else {
        // A multiplication, not a division, which would take several times
        // as long: the rounded power and the product leave the double within
        // two units of the value, so three units around a midpoint are sent
        // to the exact conversion.
        d *= negativeDoublePowers[-exp10];
        memcpy(&bits, &d, sizeof bits);
        if ((bits & low29) - (midpoint - 3) <= 6)
            return false;
    }
    // Never below float's normal range from these operands (at least 1e-22),
    // nor above its largest (below 2^53 times 1e22).
    *out = float(d);
    return true;
}

// Eight bytes at p, first byte lowest.
inline uint64_t load8(const char* p) {
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

// How many of the eight bytes of `chunk` are decimal digits before the first
// that is not (8 when all are). A byte below '0' borrows from the bytes after
// it, and one above '9' may carry into them, but the first non-digit is always
// flagged correctly, and nothing after it is looked at.
inline int leadingDigits(uint64_t chunk) {
    uint64_t t = chunk - 0x3030303030303030u;
    uint64_t flags = (t | (t + 0x7676767676767676u)) & 0x8080808080808080u;
    return flags ? __builtin_ctzll(flags) >> 3 : 8;
}

// The value of the first n (1 to 8) digits of `chunk`, most significant first.
inline uint64_t chunkDigitsValue(uint64_t chunk, int n) {
    uint64_t v = (chunk & 0x0F0F0F0F0F0F0F0Fu) << (8 * (8 - n));
    v = (v * 2561) >> 8 & 0x00FF00FF00FF00FFu;
    v = (v * 6553601) >> 16 & 0x0000FFFF0000FFFFu;
    return (v * 42949672960001u) >> 32;
}

// 0x80 in each byte of `x` that is not zero, 0 in each that is, exactly (no
// carry or borrow crosses from one byte into another).
inline uint64_t nonZeroBytes(uint64_t x) {
    const uint64_t low7 = 0x7F7F7F7F7F7F7F7Fu;
    return (((x & low7) + low7) | x) & ~low7;
}

// 0x80 in each byte of `chunk` that is not a decimal digit, exactly.
inline uint64_t nonDigitBytes(uint64_t chunk) {
    uint64_t highNibbleNot3 = nonZeroBytes((chunk & 0xF0F0F0F0F0F0F0F0u) ^ 0x3030303030303030u);
    uint64_t lowNibbleAbove9 =
        ((chunk & 0x0F0F0F0F0F0F0F0Fu) + 0x0606060606060606u) & 0x1010101010101010u;
    return highNibbleNot3 | lowNibbleAbove9 << 3;
}

inline float withSign(float f, bool negative) {
    return negative ? -f : f;
}

// A decimal whose digits, point and the character after them all lie in the
// eight bytes of `chunk` (read at p): the point is squeezed out and the
// digits read as one run. Returns false, storing nothing, for anything else.
VOXSCOPE_ALWAYS_INLINE bool scanShortPointed(uint64_t chunk, const char* p, const char** after,
                                             float* value, bool negative) {
    uint64_t nonDigit = nonDigitBytes(chunk);
    uint64_t notPoint = nonZeroBytes(chunk ^ 0x2E2E2E2E2E2E2E2Eu);
    if (!nonDigit)
        return false;
    int whole = __builtin_ctzll(nonDigit) >> 3;
    if (whole > 6 || (notPoint >> (8 * whole + 7)) & 1)
        return false; // no room after it, or not a point
    uint64_t rest = nonDigit & (~uint64_t(0) << (8 * whole + 8));
    if (!rest)
        return false;
    int stop = __builtin_ctzll(rest) >> 3; // the byte after the number
    int digits = stop - 1;
    char next = char((chunk >> (8 * stop)) | 0x20);
    if (digits == 0 || next == 'e')
        return false;
    uint64_t wholeBytes = (uint64_t(1) << (8 * whole)) - 1;
    uint64_t squeezed = (chunk & wholeBytes) | ((chunk >> 8) & ~wholeBytes);
    float f;
    if (!fastDecimalToFloat(chunkDigitsValue(squeezed, digits), whole - digits, &f))
        return false;
    *value = withSign(f, negative);
    *after = p + stop;
    return true;
}

// A fast path reads eight bytes at the start of each run of digits; with this
// much text left, no such read can pass the end.
constexpr long wordReadMargin = 17;

} // namespace number_reader_detail

VOXSCOPE_ALWAYS_INLINE const char* scanIntInline(const char* p, const char* end, int32_t* value) {
    p = skipSpace(p, end);
    if (p == end)
        return nullptr;
    // Signs come and go at random in real data: step over one without a
    // branch that would guess wrong half the time.
    const bool negative = *p == '-';
    p += negative | (*p == '+');
    if (end - p >= number_reader_detail::wordReadMargin) {
        uint64_t chunk = number_reader_detail::load8(p);
        int n = number_reader_detail::leadingDigits(chunk);
        if (n == 0)
            return nullptr;
        if (n < 8) {
            int64_t v = int64_t(number_reader_detail::chunkDigitsValue(chunk, n));
            *value = int32_t(uint32_t(uint64_t(negative ? -v : v)));
            return p + n;
        }
    }
    const char* digits = p;
    uint64_t magnitude = 0;
    while (p < end && isDigitChar(*p) && p - digits < 18)
        magnitude = magnitude * 10 + uint64_t(*p++ - '0');
    if (p == digits)
        return nullptr;
    if (p < end && isDigitChar(*p)) // 19 digits or more: may leave long's range
        return scanIntDigits(digits, end, negative, value);
    int64_t v = int64_t(magnitude);
    *value = int32_t(uint32_t(uint64_t(negative ? -v : v)));
    return p;
}

VOXSCOPE_ALWAYS_INLINE const char* scanFloatInline(const char* p, const char* end, float* value) {
    p = skipSpace(p, end);
    if (p == end)
        return nullptr;
    // Signs come and go at random in real data: step over one without a
    // branch that would guess wrong half the time.
    const bool negative = *p == '-';
    p += negative | (*p == '+');
    const char* start = p;
    // Decimals with fewer than eight digits before and after the point: both
    // runs are read a word at a time.
    if (end - p >= number_reader_detail::wordReadMargin) {
        using namespace number_reader_detail;
        uint64_t chunk = load8(p);
        // Most common of all, a point and its number within these eight bytes
        // ("-36.5636 "): one word holds all of it.
        const char* after;
        if (scanShortPointed(chunk, p, &after, value, negative))
            return after;
        int whole = leadingDigits(chunk);
        uint64_t m = whole ? chunkDigitsValue(chunk, whole) : 0;
        const char* q = p + whole;
        int fraction = 0;
        if (whole < 8 && *q == '.') {
            chunk = load8(++q);
            fraction = leadingDigits(chunk);
            if (fraction && fraction < 8) {
                m = m * powersOfTen[fraction] + chunkDigitsValue(chunk, fraction);
                q += fraction;
            }
        }
        char next = char(*q | 0x20);
        float f;
        if (whole + fraction > 0 && whole < 8 && fraction < 8 && next != 'e' &&
            !(next == 'x' && whole == 1 && *p == '0' && q == p + 1) &&
            fastDecimalToFloat(m, -fraction, &f)) {
            *value = negative ? -f : f;
            return q;
        }
    }
    // Plain decimals with up to 19 digits and a small exponent are converted
    // here; anything else is left to the general scanner from `start`.
    uint64_t m = 0;
    while (p < end && isDigitChar(*p))
        m = m * 10 + uint64_t(*p++ - '0');
    int digits = int(p - start);
    if (digits == 1 && *start == '0' && p < end && (*p | 0x20) == 'x')
        return scanFloatGeneral(start, end, negative, value); // hexadecimal
    int exp10 = 0;
    if (p < end && *p == '.') {
        const char* fraction = ++p;
        while (p < end && isDigitChar(*p))
            m = m * 10 + uint64_t(*p++ - '0');
        exp10 = -int(p - fraction);
        digits -= exp10;
    }
    if (digits == 0 || digits > 19)
        return scanFloatGeneral(start, end, negative, value);
    if (p < end && (*p | 0x20) == 'e') {
        // An exponent marker, with a sign right after it, belongs to the number
        // even when no digit follows; it then scales by nothing.
        ++p;
        bool down = false;
        if (p < end && (*p == '-' || *p == '+')) {
            down = *p == '-';
            ++p;
        }
        const char* expDigits = p;
        int e = 0;
        while (p < end && isDigitChar(*p) && p - expDigits < 4)
            e = e * 10 + (*p++ - '0');
        if (p < end && isDigitChar(*p))
            return scanFloatGeneral(start, end, negative, value);
        exp10 += down ? -e : e;
    }
    float f;
    if (!number_reader_detail::fastDecimalToFloat(m, exp10, &f))
        return scanFloatGeneral(start, end, negative, value);
    *value = negative ? -f : f;
    return p;
}
