// Text taken from an input file (a zip member's name, a header word, a
// field's value, a data file's name) as a message shows it. A file must not
// be able to break a message's one line, move the cursor, clear the screen
// or turn the text around, so every control character is written as a C
// escape instead of itself.
#pragma once

#include <cstddef>
#include <string>

// `text` with control characters escaped as C writes them: \n, \r, \t, a
// doubled backslash, and \xHH for the other bytes below 32, DEL and bytes
// that are not UTF-8; \uHHHH for the C1 controls, the direction marks,
// overrides and isolates, and the line and paragraph separators. Other UTF-8 characters are kept.
// Only the first `most` bytes are shown (whole characters); "..." follows
// when some were left out.
std::string escapedText(const std::string& text, size_t most = std::string::npos);

// escapedText in double quotes, with \" for the quotes it holds: "name", or
// "long nam"... when cut.
std::string quotedText(const std::string& text, size_t most = 80);
