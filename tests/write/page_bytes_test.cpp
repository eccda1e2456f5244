// Binary data as a page's text: no character that HTML would change or act
// on is ever written raw, the page's own decoding gives back every byte, the
// rarest values pay for the escapes, and the cost stays within 4 in 256.
#include <gtest/gtest.h>

#include "write/page_bytes.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> encode(const PageByteCode& code, const std::vector<uint8_t>& data) {
    ByteSink sink = openMemorySink();
    putPageBytes(sink, code, data.data(), data.size());
    return std::vector<uint8_t>(sink.buffer.begin(), sink.buffer.end());
}

// What the page does with the text, from the tables as it is given them.
std::vector<uint8_t> decode(const std::string& tableHex, const std::string& rareHex,
                            const std::vector<uint8_t>& text) {
    const auto bytesOf = [](const std::string& hex) {
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
        return bytes;
    };
    const std::vector<uint8_t> table = bytesOf(tableHex), rare = bytesOf(rareHex);
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == pageEscapeByte) {
            const int k = text.at(++i) - '0';
            EXPECT_TRUE(k >= 0 && k < 4) << "escape followed by " << int(text[i]);
            out.push_back(rare.at(size_t(k)));
        } else {
            out.push_back(table.at(text[i]));
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> samples() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> sets;
    std::vector<uint8_t> every;
    for (int round = 0; round < 64; ++round)
        for (int b = 0; b < 256; ++b)
            every.push_back(uint8_t(b));
    sets.push_back({"every value as often", every});
    // The values HTML acts on as the commonest ones.
    std::vector<uint8_t> hostile;
    for (int i = 0; i < 5000; ++i)
        hostile.insert(hostile.end(), {0x00, 0x0d, 0x0a, 0x3c, 0x2f, 0x1b, 0x30, uint8_t(i)});
    sets.push_back({"NUL, CR, <, / and the escape", hostile});
    std::mt19937 random(7);
    std::vector<uint8_t> floats;
    std::normal_distribution<float> normal(0.0f, 40.0f);
    for (int i = 0; i < 20000; ++i) {
        const float value = normal(random);
        const uint32_t index = uint32_t(random() % 70000);
        floats.insert(floats.end(), reinterpret_cast<const uint8_t*>(&value),
                      reinterpret_cast<const uint8_t*>(&value) + 4);
        floats.insert(floats.end(), reinterpret_cast<const uint8_t*>(&index),
                      reinterpret_cast<const uint8_t*>(&index) + 4);
    }
    sets.push_back({"floats and indices", floats});
    sets.push_back({"one value only", std::vector<uint8_t>(1000, 0x3c)});
    sets.push_back({"nothing", {}});
    return sets;
}

TEST(PageBytes, TheTextHoldsNoCharacterHtmlChangesAndDecodesToTheBytes) {
    for (const auto& [name, data] : samples()) {
        SCOPED_TRACE(name);
        const PageByteCode code = choosePageByteCode(data.data(), data.size());
        const std::vector<uint8_t> text = encode(code, data);
        EXPECT_EQ(text.size(), encodedPageLength(code, data.data(), data.size()));
        for (size_t i = 0; i < text.size(); ++i) {
            ASSERT_NE(text[i], 0x00) << "at " << i;
            ASSERT_NE(text[i], 0x0d) << "at " << i;
            ASSERT_NE(text[i], 0x3c) << "at " << i;
            if (text[i] == pageEscapeByte)
                ++i; // its digit
        }
        EXPECT_EQ(decode(byteTableHex(code), rareBytesHex(code), text), data);
    }
}

TEST(PageBytes, TheRarestValuesAreEscapedAndCostAtMostFourIn256) {
    for (const auto& [name, data] : samples()) {
        SCOPED_TRACE(name);
        const PageByteCode code = choosePageByteCode(data.data(), data.size());
        size_t counts[256] = {};
        for (uint8_t b : data)
            ++counts[b];
        size_t mostEscaped = 0, leastKept = SIZE_MAX;
        for (int value = 0; value < 256; ++value) {
            if (code.escapeOf[value] >= 0)
                mostEscaped = std::max(mostEscaped, counts[value]);
            else
                leastKept = std::min(leastKept, counts[value]);
        }
        EXPECT_LE(mostEscaped, leastKept);
        EXPECT_LE(encodedPageLength(code, data.data(), data.size()) - data.size(),
                  data.size() * 4 / 256);
        // Each value kept has a character of its own, a safe one.
        std::vector<bool> used(256, false);
        for (int value = 0; value < 256; ++value) {
            if (code.escapeOf[value] >= 0)
                continue;
            const uint8_t c = code.characterOf[value];
            EXPECT_TRUE(isSafePageCharacter(c)) << value;
            EXPECT_FALSE(used[c]) << value;
            used[c] = true;
        }
    }
}

} // namespace
