// The table of input formats: one row per format (read/input_format.h), and
// how an input finds its row. Content wins over names: first every row's
// content test, then the extensions the rows go by.
#pragma once

#include "read/input_format.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Every row, in the table's order.
const std::vector<const InputFormat*>& inputFormats();

// The row whose content test claims `head` (the input's first bytes, at
// most inputHeadBytes of them), else the row whose extension ends `path`;
// null when none does (a mesh or point cloud, for the importer).
const InputFormat* findInputFormat(const uint8_t* head, size_t size, const char* path);

// The row whose folder test claims the folder at `path`; null when `path`
// is not a folder or no row reads it.
const InputFormat* findInputFolder(const char* path);

// The help titles of the rows that read samples, each once, in the table's
// order, `lastJoin` before the last: what --threshold and --colors apply to.
std::string sampleFormatTitles(const char* lastJoin);

// The titles of the rows that take --series, joined by " and ".
std::string seriesFormatTitles();

// The titles of the rows whose `flag` is set (takesDataset, takesLevel ...),
// joined by " and ".
std::string formatTitlesWith(bool InputFormat::*flag);

// Whether `path` ends in `extension` (given with its dot, lower case),
// ignoring case.
bool hasExtension(const char* path, const char* extension);

// The size of the second file that the header of the regular file at `path`
// names (see SecondFile); 0 when it names none, when no row with such files
// reads it, and for an input that is not a regular file, whose bytes are
// its reader's alone. The memory cap, which grows with the input's size,
// counts it too.
int64_t secondFileBytes(const char* path);

// The bytes of the other files of a series that the input at `path` (a
// folder a row claims, or a file of such a row) brings along (see
// SeriesBytes); 0 for every other input. The memory cap counts them too.
int64_t seriesFileBytes(const char* path);
