#include "convert/input_table.h"

#include "convert/format_row.h"
#include "platform/input_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <sys/stat.h>

// --help lists the rows in this order; no two content tests claim the same
// bytes, so the order does not choose between them.
const std::vector<const InputFormat*>& inputFormats() {
    static const std::vector<const InputFormat*> rows = {
        FORMAT_ROW(InputFormat, voxInput),        // read/vox_reader.cpp
        FORMAT_ROW(InputFormat, vxlInput),        // read/vxl_reader.cpp
        FORMAT_ROW(InputFormat, binvoxInput),     // read/binvox_reader.cpp
        FORMAT_ROW(InputFormat, npyInput),        // read/npy_reader.cpp
        FORMAT_ROW(InputFormat, npzInput),        // read/npy_reader.cpp
        FORMAT_ROW(InputFormat, nrrdInput),       // read/nrrd_reader.cpp
        FORMAT_ROW(InputFormat, niftiInput),      // read/nifti_reader.cpp
        FORMAT_ROW(InputFormat, nifti2Input),     // read/nifti_reader.cpp
        FORMAT_ROW(InputFormat, metaImageInput),  // read/metaimage_reader.cpp
        FORMAT_ROW(InputFormat, mghInput),        // read/mgh_reader.cpp
        FORMAT_ROW(InputFormat, dicomInput),      // read/dicom_reader.cpp
        FORMAT_ROW(InputFormat, tiffInput),       // read/tiff_reader.cpp
        FORMAT_ROW(InputFormat, tiffFolderInput), // read/tiff_reader.cpp
        FORMAT_ROW(InputFormat, vdbInput),        // read/vdb_reader.cpp
        FORMAT_ROW(InputFormat, zarrInput),       // read/zarr_reader.cpp
        FORMAT_ROW(InputFormat, hdf5Input),       // read/hdf5_reader.cpp
    };
    return rows;
}

std::string sampleFormatTitles(const char* lastJoin) {
    std::vector<const char*> titles;
    for (const InputFormat* format : inputFormats())
        if (readsSamples(*format) &&
            std::find(titles.begin(), titles.end(), format->helpTitle) == titles.end())
            titles.push_back(format->helpTitle);
    std::string list;
    for (size_t i = 0; i < titles.size(); ++i)
        list += (i == 0 ? "" : i + 1 == titles.size() ? lastJoin : ", ") + std::string(titles[i]);
    return list;
}

std::string formatTitlesWith(bool InputFormat::*flag) {
    std::string list;
    for (const InputFormat* format : inputFormats())
        if (format->*flag && list.find(format->helpTitle) == std::string::npos)
            list += (list.empty() ? "" : " and ") + std::string(format->helpTitle);
    return list;
}

std::string seriesFormatTitles() {
    return formatTitlesWith(&InputFormat::takesSeries);
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

namespace {

// The row whose folder test claims the folder at `path`, and the folder's
// name without a trailing slash.
const InputFormat* claimedFolder(const char* path, std::string& folder) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISDIR(info.st_mode))
        return nullptr;
    folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    for (const InputFormat* format : inputFormats())
        if (format->folder && format->folder(folder.c_str()))
            return format;
    return nullptr;
}

} // namespace

const InputFormat* findInputFolder(const char* path) {
    std::string folder;
    return claimedFolder(path, folder);
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

int64_t seriesFileBytes(const char* path) {
    std::string folder;
    const InputFormat* format = claimedFolder(path, folder);
    if (format)
        path = folder.c_str();
    else {
        std::vector<uint8_t> head;
        std::string error;
        if (!readFileHead(path, inputHeadBytes, head, error))
            return 0;
        format = findInputFormat(head.data(), head.size(), path);
    }
    return format && format->seriesBytes ? format->seriesBytes(path) : 0;
}
