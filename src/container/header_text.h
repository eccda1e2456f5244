// The small pieces of the text headers that binvox and NRRD files begin
// with: words and the numbers they hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Splits `text` at blanks and tabs; with `groupParentheses`, not inside
// parentheses, so that "(1, 0, 0) none" is two words.
std::vector<std::string> splitWords(const std::string& text, bool groupParentheses = false);

// The whole word as a decimal integer that fits 64 bits.
bool wordToInt(const std::string& word, int64_t& value);

// The whole word as a number, as strtod reads it ("nan" and "inf" included).
bool wordToDouble(const std::string& word, double& value);
