// Formats a user is likely to hold that vxlconv recognises but does not read
// yet: each is named in one line rather than handed to another reader or the
// mesh importer. Reading one later moves its line to the input table as a
// reader row (its content test with it).
#pragma once

#include "read/input_format.h"

#include <cstddef>
#include <cstdint>

struct UnreadFormat {
    const char* what;          // "a TIFF image": what the file is, in the refusal
    ContentTest content;       // null: known by its name alone
    const char* extensions[3]; // lower case, with the dot; unused entries null
    bool nameToo;              // the content and a name of the list together
};

// The row whose content (with its name, where the row needs both) claims
// `head`, else the row one of whose names ends `path`; null when none does.
// Asked before the reader rows only for a row of content and name together
// (a format built on a read one), else when no reader row claims the input.
const UnreadFormat* findUnreadFormat(const uint8_t* head, size_t size, const char* path);
