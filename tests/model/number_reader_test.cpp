// The in-memory "%d" and "%f" readers against the C library's own sscanf on
// the same characters: same success or failure, same number of characters
// consumed, same bits stored. The C library is the judge, so the cases are
// generated wholesale rather than written out with expected values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "model/number_reader.h"

namespace {

// Empty when both readers agree on `text`, else what differs.
std::string compareWithCLibrary(const std::string& text) {
    const char* begin = text.c_str();
    const char* end = begin + text.size();
    float expectedFloat = 0.0f, gotFloat = 0.0f;
    int used = -1;
    bool expectFloat = sscanf(begin, "%f%n", &expectedFloat, &used) == 1;
    const char* stop = scanFloatInline(begin, end, &gotFloat);
    if (expectFloat != (stop != nullptr))
        return "%f: C library " + std::string(expectFloat ? "reads" : "refuses");
    if (stop && (stop - begin != used || memcmp(&expectedFloat, &gotFloat, sizeof(float)) != 0))
        return "%f: consumed " + std::to_string(stop - begin) + " of " + std::to_string(used) +
               ", value " + std::to_string(gotFloat) + " against " + std::to_string(expectedFloat);
    int expectedInt = 0;
    int32_t gotInt = 0;
    used = -1;
    bool expectInt = sscanf(begin, "%d%n", &expectedInt, &used) == 1;
    stop = scanIntInline(begin, end, &gotInt);
    if (expectInt != (stop != nullptr))
        return "%d: C library " + std::string(expectInt ? "reads" : "refuses");
    if (stop && (stop - begin != used || expectedInt != gotInt))
        return "%d: consumed " + std::to_string(stop - begin) + " of " + std::to_string(used) +
               ", value " + std::to_string(gotInt) + " against " + std::to_string(expectedInt);
    return "";
}

// What follows a number decides where it stops; a long tail also lets the
// readers take their word-at-a-time paths, which need text to spare.
const char* const tails[] = {
    "",
    "                    ",
    "12345678901234567890",
    "9.99999999e99999999 ",
    ".5.5.5.5.5.5.5.5.5.5.5",
    "xp(nan)e-+ inf",
};

// Every string up to `maxLength` characters over `alphabet`, with every tail.
void compareAllStrings(const char* alphabet, int maxLength) {
    const size_t letters = strlen(alphabet);
    int failures = 0;
    std::string text;
    for (const char* tail : tails) {
        for (int length = 0; length <= maxLength; ++length) {
            size_t combinations = 1;
            for (int i = 0; i < length; ++i)
                combinations *= letters;
            for (size_t k = 0; k < combinations && failures < 10; ++k) {
                text.clear();
                for (size_t rest = k, i = 0; i < size_t(length); ++i, rest /= letters)
                    text += alphabet[rest % letters];
                text += tail;
                std::string difference = compareWithCLibrary(text);
                if (!difference.empty()) {
                    ADD_FAILURE() << "\"" << text << "\": " << difference;
                    ++failures;
                }
            }
        }
    }
}

// Every stopping point the formatted input can reach: signs, one or two
// points, exponent markers with and without digits or signs, hexadecimal
// prefixes and exponents, the names of infinity and NaN in any case and cut
// short, and white space of every kind in between.
TEST(NumberReader, AgreesWithTheCLibraryOnEveryShortString) {
    const struct {
        const char* alphabet;
        int maxLength;
    } sets[] = {
        {"0159.eE+-", 6},  {"0.xXpP1f+-", 5},       {"nNaAiIfFtTyY(1", 4},
        {"iInNfFtTyY", 5}, {" \t\n\v\f\r\1-.0", 4}, {"09.- e", 7},
    };
    for (const auto& set : sets) {
        SCOPED_TRACE(set.alphabet);
        compareAllStrings(set.alphabet, set.maxLength);
    }
}

// Values from every part of the range, many near the halfway points between
// two floats where a conversion that rounds twice goes wrong, and integers
// beyond 32 and 64 bits.
TEST(NumberReader, AgreesWithTheCLibraryOnRandomNumbers) {
    std::mt19937_64 random(20261208);
    int failures = 0;
    char text[160];
    auto check = [&failures](const std::string& number) {
        for (const char* tail : {"", " 1 2 3 4 5 6 7 8 9 10"}) {
            std::string difference = compareWithCLibrary(number + tail);
            if (!difference.empty() && failures++ < 10)
                ADD_FAILURE() << "\"" << number << tail << "\": " << difference;
        }
    };
    for (int round = 0; round < 200000; ++round) {
        // Any digits with a point anywhere, an exponent now and then.
        std::string digits = random() % 2 ? "-" : "";
        int count = 1 + int(random() % 24), point = int(random() % (count + 1));
        for (int i = 0; i < count; ++i) {
            if (i == point)
                digits += '.';
            digits += char('0' + random() % 10);
        }
        if (random() % 3 == 0)
            digits += (random() % 2 ? "e" : "E") + std::to_string(int(random() % 100) - 50);
        check(digits);

        // Halfway between two neighbouring floats, printed to a random
        // number of digits, so some land exactly on it and most just beside.
        uint32_t bits = uint32_t(random() % 0x7f800000u);
        float below;
        memcpy(&below, &bits, sizeof below);
        double halfway = (double(below) + double(std::nextafter(below, INFINITY))) / 2;
        int precision = 1 + int(random() % 20);
        snprintf(text, sizeof text, "%.*g", precision, halfway);
        check(text);
        snprintf(text, sizeof text, "%.*f", int(random() % 12), halfway);
        check(text);

        // Whole halfway points beyond 2^24, exact or with a tiny fraction.
        uint64_t odd = (random() % (uint64_t(1) << 25)) | 1;
        double whole = std::ldexp(double(odd), int(random() % 30));
        snprintf(text, sizeof text, "%.0f", whole);
        check(text);
        check(std::string(text) + ".0000000001");

        // Typical coordinates: a few places after the point.
        snprintf(text, sizeof text, "%.*f", int(random() % 9),
                 double(int64_t(random() % 4000000001u) - 2000000000) / 1e4);
        check(text);
    }
}

// Short decimals with a fraction are scaled by a rounded power of ten in
// double precision, which leaves the result a few units of the double away
// from the value: right to the float unless a float midpoint is that close.
// These sit right on, and a few double units either side of, midpoints of
// floats of the size coordinates have, printed to the 15 to 17 digits that
// the fast conversion takes, with and without a sign.
TEST(NumberReader, AgreesWithTheCLibraryNearFloatMidpoints) {
    std::mt19937_64 random(8122026);
    int failures = 0;
    char text[64];
    for (int round = 0; round < 100000; ++round) {
        float below = std::ldexp(1.0f + float(random() % (1u << 23)) / float(1u << 23),
                                 int(random() % 60) - 30);
        double midpoint = (double(below) + double(std::nextafter(below, INFINITY))) / 2;
        double nudged = midpoint;
        for (int units = int(random() % 9) - 4; units != 0; units += units > 0 ? -1 : 1)
            nudged = std::nextafter(nudged, units > 0 ? INFINITY : 0.0);
        snprintf(text, sizeof text, "%s%.*g", random() % 2 ? "-" : "", 15 + int(random() % 3),
                 nudged);
        std::string difference = compareWithCLibrary(std::string(text) + " 1 2 3 4 5 6 7 8 9");
        if (!difference.empty() && failures++ < 10)
            ADD_FAILURE() << "\"" << text << "\": " << difference;
    }
}

// Overlong mantissas and exponents, and integers far beyond 64 bits, which
// the C library saturates in a `long` before keeping the low 32 bits.
TEST(NumberReader, AgreesWithTheCLibraryOnVeryLongNumbers) {
    const std::string longest[] = {
        std::string(400, '9'),
        "-" + std::string(400, '9'),
        "0." + std::string(300, '0') + "1",
        std::string(60, '0') + "1",
        "1" + std::string(38, '0'),
        "1" + std::string(39, '0'),
        "0.000000000000000000000000000000000000000000001401298464324817070923729583289916",
        "340282356779733661637539395458142568447.99999",
        "340282356779733661637539395458142568448",
        "1e" + std::string(30, '9'),
        "1e-" + std::string(30, '9'),
        "-9223372036854775808",
        "-9223372036854775809",
        "9223372036854775807",
        "9223372036854775808",
        "18446744073709551615",
        "18446744073709551616",
        "4294967295",
        "-2147483649",
    };
    for (const std::string& number : longest) {
        for (const char* tail : {"", " 7"}) {
            SCOPED_TRACE(number + tail);
            EXPECT_EQ(compareWithCLibrary(number + tail), "");
        }
    }
}

} // namespace
