#include "read/tiff_reader.h"

#include "container/quoted_text.h"
#include "read/data_file.h"
#include "read/memory_refusal.h"
#include "read/slice_folder.h"
#include "read/tiff_description.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <tiffio.h>

bool startsWithTiff(const uint8_t* head, size_t size) {
    return size >= 4 && (memcmp(head, "II*\0", 4) == 0 || memcmp(head, "MM\0*", 4) == 0 ||
                         memcmp(head, "II+\0", 4) == 0 || memcmp(head, "MM\0+", 4) == 0);
}

namespace {

const char* const tiffExtensions[] = {".tif", ".tiff", nullptr};

// The bytes libtiff reads through its client procedures, and the first
// complaint it made (its messages are ours to word, never printed).
struct TiffSource {
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    uint64_t position = 0;
    std::string complaint;
};

tmsize_t readBytes(thandle_t handle, void* buffer, tmsize_t length) {
    TiffSource& source = *static_cast<TiffSource*>(handle);
    if (length <= 0 || source.position >= source.size)
        return 0;
    const uint64_t n = std::min<uint64_t>(uint64_t(length), source.size - source.position);
    memcpy(buffer, source.data + source.position, size_t(n));
    source.position += n;
    return tmsize_t(n);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t seekTo(thandle_t handle, toff_t offset, int whence) {
    TiffSource& source = *static_cast<TiffSource*>(handle);
    const uint64_t base = whence == SEEK_CUR   ? source.position
                          : whence == SEEK_END ? source.size
                                               : 0;
    // An offset past any file is a header's lie: refused, not wrapped.
    if (offset > (uint64_t(1) << 62) || base + offset > (uint64_t(1) << 62))
        return toff_t(-1);
    source.position = base + offset;
    return source.position;
}

int closeNothing(thandle_t) {
    return 0;
}

toff_t sizeOf(thandle_t handle) {
    return static_cast<TiffSource*>(handle)->size;
}

// The bytes are in memory already: libtiff reads them in place.
int mapBytes(thandle_t handle, void** base, toff_t* size) {
    TiffSource& source = *static_cast<TiffSource*>(handle);
    *base = const_cast<uint8_t*>(source.data);
    *size = source.size;
    return 1;
}

void unmapNothing(thandle_t, void*, toff_t) {}

int keepComplaint(TIFF*, void* user, const char* module, const char* format, va_list args) {
    std::string& complaint = static_cast<TiffSource*>(user)->complaint;
    if (complaint.empty()) {
        char text[512];
        vsnprintf(text, sizeof text, format, args);
        complaint = escapedText(std::string(module ? module : "libtiff") + ": " + text, 300);
    }
    return 1;
}

int ignoreWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct OpenTiff {
    TiffSource source;
    TIFF* tif = nullptr;
};

bool openTiff(const uint8_t* data, size_t size, int64_t maxBytes, OpenTiff& open,
              std::string& reason) {
    open.source.data = data;
    open.source.size = size;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(maxBytes));
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepComplaint, &open.source);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreWarning, &open.source);
    open.tif = TIFFClientOpenExt("input", "r", &open.source, readBytes, writeNothing, seekTo,
                                 closeNothing, sizeOf, mapBytes, unmapNothing, options);
    TIFFOpenOptionsFree(options);
    if (!open.tif) {
        reason = "libtiff cannot open it (" +
                 (open.source.complaint.empty() ? std::string("no reason given")
                                                : open.source.complaint) +
                 ")";
        return false;
    }
    return true;
}

void closeTiff(OpenTiff& open) {
    if (open.tif)
        TIFFClose(open.tif);
    open.tif = nullptr;
}

// Closes the file on every way out of a reader.
struct ClosedOnReturn {
    OpenTiff& open;
    ~ClosedOnReturn() {
        closeTiff(open);
    }
};

// "libtiff: WHAT" for a refusal after libtiff complained, else `fallback`.
std::string complaintOr(const OpenTiff& open, const std::string& fallback) {
    return open.source.complaint.empty() ? fallback : fallback + " (" + open.source.complaint + ")";
}

struct PageFormat {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 1, sampleFormat = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK, compression = COMPRESSION_NONE;
    bool tiled = false;
    uint32_t tileWidth = 0, tileHeight = 0, rowsPerStrip = 0;
    SampleType type = SampleType::uint8;
};

bool sampleTypeOf(uint16_t bits, uint16_t format, SampleType& type) {
    struct Kind {
        uint16_t bits, format;
        SampleType type;
    };
    static const Kind kinds[] = {
        {8, SAMPLEFORMAT_UINT, SampleType::uint8},
        {8, SAMPLEFORMAT_INT, SampleType::int8},
        {16, SAMPLEFORMAT_UINT, SampleType::uint16},
        {16, SAMPLEFORMAT_INT, SampleType::int16},
        {32, SAMPLEFORMAT_UINT, SampleType::uint32},
        {32, SAMPLEFORMAT_INT, SampleType::int32},
        {32, SAMPLEFORMAT_IEEEFP, SampleType::float32},
        {64, SAMPLEFORMAT_UINT, SampleType::uint64},
        {64, SAMPLEFORMAT_INT, SampleType::int64},
        {64, SAMPLEFORMAT_IEEEFP, SampleType::float64},
    };
    for (const Kind& kind : kinds)
        if (kind.bits == bits && kind.format == format) {
            type = kind.type;
            return true;
        }
    return false;
}

// The current page's layout, or a refusal naming `page` for what is not read.
bool readPageFormat(TIFF* tif, const std::string& page, PageFormat& format, std::string& reason) {
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &format.width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &format.height) || format.width == 0 ||
        format.height == 0) {
        reason = page + " has no width or height";
        return false;
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &format.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &format.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format.sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &format.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &format.compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &format.photometric))
        format.photometric = format.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    // JPEG's YCbCr comes out as RGB when libtiff is asked to convert it.
    if (format.photometric == PHOTOMETRIC_YCBCR && format.compression == COMPRESSION_JPEG &&
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
        format.photometric = PHOTOMETRIC_RGB;
    if (!sampleTypeOf(format.bits, format.sampleFormat, format.type)) {
        reason = page + " has " + std::to_string(format.bits) + "-bit samples of format " +
                 std::to_string(format.sampleFormat) +
                 "; this reads 8, 16, 32 and 64-bit unsigned, signed and float samples";
        return false;
    }
    const bool color = format.photometric == PHOTOMETRIC_RGB &&
                       (format.samples == 3 || format.samples == 4) &&
                       format.type == SampleType::uint8;
    if (!color &&
        (format.samples != 1 || format.photometric == PHOTOMETRIC_RGB ||
         format.photometric == PHOTOMETRIC_YCBCR || format.photometric == PHOTOMETRIC_SEPARATED)) {
        reason = page + " has " + std::to_string(format.samples) +
                 " samples per pixel of photometric interpretation " +
                 std::to_string(format.photometric) +
                 "; this reads one grey sample, or 8-bit RGB or RGBA";
        return false;
    }
    format.tiled = TIFFIsTiled(tif) != 0;
    if (format.tiled) {
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &format.tileWidth) ||
            !TIFFGetField(tif, TIFFTAG_TILELENGTH, &format.tileHeight) || format.tileWidth == 0 ||
            format.tileHeight == 0) {
            reason = page + " is tiled without a tile size";
            return false;
        }
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &format.rowsPerStrip);
        format.rowsPerStrip = std::min(std::max<uint32_t>(format.rowsPerStrip, 1), format.height);
    }
    return true;
}

bool sameLayout(const PageFormat& a, const PageFormat& b) {
    return a.width == b.width && a.height == b.height && a.type == b.type && a.samples == b.samples;
}

std::string layoutText(const PageFormat& format) {
    return std::to_string(format.width) + " x " + std::to_string(format.height) + " " +
           sampleTypeName(format.type) +
           (format.samples > 1 ? " x " + std::to_string(format.samples) : "");
}

size_t pageBytes(const PageFormat& format) {
    return size_t(format.width) * format.height * format.samples * sampleTypeSize(format.type);
}

// An uncompressed page's strips or tiles must hold its bytes within the
// file (libtiff may cut one long strip into rows and count them anew);
// compressed ones are held to the memory cap as they are decoded.
bool pagePresent(TIFF* tif, uint64_t fileSize, const PageFormat& format, const std::string& page,
                 std::string& reason) {
    if (format.compression != COMPRESSION_NONE)
        return true;
    const uint32_t pieces = format.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    uint64_t stored = 0;
    for (uint32_t n = 0; n < pieces; ++n) {
        const uint64_t at = TIFFGetStrileOffset(tif, n);
        if (at < fileSize)
            stored += std::min<uint64_t>(TIFFGetStrileByteCount(tif, n), fileSize - at);
    }
    if (stored < pageBytes(format)) {
        reason = page + "'s strips hold " + std::to_string(stored) + " bytes of the file; its " +
                 layoutText(format) + " samples need " + std::to_string(pageBytes(format));
        return false;
    }
    return true;
}

// Decodes the current page into `dest` (rows from the top, the samples of a
// pixel together), whatever its strips, tiles and planar configuration.
bool decodePage(OpenTiff& open, const PageFormat& format, const std::string& page, uint8_t* dest,
                std::vector<uint8_t>& scratch, int64_t maxBytes, std::string& reason) {
    TIFF* tif = open.tif;
    const size_t item = sampleTypeSize(format.type);
    const size_t pixel = item * format.samples;
    const size_t rowBytes = size_t(format.width) * pixel;
    const bool separate = format.planar == PLANARCONFIG_SEPARATE && format.samples > 1;
    const int planes = separate ? format.samples : 1;
    // Where the samples of one piece (its own width, its plane) go.
    auto place = [&](const uint8_t* piece, uint32_t x0, uint32_t y0, uint32_t pieceWidth,
                     uint32_t rows, int plane) {
        const uint32_t columns = std::min(pieceWidth, format.width - x0);
        const size_t pieceItem = separate ? item : pixel;
        for (uint32_t r = 0; r < rows && y0 + r < format.height; ++r) {
            const uint8_t* from = piece + size_t(r) * pieceWidth * pieceItem;
            uint8_t* to = dest + size_t(y0 + r) * rowBytes + size_t(x0) * pixel;
            if (!separate) {
                memcpy(to, from, size_t(columns) * pixel);
                continue;
            }
            for (uint32_t c = 0; c < columns; ++c)
                memcpy(to + c * pixel + plane * item, from + c * item, item);
        }
    };
    auto failed = [&](const char* what, uint32_t index) {
        reason = complaintOr(open, page + "'s " + what + " " + std::to_string(index) +
                                       " does not decode");
        return false;
    };
    if (format.tiled) {
        // A tile may claim to be far larger than its page: held to the cap
        // before its buffer is allocated.
        const int64_t tileDims[3] = {format.tileWidth, format.tileHeight, 1};
        if (checkedSampleCount(tileDims, separate ? item : pixel, maxBytes) < 0) {
            reason = memoryRefusal(page + "'s tile of " + std::to_string(format.tileWidth) + " x " +
                                       std::to_string(format.tileHeight),
                                   claimedSampleBytes(tileDims, separate ? item : pixel), maxBytes);
            return false;
        }
        const size_t tileBytes =
            size_t(format.tileWidth) * format.tileHeight * (separate ? item : pixel);
        scratch.resize(tileBytes);
        for (int plane = 0; plane < planes; ++plane)
            for (uint32_t y = 0; y < format.height; y += format.tileHeight)
                for (uint32_t x = 0; x < format.width; x += format.tileWidth) {
                    const uint32_t tile = TIFFComputeTile(tif, x, y, 0, uint16_t(plane));
                    if (TIFFReadEncodedTile(tif, tile, scratch.data(), tmsize_t(tileBytes)) !=
                        tmsize_t(tileBytes))
                        return failed("tile", tile);
                    place(scratch.data(), x, y, format.tileWidth, format.tileHeight, plane);
                }
        return true;
    }
    const uint32_t stripsPerPlane = (format.height + format.rowsPerStrip - 1) / format.rowsPerStrip;
    scratch.resize(size_t(format.rowsPerStrip) * format.width * (separate ? item : pixel));
    for (int plane = 0; plane < planes; ++plane)
        for (uint32_t s = 0; s < stripsPerPlane; ++s) {
            const uint32_t y = s * format.rowsPerStrip;
            const uint32_t rows = std::min(format.rowsPerStrip, format.height - y);
            const uint32_t strip = uint32_t(plane) * stripsPerPlane + s;
            const size_t wanted = size_t(rows) * format.width * (separate ? item : pixel);
            if (TIFFReadEncodedStrip(tif, strip, scratch.data(), tmsize_t(wanted)) !=
                tmsize_t(wanted))
                return failed("strip", strip);
            place(scratch.data(), 0, y, format.width, rows, plane);
        }
    return true;
}

// Sets the volume's layout for `slices` pages of `format` held one after
// another in out.storage, rows from the top: y runs up the image.
void setStackLayout(const PageFormat& format, int64_t slices, SampleVolume& out) {
    const int64_t samples = format.samples;
    out.dims[0] = format.width;
    out.dims[1] = format.height;
    out.dims[2] = slices;
    out.type = format.type;
    out.strides[0] = samples;
    out.strides[1] = -int64_t(format.width) * samples;
    out.strides[2] = int64_t(format.width) * format.height * samples;
    out.offset = size_t(format.height - 1) * format.width * samples * sampleTypeSize(format.type);
    if (samples > 1) {
        out.channels = samples;
        out.channelStride = 1;
        out.meaning = SampleMeaning::occupancy;
    } else {
        out.meaning = SampleMeaning::values;
    }
    out.positionSource = "the image's size";
}

// Refuses `slices` pages of `format` beyond `maxBytes`, before they are
// allocated.
bool stackFits(const PageFormat& format, int64_t slices, int64_t maxBytes, std::string& reason) {
    const int64_t dims[3] = {format.width, format.height, slices};
    const size_t item = sampleTypeSize(format.type) * format.samples;
    if (checkedSampleCount(dims, item, maxBytes) >= 0)
        return true;
    reason = memoryRefusal("the stack of " + std::to_string(slices) +
                               (slices == 1 ? " page of " : " pages of ") + layoutText(format) +
                               " samples",
                           claimedSampleBytes(dims, item), maxBytes);
    return false;
}

std::string descriptionOf(TIFF* tif) {
    const char* text = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) || !text)
        return "";
    return text;
}

// ImageJ's x and y spacing is the inverse of its resolution (pixels per unit).
void imageJSpacing(TIFF* tif, TiffStackPlan& plan) {
    const ttag_t tags[2] = {TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION};
    for (int a = 0; a < 2; ++a) {
        float resolution = 0;
        if (TIFFGetField(tif, tags[a], &resolution) && std::isfinite(resolution) && resolution > 0)
            plan.spacing[a] = 1.0 / resolution;
    }
}

void setSpacing(const TiffStackPlan& plan, SampleVolume& out) {
    for (int a = 0; a < 3; ++a)
        out.spacing[a] =
            plan.spacing[a] > 0 && std::isfinite(plan.spacing[a]) ? plan.spacing[a] : 1.0;
    if (*plan.source)
        out.spacingSource = std::string(plan.source) == "ImageJ"
                                ? "ImageJ's XResolution, YResolution and spacing"
                                : "OME-XML's PhysicalSizeX, Y and Z";
}

std::string pageName(int64_t index) {
    return "page " + std::to_string(index + 1);
}

} // namespace

bool parseTiff(const uint8_t* data, size_t size, int64_t maxBytes, SampleVolume& out,
               std::string& reason) {
    OpenTiff open;
    if (!openTiff(data, size, maxBytes, open, reason))
        return false;
    const ClosedOnReturn closer{open};
    // Every page's header is looked at before any page is decoded; a chain
    // of pages that loops back (or runs off the file) leaves libtiff's count
    // short of a last page.
    const tdir_t pages = TIFFNumberOfDirectories(open.tif);
    if (!open.source.complaint.empty() || pages == 0 || !TIFFSetDirectory(open.tif, pages - 1) ||
        !TIFFLastDirectory(open.tif)) {
        reason = complaintOr(open, "its chain of pages loops back or does not read to its end");
        return false;
    }
    if (!TIFFSetDirectory(open.tif, 0)) {
        reason = complaintOr(open, "its first page does not read");
        return false;
    }
    PageFormat first;
    if (!readPageFormat(open.tif, pageName(0), first, reason))
        return false;
    TiffStackPlan plan;
    if (!readTiffDescription(descriptionOf(open.tif), first.samples, plan, reason))
        return false;
    if (plan.slices == 0)
        plan.slices = pages;
    else if (plan.pages > int64_t(pages)) {
        reason = "its " + std::string(plan.source) + " description counts " +
                 std::to_string(plan.pages) + " pages; the file holds " + std::to_string(pages);
        return false;
    }
    if (std::string(plan.source) == "ImageJ")
        imageJSpacing(open.tif, plan);
    if (!stackFits(first, plan.slices, maxBytes, reason))
        return false;
    // Each page to read: the layout of the first, its samples present.
    std::vector<PageFormat> formats(size_t(plan.slices));
    for (int64_t slice = 0; slice < plan.slices; ++slice) {
        const int64_t index = slice * plan.pageStep;
        const std::string page = pageName(index);
        PageFormat& format = formats[size_t(slice)];
        if (!TIFFSetDirectory(open.tif, tdir_t(index))) {
            reason = complaintOr(open, page + " does not read");
            return false;
        }
        if (!readPageFormat(open.tif, page, format, reason))
            return false;
        if (!sameLayout(format, first)) {
            reason = page + " is " + layoutText(format) + "; the first is " + layoutText(first);
            return false;
        }
        if (!pagePresent(open.tif, size, format, page, reason))
            return false;
    }
    out = SampleVolume();
    const size_t bytesPerPage = pageBytes(first);
    out.storage.resize(bytesPerPage * size_t(plan.slices));
    setStackLayout(first, plan.slices, out);
    setSpacing(plan, out);
    std::vector<uint8_t> scratch;
    for (int64_t slice = 0; slice < plan.slices; ++slice) {
        const int64_t index = slice * plan.pageStep;
        if (!TIFFSetDirectory(open.tif, tdir_t(index)) ||
            !decodePage(open, formats[size_t(slice)], pageName(index),
                        out.storage.data() + size_t(slice) * bytesPerPage, scratch, maxBytes,
                        reason)) {
            if (reason.empty())
                reason = complaintOr(open, pageName(index) + " does not read");
            return false;
        }
    }
    return true;
}

bool isTiffFolder(const char* folder) {
    std::vector<std::string> names;
    std::string ignored;
    return sliceNames(folder, tiffExtensions, names, ignored) && !names.empty();
}

bool readTiffFolder(const char* folder, const ReadOptions& options, SampleVolume& out,
                    std::string& reason) {
    std::vector<std::string> names;
    if (!sliceNames(folder, tiffExtensions, names, reason))
        return false;
    if (names.empty()) {
        reason = "the folder holds no .tif or .tiff slices";
        return false;
    }
    PageFormat first;
    size_t bytesPerPage = 0;
    std::vector<uint8_t> bytes, scratch;
    out = SampleVolume();
    for (size_t n = 0; n < names.size(); ++n) {
        const std::string path = std::string(folder) + "/" + names[n];
        const std::string slice = "its slice " + shownPath(names[n]);
        DataFile file;
        if (!openDataFile(path, "slice", options.output, file, reason))
            return false;
        if (file.size > options.maxBytes) {
            closeDataFile(file);
            reason = memoryRefusal(slice, file.size, options.maxBytes);
            return false;
        }
        const bool read = readDataBytes(file, path, 0, size_t(file.size), bytes, reason);
        closeDataFile(file);
        if (!read)
            return false;
        OpenTiff open;
        if (!openTiff(bytes.data(), bytes.size(), options.maxBytes, open, reason)) {
            reason = slice + ": " + reason;
            return false;
        }
        const ClosedOnReturn closer{open};
        PageFormat format;
        if (!readPageFormat(open.tif, slice, format, reason))
            return false;
        if (!pagePresent(open.tif, bytes.size(), format, slice, reason))
            return false;
        if (n == 0) {
            first = format;
            if (!stackFits(first, int64_t(names.size()), options.maxBytes, reason))
                return false;
            bytesPerPage = pageBytes(first);
            out.storage.resize(bytesPerPage * names.size());
            setStackLayout(first, int64_t(names.size()), out);
        } else if (!sameLayout(format, first)) {
            reason = slice + " is " + layoutText(format) + "; the first, " + shownPath(names[0]) +
                     ", is " + layoutText(first);
            return false;
        }
        if (TIFFReadDirectory(open.tif)) {
            reason = slice + " holds more than one page; a folder's slices are single pages";
            return false;
        }
        if (!TIFFSetDirectory(open.tif, 0) ||
            !decodePage(open, format, slice, out.storage.data() + n * bytesPerPage, scratch,
                        options.maxBytes, reason)) {
            if (reason.empty())
                reason = complaintOr(open, slice + " does not read");
            return false;
        }
    }
    return true;
}

namespace {

bool readTiffSamples(const uint8_t* data, size_t size, const ReadOptions& options,
                     SampleVolume& out, std::string& reason) {
    return parseTiff(data, size, options.maxBytes, out, reason);
}

int64_t tiffFolderBytes(const char* folder) {
    return sliceBytes(folder, tiffExtensions);
}

} // namespace

const char tiffTitle[] = "TIFF";
const char tiffHelp[] =
    "stacks (.tif, .tiff, a multi-page file or a folder of single-page slices taken in the "
    "natural order of their names: img_2 before img_10), through libtiff: 8 to 64-bit "
    "unsigned, signed or float grey, in strips or tiles, of any compression libtiff "
    "decodes; need --threshold, grey by value. 8-bit RGB or RGBA is colours. An ImageJ "
    "hyperstack or OME-TIFF gives the slices of its first channel and time point, spaced by "
    "ImageJ's resolution and spacing or OME's physical sizes. A stack states no "
    "orientation: x runs along the rows, y up the image (its top row highest), z through "
    "the pages, the first lowest.";

extern const InputFormat tiffInput = {"TIFF",          {".tif", ".tiff"}, startsWithTiff, nullptr,
                                      readTiffSamples, ColorMode::grey,   nullptr,        nullptr,
                                      tiffTitle,       tiffHelp};

namespace {

bool claimsNoBytes(const uint8_t*, size_t) {
    return false;
}

bool readTiffFolderSamples(const char* path, const ReadOptions& options, SampleVolume& out,
                           std::string& reason) {
    return readTiffFolder(path, options, out, reason);
}

} // namespace

// A folder is no bytes: only findInputFolder chooses this row.
extern const InputFormat tiffFolderInput = {
    "TIFF slices",         {},           claimsNoBytes,  nullptr,   nullptr,
    ColorMode::grey,       nullptr,      nullptr,        tiffTitle, tiffHelp,
    readTiffFolderSamples, isTiffFolder, tiffFolderBytes};
