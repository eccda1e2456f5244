// The whole-record reader against the C library's sscanf, number by number:
// it must read every plain record it takes to the bit, stop exactly before
// the first record it cannot take, and leave the text where "%d" would.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "dual_load.h"
#include "model/number_reader.h"
#include "model/plain_records.h"
#include "model/voxel_model.h"

namespace {

const char whiteSpace[] = " \t\n\v\f\r";

// A plain decimal of a random shape: sign or not, up to eight digits either
// side of an optional point, now and then up to fifteen characters.
std::string plainFloatText(std::mt19937_64& random) {
    std::string text = random() % 3 == 0 ? "-" : random() % 8 == 0 ? "+" : "";
    bool longer = random() % 10 == 0;
    int whole = int(random() % (longer ? 10 : 5));
    int fraction = int(random() % 6);
    if (whole + fraction == 0)
        whole = 1;
    bool point = fraction > 0 || random() % 4 == 0;
    for (int i = 0; i < whole; ++i)
        text += char('0' + random() % 10);
    if (point)
        text += '.';
    for (int i = 0; i < fraction; ++i)
        text += char('0' + random() % 10);
    return text;
}

// A plain integer: mostly colours, now and then signed or up to 15 digits.
std::string plainIntText(std::mt19937_64& random) {
    if (random() % 4)
        return std::to_string(random() % 256);
    std::string text = random() % 2 ? "-" : "+";
    int digits = 1 + int(random() % 15);
    for (int i = 0; i < digits; ++i)
        text += char('0' + random() % 10);
    return text;
}

std::string separator(std::mt19937_64& random) {
    std::string text(1, whiteSpace[random() % 6]);
    while (random() % 4 == 0)
        text += whiteSpace[random() % 6];
    return text;
}

struct Records {
    std::string text;
    std::vector<std::string> numbers; // six per record
};

Records plainRecords(std::mt19937_64& random, int count) {
    Records r;
    for (int i = 0; i < 6 * count; ++i) {
        r.numbers.push_back(i % 6 < 3 ? plainFloatText(random) : plainIntText(random));
        r.text += r.numbers.back() + separator(random);
    }
    return r;
}

// Records as exporters write them: four places under a thousand, and colours.
// Such values are never halfway between two floats, so the reader takes all.
Records typicalRecords(std::mt19937_64& random, int count) {
    Records r;
    char number[32];
    for (int i = 0; i < 6 * count; ++i) {
        if (i % 6 < 3)
            snprintf(number, sizeof number, "%.4f",
                     double(int(random() % 19999999) - 9999999) / 1e4);
        else
            snprintf(number, sizeof number, "%d", int(random() % 256));
        r.numbers.push_back(number);
        r.text += r.numbers.back() + separator(random);
    }
    return r;
}

std::string writeScratch(const std::string& text) {
    const char* tmp = getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/voxscope-plain-XXXXXX";
    int fd = mkstemp(&path[0]);
    if (fd < 0 || write(fd, text.data(), text.size()) != ssize_t(text.size()))
        abort();
    close(fd);
    return path;
}

// Checks record `i` read into positions/colors against sscanf on its numbers.
void expectRecordAsCLibraryReadsIt(const Records& r, int i, const float* positions,
                                   const uint8_t* colors) {
    for (int k = 0; k < 3; ++k) {
        const std::string& number = r.numbers[6 * size_t(i) + k];
        float expected = 0.0f;
        ASSERT_EQ(sscanf(number.c_str(), "%f", &expected), 1) << number;
        EXPECT_EQ(memcmp(&expected, &positions[3 * i + k], sizeof(float)), 0)
            << "record " << i << ": \"" << number << "\" read as " << positions[3 * i + k];
        const std::string& color = r.numbers[6 * size_t(i) + 3 + k];
        int value = 0;
        ASSERT_EQ(sscanf(color.c_str(), "%d", &value), 1) << color;
        EXPECT_EQ(colors[3 * i + k], uint8_t(value)) << "record " << i << ": \"" << color << "\"";
    }
}

// Where the record reader stops, the text is right after the last record it
// read; the caller reads the next record with the general scanners and hands
// back. A few plain numbers stop it (a value exactly halfway between two
// floats needs the general conversion), but it must read nearly all.
TEST(PlainRecords, ReadEveryPlainShapeAsTheCLibraryDoes) {
    ASSERT_TRUE(plainRecordsEnabled) << "this processor lacks the vector instructions";
    std::mt19937_64 random(1208);
    const int count = 20000;
    Records r = plainRecords(random, count);
    std::vector<float> positions(3 * count);
    std::vector<uint8_t> colors(3 * count);
    std::vector<bool> readHere(count, false);
    const char* p = r.text.data();
    const char* end = p + r.text.size();
    size_t numberEnd = 0; // just after the last number read, in r.text
    int plain = 0;
    for (int i = 0; i < count;) {
        int32_t read =
            readPlainRecords(&p, end, count - i, &positions[3 * size_t(i)], &colors[3 * size_t(i)]);
        for (int k = 0; k < 6 * read; ++k)
            numberEnd = r.text.find(r.numbers[6 * size_t(i) + k], numberEnd) +
                        r.numbers[6 * size_t(i) + k].size();
        ASSERT_EQ(size_t(p - r.text.data()), numberEnd) << "after record " << i + read - 1;
        for (int k = 0; k < read; ++k)
            readHere[size_t(i + k)] = true;
        plain += read;
        i += read;
        if (i == count)
            break;
        // The general scanners take the record the reader left.
        int32_t color[3];
        for (int k = 0; k < 3; ++k)
            ASSERT_NE(p = scanFloatInline(p, end, &positions[3 * size_t(i) + k]), nullptr);
        for (int k = 0; k < 3; ++k)
            ASSERT_NE(p = scanIntInline(p, end, &color[k]), nullptr);
        for (int k = 0; k < 3; ++k)
            colors[3 * size_t(i) + k] = uint8_t(color[k]);
        numberEnd = size_t(p - r.text.data());
        ++i;
    }
    EXPECT_GE(plain, count * 99 / 100);
    for (int i = 0; i < count; ++i)
        if (readHere[size_t(i)])
            expectRecordAsCLibraryReadsIt(r, i, positions.data(), colors.data());
}

// One record in the middle holds something only the general scanners may
// read; the reader stops just before it, whichever of the six it is.
TEST(PlainRecords, StopBeforeTheFirstRecordTheyCannotReadExactly) {
    ASSERT_TRUE(plainRecordsEnabled);
    const char* positionOnly[] = {"1e5",
                                  "1.5E-3",
                                  "0x1p3",
                                  "0X10",
                                  "inf",
                                  "-NaN",
                                  "1.2.3",
                                  "12abc",
                                  "-",
                                  "+",
                                  ".",
                                  "-.",
                                  "+-1",
                                  "1234567890.123456",
                                  "1234567890123456",
                                  "5e"};
    const char* colorOnly[] = {"12.5", "1.", ".5", "1234567890123456", "0x1f", "-", "7a"};
    std::mt19937_64 random(99);
    for (int slot = 0; slot < 6; ++slot) {
        const auto& odd = slot < 3 ? positionOnly : colorOnly;
        size_t kinds = slot < 3 ? std::size(positionOnly) : std::size(colorOnly);
        for (size_t kind = 0; kind < kinds; ++kind) {
            Records before = typicalRecords(random, 50);
            Records odd1 = plainRecords(random, 1);
            odd1.numbers[slot] = odd[kind];
            std::string oddText;
            for (const std::string& n : odd1.numbers)
                oddText += n + " ";
            std::string text = before.text + oddText + typicalRecords(random, 50).text;
            SCOPED_TRACE(std::string(odd[kind]) + " as number " + std::to_string(slot));
            std::vector<float> positions(3 * 101);
            std::vector<uint8_t> colors(3 * 101);
            const char* p = text.data();
            int32_t read = readPlainRecords(&p, text.data() + text.size(), 101, positions.data(),
                                            colors.data());
            ASSERT_EQ(read, 50);
            EXPECT_EQ(p, text.data() + before.text.find_last_not_of(whiteSpace) + 1);
            for (int i = 0; i < read; ++i)
                expectRecordAsCLibraryReadsIt(before, i, positions.data(), colors.data());
        }
    }
}

// Too little text, or records cut short, are left to the general scanners.
TEST(PlainRecords, LeaveShortTextAlone) {
    const char* texts[] = {"", "1 2 3 4 5 6 ", "1.5 2.5 3.5 10 20 30\n1.5 2.5"};
    for (const char* text : texts) {
        float positions[6];
        uint8_t colors[6];
        const char* p = text;
        EXPECT_EQ(readPlainRecords(&p, text + strlen(text), 2, positions, colors), 0) << text;
        EXPECT_EQ(p, text);
    }
}

// The loader, with and without the record reader, against the fscanf loop on
// a file that keeps switching between plain records and ones it refuses.
TEST(PlainRecords, LoaderAgreesWithTheFscanfLoopEitherWay) {
    std::mt19937_64 random(4);
    const int count = 5000;
    std::string text = std::to_string(count) + " 0.25\n";
    // Whole numbers only the general scanners read, so that the file still
    // loads and every value is compared.
    const char* oddPositions[] = {"1e3", "0x1p-2", "-inf", "+.5e-1", "12345678901234567890"};
    const char* oddColors[] = {"12345678901234567890", "-9999999999999999"};
    for (int i = 0; i < count; ++i) {
        Records r = plainRecords(random, 1);
        if (random() % 40 == 0) {
            size_t slot = random() % 6;
            r.numbers[slot] = slot < 3 ? oddPositions[random() % std::size(oddPositions)]
                                       : oddColors[random() % std::size(oddColors)];
        }
        for (const std::string& n : r.numbers)
            text += n + separator(random);
    }
    std::string path = writeScratch(text);
    // The file loads, so the comparison covers every value.
    VoxelModel* m = loadVoxels(path.c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->count, count);
    freeVoxelModel(m);
    bool wasEnabled = plainRecordsEnabled;
    for (bool enabled : {true, false}) {
        SCOPED_TRACE(enabled ? "record reader on" : "record reader off");
        plainRecordsEnabled = enabled && wasEnabled;
        EXPECT_EQ(compareLoaders(path.c_str()), "");
    }
    plainRecordsEnabled = wasEnabled;
    unlink(path.c_str());
}

// The second reader's start: counted in whole records of plain text, it is
// the first record that starts at or after the point asked for.
TEST(PlainRecords, RecordStartsAreCountedInWholeRecords) {
    ASSERT_TRUE(plainRecordsEnabled);
    std::mt19937_64 random(31);
    Records r = typicalRecords(random, 3000);
    std::vector<size_t> recordStarts;
    size_t at = 0;
    for (size_t i = 0; i < r.numbers.size(); ++i) {
        at = r.text.find(r.numbers[i], at);
        if (i % 6 == 0)
            recordStarts.push_back(at);
        at += r.numbers[i].size();
    }
    const char* text = r.text.data();
    for (size_t from : {size_t(0), size_t(1), recordStarts[1], recordStarts[1] + 1, size_t(777),
                        r.text.size() / 2, recordStarts[2000] - 1}) {
        SCOPED_TRACE(from);
        int64_t record = -1;
        const char* start = findRecordStart(text, text + from, text + r.text.size(), &record);
        ASSERT_NE(start, nullptr);
        size_t expected = 0;
        while (recordStarts[expected] < from)
            ++expected;
        EXPECT_EQ(record, int64_t(expected));
        EXPECT_EQ(size_t(start - text), recordStarts[expected]);
    }
    // None within the last few dozen bytes, which the readers leave alone.
    int64_t record = -1;
    EXPECT_EQ(findRecordStart(text, text + recordStarts.back(), text + r.text.size(), &record),
              nullptr);
}

// Big files are read by two threads, the second from a record start guessed
// in the middle. Numbers that split or join where white space does not, odd
// records near the middle, too few or too many records and damage in either
// half must all come out as the fscanf loop reads them.
TEST(PlainRecords, BigFilesReadInTwoLoadAsTheFscanfLoopLoadsThem) {
    std::mt19937_64 random(2);
    const int count = 80000;
    // Whole-number coordinates, so that a run that holds two numbers, or two
    // numbers in one run, moves every later number to the next slot or the
    // one before and the file still loads.
    std::vector<std::string> numbers;
    for (int i = 0; i < 6 * count; ++i)
        numbers.push_back(
            std::to_string(i % 6 < 3 ? int(random() % 1999) - 999 : int(random() % 256)));
    auto file = [&](int header, int at, const char* put) {
        std::string text = std::to_string(header) + " 0.5\n";
        for (size_t i = 0; i < numbers.size(); ++i)
            text += (int(i) == at ? std::string(put) : numbers[i]) + (i % 6 == 5 ? "\n" : " ");
        return text;
    };
    const int middle = 3 * count; // the number halfway through
    struct Case {
        const char* what;
        int header, at;
        const char* put;
    } cases[] = {
        {"plain", count, -1, ""},
        {"two numbers in one run, first half", count, 1002, "1.5.5"},
        {"two numbers in one run, second half", count, middle + 1002, "1.5.5"},
        {"a number that joins the next, first half", count, 1000, "5 7-3"},
        {"exponent at the middle", count, middle, "1e3"},
        {"exponent just after the middle", count, middle + 7, "-2.5E-1"},
        {"damage in the first half", count, 2000, "abc"},
        {"damage in the second half", count, middle + 2000, "abc"},
        {"count beyond the records", count + 1, -1, ""},
        {"count ending before the middle", count / 3, -1, ""},
        {"count ending after the middle", count * 2 / 3, -1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = writeScratch(file(c.header, c.at, c.put));
        EXPECT_EQ(compareLoaders(path.c_str()), "");
        unlink(path.c_str());
    }
}

} // namespace
