#include "convert/input_table.h"

#include "platform/input_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <sys/stat.h>

// Each line names a row defined at the end of its reader's file in src/read/,
// so that a format is one line here.
#define INPUT_ROW(row)                                                                             \
    [] {                                                                                           \
        extern const InputFormat row;                                                              \
        return &row;                                                                               \
    }()

const std::vector<const InputFormat*>& inputFormats() {
    static const std::vector<const InputFormat*> rows = {
        INPUT_ROW(voxInput),    // read/vox_reader.cpp
        INPUT_ROW(vxlInput),    // read/vxl_reader.cpp
        INPUT_ROW(binvoxInput), // read/binvox_reader.cpp
        INPUT_ROW(npyInput),    // read/npy_reader.cpp
        INPUT_ROW(npzInput),    // read/npy_reader.cpp
        INPUT_ROW(nrrdInput),   // read/nrrd_reader.cpp
        INPUT_ROW(niftiInput),  // read/nifti_reader.cpp
    };
    return rows;
}

bool hasExtension(const char* path, const char* extension) {
    const size_t length = strlen(path), tail = strlen(extension);
    if (length < tail)
        return false;
    for (size_t i = 0; i < tail; ++i)
        if (tolower(static_cast<unsigned char>(path[length - tail + i])) != extension[i])
            return false;
    return true;
}

const InputFormat* findInputFormat(const uint8_t* head, size_t size, const char* path) {
    for (const InputFormat* format : inputFormats())
        if (format->content(head, size))
            return format;
    for (const InputFormat* format : inputFormats())
        for (const char* extension : format->extensions)
            if (extension && hasExtension(path, extension))
                return format;
    return nullptr;
}

int64_t secondFileBytes(const char* path) {
    std::vector<uint8_t> head;
    std::string error;
    // A header is a few hundred bytes; the fields that name a second file
    // come within the first few kilobytes of any real one.
    if (!readFileHead(path, 65536, head, error))
        return 0;
    const InputFormat* format =
        findInputFormat(head.data(), std::min(head.size(), inputHeadBytes), path);
    std::string second;
    if (!format || !format->secondFile ||
        !format->secondFile(path, head.data(), head.size(), second, error) || second.empty())
        return 0;
    struct stat info;
    if (stat(second.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return int64_t(info.st_size);
}
