// Binary data carried as the text of a web page. The page is read as
// windows-1252, where every byte is one character and comes back as it was,
// except three that HTML changes or acts on: NUL, carriage return and "<".
// Those, and the escape byte itself, are never written raw: the four byte
// values rarest in the data are written as the escape byte and a digit, and
// every other value as one character, through a table the page is given.
#pragma once

#include "write/byte_sink.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Starts the two-character form of a rare byte; the digit '0' + k follows.
constexpr uint8_t pageEscapeByte = 0x1b;

struct PageByteCode {
    uint8_t characterOf[256]; // the character written for each byte value
    int8_t escapeOf[256];     // 0 to 3 for the rare values, -1 for the others
    uint8_t byteOf[256];      // what each character stands for (0 for the four never written)
    uint8_t rare[4];          // the escaped values, by digit
};

// Whether `c` may stand raw in the page's text.
bool isSafePageCharacter(uint8_t c);

// The code for `data`: its four rarest byte values escaped.
PageByteCode choosePageByteCode(const uint8_t* data, size_t size);

// The number of characters `data` takes in that code.
size_t encodedPageLength(const PageByteCode& code, const uint8_t* data, size_t size);

// Puts `data` into the sink in that code.
void putPageBytes(ByteSink& sink, const PageByteCode& code, const uint8_t* data, size_t size);

// The tables the page decodes with, in hexadecimal: byteOf (512 digits) and
// rare (8 digits).
std::string byteTableHex(const PageByteCode& code);
std::string rareBytesHex(const PageByteCode& code);
