#include "model/plain_records.h"

#include "model/number_reader.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define VOXSCOPE_PLAIN_RECORDS 1
#endif

#if VOXSCOPE_PLAIN_RECORDS

namespace {

// Text is classified a chunk at a time: big enough that the per-chunk work
// vanishes, small enough that the start offsets stay in the first-level cache
// and that a record the general scanners must read costs little re-scanning.
constexpr long blockBytes = 64;
constexpr long chunkBytes = 2048;
// A number's 16-byte load starts at most one byte (its sign) past the number,
// and the byte after its sixteen is looked at: so much text must follow the
// last start for every read to stay inside the text.
constexpr long tailMargin = 32;

// For a run of n characters (digits, with a point at `point`, or no point
// when point == n), the byte shuffle that drops the point and moves the
// digits to the end of a 16-byte register, zeros before them.
struct DigitShuffles {
    uint8_t at[17][17][16];
};

constexpr DigitShuffles makeDigitShuffles() {
    DigitShuffles s{};
    for (int n = 0; n <= 16; ++n)
        for (int point = 0; point <= 16; ++point) {
            int digits = point < n ? n - 1 : n;
            for (int j = 0; j < 16; ++j) {
                int k = digits - 16 + j; // which digit lands in byte j
                s.at[n][point][j] = k < 0 ? 0x80 : uint8_t(k < point ? k : k + 1);
            }
        }
    return s;
}

// The same for runs of up to eight digits, ending at byte 7 instead.
constexpr DigitShuffles makeDigitShufflesLow() {
    DigitShuffles s = makeDigitShuffles();
    for (int n = 0; n <= 16; ++n)
        for (int point = 0; point <= 16; ++point)
            for (int j = 0; j < 16; ++j)
                s.at[n][point][j] = j < 8 ? s.at[n][point][j + 8] : 0x80;
    return s;
}

alignas(16) constexpr DigitShuffles digitShuffles = makeDigitShuffles();
alignas(16) constexpr DigitShuffles digitShufflesLow = makeDigitShufflesLow();

#define PLAIN_TARGET __attribute__((target("ssse3,popcnt")))
#define PLAIN_INLINE PLAIN_TARGET inline __attribute__((always_inline))

// Bit i set where byte i of the 64 at p is white space as isspace() sees it
// in the C locale: blank, or \t \n \v \f \r.
PLAIN_INLINE uint64_t whiteSpaceMask(const char* p) {
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i controlsAbove = _mm_set1_epi8('\r' - '\t');
    uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        __m128i fromTab = _mm_sub_epi8(bytes, tab);
        // Unsigned "fromTab <= 4": the minimum equals it exactly then.
        __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(fromTab, controlsAbove), fromTab);
        __m128i space = _mm_or_si128(control, _mm_cmpeq_epi8(bytes, blank));
        mask |= uint64_t(uint16_t(_mm_movemask_epi8(space))) << (16 * i);
    }
    return mask;
}

// Appends base plus the index of each set bit of `bits`, lowest first. The
// first eight, and the next eight when there are more, are written whether
// or not there are so many, so that the common counts take one predictable
// branch; the array must have room for the excess.
PLAIN_INLINE uint32_t* appendBitPositions(uint32_t* out, uint32_t base, uint64_t bits) {
    int count = __builtin_popcountll(bits);
    for (int i = 0; i < 8; ++i) {
        out[i] = base + uint32_t(__builtin_ctzll(bits | (uint64_t(1) << 63)));
        bits &= bits - 1;
    }
    if (count > 8) {
        for (int i = 8; i < 16; ++i) {
            out[i] = base + uint32_t(__builtin_ctzll(bits | (uint64_t(1) << 63)));
            bits &= bits - 1;
        }
        for (int i = 16; i < count; ++i) {
            out[i] = base + uint32_t(__builtin_ctzll(bits));
            bits &= bits - 1;
        }
    }
    return out + count;
}

// The values of the two eight-digit halves of `digits` (digit values 0 to 9,
// first most significant): the first half in the low 32 bits of the result,
// the second above. Pairs, then fours, then eights are combined in the
// register.
PLAIN_INLINE uint64_t eightDigitHalves(__m128i digits) {
    const __m128i tensAndOnes =
        _mm_setr_epi8(10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1);
    const __m128i hundreds = _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1);
    const __m128i tenThousands = _mm_setr_epi16(10000, 1, 10000, 1, 10000, 1, 10000, 1);
    __m128i pairs = _mm_maddubs_epi16(digits, tensAndOnes);
    __m128i fours = _mm_madd_epi16(pairs, hundreds);
    // Each four-digit group is at most 9999, so the signed narrowing is exact.
    __m128i narrowed = _mm_packs_epi32(fours, fours);
    __m128i eights = _mm_madd_epi16(narrowed, tenThousands);
    return uint64_t(_mm_cvtsi128_si64(eights));
}

// The value of all sixteen digits.
PLAIN_INLINE uint64_t sixteenDigitsValue(__m128i digits) {
    uint64_t halves = eightDigitHalves(digits);
    return uint64_t(uint32_t(halves)) * 100000000u + (halves >> 32);
}

struct PlainRun {
    __m128i digits; // the 16 bytes after the sign, less '0'
    unsigned length;
    unsigned point; // index of the point, or `length` when there is none
    unsigned digitCount;
    bool negative;
    const char* after;
};

// The run of digits and points after an optional sign at s, and where it ends.
PLAIN_INLINE PlainRun plainRun(const char* s) {
    PlainRun run;
    run.negative = *s == '-';
    const char* body = s + (run.negative | (*s == '+'));
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(body));
    run.digits = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(run.digits, _mm_set1_epi8(9)), run.digits);
    unsigned digitMask = unsigned(_mm_movemask_epi8(isDigit));
    unsigned pointMask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('.'))));
    // At most 16: bits 16 and up of the complement are always set.
    run.length = unsigned(__builtin_ctz(~(digitMask | pointMask)));
    unsigned points = pointMask & ((1u << run.length) - 1);
    // Two points in a run make it no single number; flag it by length 16,
    // which every caller refuses.
    if (points & (points - 1))
        run.length = 16;
    run.point = points ? unsigned(__builtin_ctz(points)) : run.length;
    run.digitCount = run.length - (points != 0);
    run.after = body + run.length;
    return run;
}

// What "%f" reads whole: a plain decimal that white space ends.
PLAIN_INLINE bool isPlainFloat(const PlainRun& run) {
    return run.length < 16 && run.digitCount > 0 && isSpaceChar(*run.after);
}

// What "%d" reads whole, in fifteen digits at most: those cannot leave a
// long's range, so the C library's value is the digits' value, wrapped.
PLAIN_INLINE bool isPlainInt(const PlainRun& run) {
    return run.length - 1 < 15u && run.point == run.length && isSpaceChar(*run.after);
}

// The value of a run's digits, the point left out, for up to fifteen digits.
PLAIN_INLINE uint64_t runDigitsValue(const PlainRun& run) {
    __m128i order =
        _mm_load_si128(reinterpret_cast<const __m128i*>(digitShuffles.at[run.length][run.point]));
    return sixteenDigitsValue(_mm_shuffle_epi8(run.digits, order));
}

// The digits' values of two runs of up to eight digits each, in one
// register: the first in the low 32 bits of the result, the second above.
PLAIN_INLINE uint64_t pairedDigitsValues(const PlainRun& first, const PlainRun& second) {
    // Eight digits or fewer land in the high half of the sixteen-byte
    // arrangement; the low half's arrangement is the same, eight bytes on.
    __m128i high =
        _mm_shuffle_epi8(second.digits, _mm_load_si128(reinterpret_cast<const __m128i*>(
                                            digitShuffles.at[second.length][second.point])));
    __m128i low =
        _mm_shuffle_epi8(first.digits, _mm_load_si128(reinterpret_cast<const __m128i*>(
                                           digitShufflesLow.at[first.length][first.point])));
    return eightDigitHalves(_mm_or_si128(low, high));
}

// The float "%f" gives for the run with these digits; false when only the
// general conversion can tell.
PLAIN_INLINE bool storeFloat(const PlainRun& run, uint64_t mantissa, float* out) {
    float f;
    if (!number_reader_detail::fastDecimalToFloat(mantissa, int(run.point) - int(run.digitCount),
                                                  &f))
        return false;
    // The sign goes on by its bit: signs come at random in real data, and a
    // branch on them would be mispredicted half the time. "-0" stays -0.
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    bits ^= uint32_t(run.negative) << 31;
    memcpy(out, &bits, sizeof bits);
    return true;
}

// The low eight bits of what "%d" gives for the run with this value.
PLAIN_INLINE uint8_t colorByte(const PlainRun& run, uint64_t value) {
    uint64_t sign = 0 - uint64_t(run.negative);
    return uint8_t((value ^ sign) - sign);
}

PLAIN_TARGET int32_t readPlainRecordsVector(const char** at, const char* end, int32_t wanted,
                                            float* positions, uint8_t* colors) {
    uint32_t starts[chunkBytes / 2 + 16];
    const char* p = *at;
    int32_t done = 0;
    while (done < wanted) {
        long available = long(end - p) - tailMargin;
        if (available < blockBytes)
            break;
        long length = (available < chunkBytes ? available : chunkBytes) & ~(blockBytes - 1);
        // A number starts where white space ends; the text before p counts
        // as white space, as p is where the last number ended.
        uint32_t* last = starts;
        uint64_t spaceBefore = ~uint64_t(0);
        for (long offset = 0; offset < length; offset += blockBytes) {
            uint64_t space = whiteSpaceMask(p + offset);
            uint64_t afterSpace = space << 1 | spaceBefore >> 63;
            spaceBefore = space;
            last = appendBitPositions(last, uint32_t(offset), ~space & afterSpace);
        }
        uint32_t found = uint32_t(last - starts);
        uint32_t k = 0;
        const char* recordEnd = p;
        bool refused = false;
        for (; done < wanted && k + 6 <= found; ++done, k += 6) {
            const uint32_t* number = starts + k;
            PlainRun x = plainRun(p + number[0]), y = plainRun(p + number[1]),
                     z = plainRun(p + number[2]), red = plainRun(p + number[3]),
                     green = plainRun(p + number[4]), blue = plainRun(p + number[5]);
            // Each is a whole number followed by white space, so the next
            // start found is where the C library's next conversion begins.
            if (!(isPlainFloat(x) && isPlainFloat(y) && isPlainFloat(z) && isPlainInt(red) &&
                  isPlainInt(green) && isPlainInt(blue))) {
                refused = true;
                break;
            }
            uint64_t values[6];
            if ((x.digitCount <= 8) & (y.digitCount <= 8) & (z.digitCount <= 8) &
                (red.length <= 8) & (green.length <= 8) & (blue.length <= 8)) {
                uint64_t xy = pairedDigitsValues(x, y), zRed = pairedDigitsValues(z, red),
                         greenBlue = pairedDigitsValues(green, blue);
                values[0] = uint32_t(xy);
                values[1] = xy >> 32;
                values[2] = uint32_t(zRed);
                values[3] = zRed >> 32;
                values[4] = uint32_t(greenBlue);
                values[5] = greenBlue >> 32;
            } else {
                values[0] = runDigitsValue(x);
                values[1] = runDigitsValue(y);
                values[2] = runDigitsValue(z);
                values[3] = runDigitsValue(red);
                values[4] = runDigitsValue(green);
                values[5] = runDigitsValue(blue);
            }
            float* position = positions + 3 * size_t(done);
            if (!storeFloat(x, values[0], &position[0]) ||
                !storeFloat(y, values[1], &position[1]) ||
                !storeFloat(z, values[2], &position[2])) {
                refused = true;
                break;
            }
            uint8_t* color = colors + 3 * size_t(done);
            color[0] = colorByte(red, values[3]);
            color[1] = colorByte(green, values[4]);
            color[2] = colorByte(blue, values[5]);
            recordEnd = blue.after;
        }
        if (k == 0)
            break;
        p = recordEnd;
        if (refused)
            break;
    }
    *at = p;
    return done;
}

PLAIN_TARGET const char* findRecordStartVector(const char* p, const char* from, const char* end,
                                               int64_t* record) {
    long limit = long(end - p) - tailMargin;
    long fromOffset = long(from - p);
    int64_t numbers = 0; // numbers starting before the block at `offset`
    uint64_t spaceBefore = ~uint64_t(0);
    for (long offset = 0; offset + blockBytes <= limit; offset += blockBytes) {
        uint64_t space = whiteSpaceMask(p + offset);
        uint64_t starts = ~space & (space << 1 | spaceBefore >> 63);
        spaceBefore = space;
        if (offset + blockBytes <= fromOffset) {
            numbers += __builtin_popcountll(starts);
            continue;
        }
        for (; starts; starts &= starts - 1) {
            long at = offset + __builtin_ctzll(starts);
            if (at >= fromOffset && numbers % 6 == 0) {
                *record = numbers / 6;
                return p + at;
            }
            ++numbers;
        }
    }
    return nullptr;
}

bool processorHasVectorSupport() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
}

} // namespace

bool plainRecordsEnabled = processorHasVectorSupport();

int32_t readPlainRecords(const char** p, const char* end, int32_t wanted, float* positions,
                         uint8_t* colors) {
    if (!plainRecordsEnabled)
        return 0;
    return readPlainRecordsVector(p, end, wanted, positions, colors);
}

const char* findRecordStart(const char* p, const char* from, const char* end, int64_t* record) {
    if (!plainRecordsEnabled)
        return nullptr;
    return findRecordStartVector(p, from, end, record);
}

#else

bool plainRecordsEnabled = false;

int32_t readPlainRecords(const char**, const char*, int32_t, float*, uint8_t*) {
    return 0;
}

const char* findRecordStart(const char*, const char*, const char*, int64_t*) {
    return nullptr;
}

#endif
