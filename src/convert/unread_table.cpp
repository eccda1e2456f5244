#include "convert/unread_table.h"

#include "container/byte_order.h"
#include "convert/input_table.h"

#include <cstring>
#include <string>

namespace {

bool startsWith(const uint8_t* head, size_t size, const char* magic, size_t length, size_t at = 0) {
    return size >= at + length && memcmp(head + at, magic, length) == 0;
}

// Whether `text` occurs in the first bytes.
bool holds(const uint8_t* head, size_t size, const char* text) {
    const std::string start(reinterpret_cast<const char*>(head), size);
    return start.find(text) != std::string::npos;
}

bool isHdf5(const uint8_t* head, size_t size) {
    return startsWith(head, size, "\x89HDF\r\n\x1a\n", 8);
}

// HDF4 (HDF5's unrelated forerunner, still written by older instruments).
bool isHdf4(const uint8_t* head, size_t size) {
    return startsWith(head, size, "\x0e\x03\x13\x01", 4);
}

bool isNetcdf(const uint8_t* head, size_t size) {
    return startsWith(head, size, "CDF\x01", 4) || startsWith(head, size, "CDF\x02", 4);
}

// An Analyze 7.5 header: NIfTI-1's 348 bytes with no NIfTI magic (a NIfTI
// header is its reader's before this table is asked).
bool isAnalyze(const uint8_t* head, size_t size) {
    return size >= 348 &&
           (readStoredOrder(head, 4, false) == 348 || readStoredOrder(head, 4, true) == 348);
}

bool isParHeader(const uint8_t* head, size_t size) {
    return holds(head, size, "DATA DESCRIPTION FILE");
}

bool isAfniHeader(const uint8_t* head, size_t size) {
    return holds(head, size, "type = ") && holds(head, size, "-attribute");
}

// Content and names: MINC before plain HDF5 and NetCDF, which it is made of.
const UnreadFormat rows[] = {
    {"a MINC-2 volume (HDF5)", isHdf5, {".mnc"}, true},
    {"a MINC-1 volume (NetCDF)", isNetcdf, {".mnc"}, true},
    {"an HDF4 file", isHdf4, {".hdf", ".hdf4", ".h4"}, false},
    {"a NetCDF file", isNetcdf, {".nc"}, false},
    {"an Analyze 7.5 header", isAnalyze, {}, false},
    {"a Philips PAR header", isParHeader, {".par"}, false},
    {"a Philips REC image", nullptr, {".rec"}, false},
    {"an AFNI header", isAfniHeader, {".head"}, false},
    {"an AFNI image", nullptr, {".brik"}, false},
    {"a MINC volume", nullptr, {".mnc"}, false},
};

bool named(const UnreadFormat& row, const char* path) {
    for (const char* extension : row.extensions)
        if (extension && hasExtension(path, extension))
            return true;
    return false;
}

} // namespace

const UnreadFormat* findUnreadFormat(const uint8_t* head, size_t size, const char* path) {
    for (const UnreadFormat& row : rows)
        if (row.content && row.content(head, size) && (!row.nameToo || named(row, path)))
            return &row;
    for (const UnreadFormat& row : rows)
        if (!row.nameToo && named(row, path))
            return &row;
    return nullptr;
}
