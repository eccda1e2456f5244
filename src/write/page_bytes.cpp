#include "write/page_bytes.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// NUL becomes U+FFFD, a carriage return a line feed, and "<" may end the
// script element that holds the data.
constexpr uint8_t unsafeCharacters[4] = {0x00, 0x0d, 0x3c, pageEscapeByte};

std::string hexOf(const uint8_t* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < size; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

} // namespace

bool isSafePageCharacter(uint8_t c) {
    return std::find(std::begin(unsafeCharacters), std::end(unsafeCharacters), c) ==
           std::end(unsafeCharacters);
}

PageByteCode choosePageByteCode(const uint8_t* data, size_t size) {
    size_t counts[256] = {};
    for (size_t i = 0; i < size; ++i)
        ++counts[data[i]];
    int order[256];
    std::iota(order, order + 256, 0);
    std::stable_sort(order, order + 256, [&](int a, int b) { return counts[a] < counts[b]; });

    PageByteCode code;
    std::fill(std::begin(code.escapeOf), std::end(code.escapeOf), int8_t(-1));
    std::fill(std::begin(code.byteOf), std::end(code.byteOf), uint8_t(0));
    for (int k = 0; k < 4; ++k) {
        code.rare[k] = uint8_t(order[k]);
        code.escapeOf[order[k]] = int8_t(k);
    }
    // Safe values stand for themselves. An unsafe value that is not rare
    // takes the character of a rare value that is safe: there are as many
    // of one as of the other.
    std::vector<uint8_t> freed;
    for (uint8_t r : code.rare)
        if (isSafePageCharacter(r))
            freed.push_back(r);
    size_t next = 0;
    for (int value = 0; value < 256; ++value) {
        if (code.escapeOf[value] >= 0)
            continue;
        const uint8_t c = isSafePageCharacter(uint8_t(value)) ? uint8_t(value) : freed[next++];
        code.characterOf[value] = c;
        code.byteOf[c] = uint8_t(value);
    }
    for (uint8_t r : code.rare)
        code.characterOf[r] = pageEscapeByte;
    return code;
}

size_t encodedPageLength(const PageByteCode& code, const uint8_t* data, size_t size) {
    size_t length = size;
    for (size_t i = 0; i < size; ++i)
        length += code.escapeOf[data[i]] >= 0;
    return length;
}

void putPageBytes(ByteSink& sink, const PageByteCode& code, const uint8_t* data, size_t size) {
    std::vector<uint8_t> block;
    constexpr size_t blockBytes = size_t(1) << 16;
    block.reserve(2 * blockBytes);
    for (size_t start = 0; start < size; start += blockBytes) {
        block.clear();
        const size_t end = std::min(size, start + blockBytes);
        for (size_t i = start; i < end; ++i) {
            const int8_t k = code.escapeOf[data[i]];
            if (k < 0) {
                block.push_back(code.characterOf[data[i]]);
            } else {
                block.push_back(pageEscapeByte);
                block.push_back(uint8_t('0' + k));
            }
        }
        putBytes(sink, block.data(), block.size());
    }
}

std::string byteTableHex(const PageByteCode& code) {
    return hexOf(code.byteOf, 256);
}

std::string rareBytesHex(const PageByteCode& code) {
    return hexOf(code.rare, 4);
}
