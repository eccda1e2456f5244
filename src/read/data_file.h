// The second file a volume's header names (an NRRD header's data file, a
// NIfTI .hdr's .img): where it may lie, that it is a regular file, and
// reading no more of it than the header needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The path of the data file `name` that the header at `headerPath` names:
// relative to the header's folder, in that folder or below. An absolute name
// or one that goes through ".." is refused with a sentence in `error`, so
// that a header cannot make the converter read files elsewhere on the
// machine. Links are followed: they are made on the machine, not by the
// header.
bool dataFilePath(const std::string& headerPath, const std::string& name, std::string& path,
                  std::string& error);

// A data file's path as messages show it: its name comes from the header,
// so its control characters are escaped (escapedText).
std::string shownPath(const std::string& path);

struct DataFile {
    int fd = -1;
    int64_t size = 0;
};

// Opens the data file at `path` for reading without waiting on a FIFO, and
// refuses anything but a regular file, and the file `output` names (the
// conversion's output; may be empty). `role` names it in messages ("data
// file", "image file"). On failure `error` is one sentence starting
// "its ROLE".
bool openDataFile(const std::string& path, const char* role, const std::string& output,
                  DataFile& file, std::string& error);

// `length` bytes from `offset` into `bytes`; refused when the file has
// become shorter.
bool readDataBytes(const DataFile& file, const std::string& path, int64_t offset, size_t length,
                   std::vector<uint8_t>& bytes, std::string& error);

// Where the first `lines` lines of the file end, reading no further than
// `most` bytes; -1 when they do not end within them.
int64_t endOfLines(const DataFile& file, int64_t lines, int64_t most);

void closeDataFile(DataFile& file);
