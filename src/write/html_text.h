// Text from the input (a file name) made safe to stand in a web page, and
// numbers written for people.
#pragma once

#include <cstdint>
#include <string>

// `text` as HTML that shows it literally, in ASCII alone so that it reads
// the same in any character set: & < > " ' as references, other characters
// of UTF-8 as numeric references, control characters and bytes that are not
// UTF-8 as U+FFFD.
std::string escapeHtml(const std::string& text);

// 1234567 as "1,234,567".
std::string groupedNumber(int64_t value);
