#include "read/nifti_reader.h"

#include "container/byte_order.h"
#include "container/inflate_stream.h"
#include "platform/input_file.h"
#include "platform/program_name.h"
#include "read/data_file.h"
#include "read/memory_refusal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// Where each field lies: NIfTI-2 is NIfTI-1 with 64-bit fields, in
// another order, behind a 540-byte size and an 8-byte magic.
struct NiftiFields {
    const char* name;
    uint32_t headerSize;
    size_t magicAt, magicLength;
    const char* single; // the magic of a file holding its samples
    const char* pair;   // the magic of a header whose samples are in an .img
    size_t datatypeAt, bitpixAt;
    size_t dimAt, dimBytes;     // dim[0..7]
    size_t pixdimAt, realBytes; // pixdim[0..7], and every real field's size
    size_t voxOffsetAt;         // a float in NIfTI-1, a 64-bit integer in NIfTI-2
    size_t slopeAt, interAt;
    size_t qformAt, sformAt, codeBytes;
    size_t quaternAt, qoffsetAt, srowAt;
};

const NiftiFields nifti1 = {"NIfTI-1", 348, 344, 4,   "n+1\0", "ni1\0", 70, 72,  40,  2,  76,
                            4,         108, 112, 116, 252,     254,     2,  256, 268, 280};
const NiftiFields nifti2 = {"NIfTI-2",
                            540,
                            4,
                            8,
                            "n+2\0\r\n\032\n",
                            "ni2\0\r\n\032\n",
                            12,
                            14,
                            16,
                            8,
                            104,
                            8,
                            168,
                            176,
                            184,
                            344,
                            348,
                            4,
                            352,
                            376,
                            400};

int64_t readInteger(const uint8_t* at, size_t bytes, bool big) {
    const uint64_t bits = readStoredOrder(at, int(bytes), big);
    if (bytes == 2)
        return int16_t(uint16_t(bits));
    if (bytes == 4)
        return int32_t(uint32_t(bits));
    return int64_t(bits);
}

double readReal(const uint8_t* at, size_t bytes, bool big) {
    const uint64_t bits = readStoredOrder(at, int(bytes), big);
    if (bytes == 8) {
        double value;
        memcpy(&value, &bits, sizeof value);
        return value;
    }
    const uint32_t narrow = uint32_t(bits);
    float value;
    memcpy(&value, &narrow, sizeof value);
    return value;
}

// The header's own size field, in either byte order.
bool sizeFieldSays(const uint8_t* data, uint32_t size, bool& big) {
    for (bool order : {false, true})
        if (readStoredOrder(data, 4, order) == size) {
            big = order;
            return true;
        }
    return false;
}

bool typeByCode(int64_t code, SampleType& type) {
    static const std::pair<int, SampleType> codes[] = {
        {2, SampleType::uint8},     {4, SampleType::int16},    {8, SampleType::int32},
        {16, SampleType::float32},  {64, SampleType::float64}, {256, SampleType::int8},
        {512, SampleType::uint16},  {768, SampleType::uint32}, {1024, SampleType::int64},
        {1280, SampleType::uint64},
    };
    for (const auto& entry : codes)
        if (entry.first == code) {
            type = entry.second;
            return true;
        }
    return false;
}

// The rotation of a qform quaternion (b, c, d; a from their unit length),
// column a the direction of index axis a, the third turned by qfac.
void quaternionAxes(double b, double c, double d, double qfac, double axes[3][3]) {
    double sum = b * b + c * c + d * d, a = 0;
    if (sum > 1) {
        const double length = std::sqrt(sum);
        b /= length, c /= length, d /= length;
    } else {
        a = std::sqrt(1 - sum);
    }
    const double rotation[3][3] = {
        {a * a + b * b - c * c - d * d, 2 * (b * c - a * d), 2 * (b * d + a * c)},
        {2 * (b * c + a * d), a * a + c * c - b * b - d * d, 2 * (c * d - a * b)},
        {2 * (b * d - a * c), 2 * (c * d + a * b), a * a + d * d - b * b - c * c}};
    for (int axis = 0; axis < 3; ++axis)
        for (int row = 0; row < 3; ++row)
            axes[axis][row] = rotation[row][axis] * (axis == 2 ? qfac : 1);
}

bool allFinite(const double* values, int count) {
    for (int n = 0; n < count; ++n)
        if (!std::isfinite(values[n]))
            return false;
    return true;
}

// Where the samples lie in the patient's RAS frame: the sform when its code
// is set (its columns give directions and spacings), else the qform (the
// quaternion and qoffset, pixdim the spacings), else pixdim alone with no
// frame. A transform with a column of no length or a number that is not
// finite is passed over for the next.
void readNiftiOrientation(const uint8_t* data, bool big, const NiftiFields& f,
                          SampleLayout& layout) {
    const size_t real = f.realBytes;
    const int64_t qform = readInteger(data + f.qformAt, f.codeBytes, big);
    const int64_t sform = readInteger(data + f.sformAt, f.codeBytes, big);
    if (sform > 0) {
        double rows[3][4];
        for (size_t r = 0; r < 3; ++r)
            for (size_t c = 0; c < 4; ++c)
                rows[r][c] = readReal(data + f.srowAt + real * (4 * r + c), real, big);
        bool usable = allFinite(&rows[0][0], 12);
        double lengths[3];
        for (int a = 0; a < 3 && usable; ++a) {
            lengths[a] = std::sqrt(rows[0][a] * rows[0][a] + rows[1][a] * rows[1][a] +
                                   rows[2][a] * rows[2][a]);
            usable = lengths[a] > 0 && std::isfinite(lengths[a]);
        }
        if (usable) {
            for (int a = 0; a < 3; ++a) {
                layout.spacing[a] = lengths[a];
                layout.origin[a] = rows[a][3];
                for (int r = 0; r < 3; ++r)
                    layout.directions[a][r] = rows[r][a] / lengths[a];
            }
            layout.frame = PatientFrame::ras;
            layout.spacingSource = layout.positionSource = "the \"srow\" rows";
            return;
        }
    }
    if (qform > 0) {
        double quaternion[3], offset[3];
        for (size_t n = 0; n < 3; ++n) {
            quaternion[n] = readReal(data + f.quaternAt + real * n, real, big);
            offset[n] = readReal(data + f.qoffsetAt + real * n, real, big);
        }
        if (allFinite(quaternion, 3)) {
            const double qfac = readReal(data + f.pixdimAt, real, big) < 0 ? -1 : 1;
            quaternionAxes(quaternion[0], quaternion[1], quaternion[2], qfac, layout.directions);
            for (int a = 0; a < 3; ++a)
                layout.origin[a] = std::isfinite(offset[a]) ? offset[a] : 0;
            layout.frame = PatientFrame::ras;
            layout.positionSource = "\"qoffset\" and \"pixdim\"";
        }
    }
}

} // namespace

bool startsWithNiftiHeader(const uint8_t* data, size_t size) {
    bool big = false;
    return size >= nifti1.headerSize && sizeFieldSays(data, nifti1.headerSize, big) &&
           (memcmp(data + nifti1.magicAt, nifti1.single, 4) == 0 ||
            memcmp(data + nifti1.magicAt, nifti1.pair, 4) == 0);
}

// Its size field and magic lie within the first bytes a content test is
// shown, its whole header beyond them.
bool startsWithNifti2Header(const uint8_t* data, size_t size) {
    bool big = false;
    return size >= nifti2.magicAt + nifti2.magicLength &&
           sizeFieldSays(data, nifti2.headerSize, big) &&
           (memcmp(data + nifti2.magicAt, nifti2.single, nifti2.magicLength) == 0 ||
            memcmp(data + nifti2.magicAt, nifti2.pair, nifti2.magicLength) == 0);
}

bool parseNiftiHeader(const uint8_t* data, size_t size, NiftiHeader& header, std::string& error) {
    header = NiftiHeader();
    bool big = false;
    // A header that says it is 540 bytes long is NIfTI-2; anything else is
    // held to NIfTI-1.
    const NiftiFields& f = size >= 4 && sizeFieldSays(data, 540, big) ? nifti2 : nifti1;
    if (size < f.headerSize || !sizeFieldSays(data, f.headerSize, big)) {
        error = std::string("not a ") + f.name + " file (its header is not " +
                std::to_string(f.headerSize) + " bytes long)";
        return false;
    }
    if (memcmp(data + f.magicAt, f.single, f.magicLength) == 0)
        header.pair = false;
    else if (memcmp(data + f.magicAt, f.pair, f.magicLength) == 0)
        header.pair = true;
    else {
        error = std::string("not a ") + f.name + " file (its magic is neither " +
                std::string(f.single, 3) + " nor " + std::string(f.pair, 3) + ")";
        return false;
    }
    header.layout.bigEndian = big;
    int64_t dim[8];
    for (size_t n = 0; n < 8; ++n)
        dim[n] = readInteger(data + f.dimAt + f.dimBytes * n, f.dimBytes, big);
    if (dim[0] < 1 || dim[0] > 7) {
        error = "the NIfTI header's dim[0] is " + std::to_string(dim[0]) + "; it must be 1 to 7";
        return false;
    }
    for (int n = 1; n <= dim[0]; ++n)
        if (dim[n] < 1) {
            error = "the NIfTI header's dim[" + std::to_string(n) + "] is " +
                    std::to_string(dim[n]) + "; sizes must be at least 1";
            return false;
        }
    for (int a = 0; a < 3; ++a)
        header.layout.dims[a] = a + 1 <= dim[0] ? dim[a + 1] : 1;
    // NIfTI-1's four factors below 2^15 fit; NIfTI-2's 64-bit ones may
    // not, and then no file could hold the series.
    for (int n = 4; n <= dim[0]; ++n)
        if (__builtin_mul_overflow(header.volumes, dim[n], &header.volumes))
            header.volumes = INT64_MAX;
    header.moreVolumes = header.volumes > 1;
    const int64_t datatype = readInteger(data + f.datatypeAt, 2, big);
    const int64_t bitpix = readInteger(data + f.bitpixAt, 2, big);
    if (!typeByCode(datatype, header.layout.type)) {
        error = "the NIfTI datatype " + std::to_string(datatype) +
                " is not one this reads (integers of 8 to 64 bits, float32, float64)";
        return false;
    }
    if (bitpix != int64_t(8 * sampleTypeSize(header.layout.type))) {
        error = "the NIfTI header's bitpix " + std::to_string(bitpix) + " does not match its " +
                sampleTypeName(header.layout.type) + " datatype";
        return false;
    }
    for (size_t a = 0; a < 3; ++a) {
        double p = readReal(data + f.pixdimAt + f.realBytes * (a + 1), f.realBytes, big);
        header.layout.spacing[a] = std::isfinite(p) && p != 0 ? std::fabs(p) : 1.0;
    }
    header.layout.spacingSource = header.layout.positionSource = "\"pixdim\"";
    const double offset = f.realBytes == 8 ? double(readInteger(data + f.voxOffsetAt, 8, big))
                                           : readReal(data + f.voxOffsetAt, 4, big);
    if (!std::isfinite(offset) || offset < 0 || offset > 1e15 ||
        (!header.pair && offset < double(f.headerSize))) {
        error = "the NIfTI header's vox_offset is not a usable offset";
        return false;
    }
    header.dataOffset = size_t(offset);
    double slope = readReal(data + f.slopeAt, f.realBytes, big);
    double intercept = readReal(data + f.interAt, f.realBytes, big);
    if (std::isfinite(slope) && slope != 0) {
        header.slope = slope;
        header.intercept = std::isfinite(intercept) ? intercept : 0.0;
    }
    readNiftiOrientation(data, big, f, header.layout);
    for (double& o : header.layout.origin)
        if (!std::isfinite(o))
            o = 0;
    return true;
}

int64_t niftiDataEnd(const NiftiHeader& header, int64_t maxBytes) {
    int64_t count =
        checkedSampleCount(header.layout.dims, sampleTypeSize(header.layout.type), maxBytes);
    if (count < 0)
        return -1;
    int64_t bytes = count * int64_t(sampleTypeSize(header.layout.type));
    if (int64_t(header.dataOffset) > maxBytes - bytes)
        return -1;
    return int64_t(header.dataOffset) + bytes;
}

std::string niftiMemoryRefusal(const NiftiHeader& header, int64_t maxBytes) {
    return memoryRefusal(
        "the NIfTI volume",
        claimedSampleBytes(header.layout.dims, sampleTypeSize(header.layout.type)) +
            header.dataOffset,
        maxBytes);
}

bool decodeNiftiData(const NiftiHeader& header, std::vector<uint8_t> bytes, int64_t maxBytes,
                     SampleVolume& out, std::string& error) {
    int64_t end = niftiDataEnd(header, maxBytes);
    if (end < 0) {
        error = niftiMemoryRefusal(header, maxBytes);
        return false;
    }
    if (int64_t(bytes.size()) < end) {
        error = "the NIfTI data holds " +
                std::to_string(bytes.size() > header.dataOffset ? bytes.size() - header.dataOffset
                                                                : 0) +
                " bytes; its dimensions and datatype need " +
                std::to_string(end - int64_t(header.dataOffset));
        return false;
    }
    takeSamples(header.layout, std::move(bytes), header.dataOffset, out);
    out.slope = header.slope;
    out.intercept = header.intercept;
    return true;
}

std::string niftiImagePath(const std::string& path) {
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                           ? path.substr(0, dot)
                           : path;
    bool upper = dot != std::string::npos && path.compare(dot, 4, ".HDR") == 0;
    return stem + (upper ? ".IMG" : ".img");
}

namespace {

// The bytes of a pair's image that decodeNiftiData takes for `header`: raw
// samples alone (the offset set to 0 for them), after its size is checked
// against the header's, or gzip data decompressed as far as the first
// volume reaches.
bool readPairImage(NiftiHeader& header, const std::string& path, const DataFile& file,
                   int64_t maxBytes, std::vector<uint8_t>& bytes, std::string& error) {
    const int64_t end = niftiDataEnd(header, maxBytes);
    if (end < 0) {
        error = niftiMemoryRefusal(header, maxBytes);
        return false;
    }
    std::vector<uint8_t> magic;
    if (!readDataBytes(file, path, 0, size_t(std::min<int64_t>(file.size, 2)), magic, error))
        return false;
    const std::string holds =
        "its image file " + shownPath(path) + " holds " + std::to_string(file.size) + " bytes";
    if (startsWithGzip(magic.data(), magic.size())) {
        if (file.size > maxBytes) {
            error = holds + " of gzip data, more than the memory allowed (" +
                    std::to_string(maxBytes >> 20) + " MiB; raise --max-memory)";
            return false;
        }
        std::vector<uint8_t> compressed;
        if (!readDataBytes(file, path, 0, size_t(file.size), compressed, error))
            return false;
        if (!inflatePrefix(compressed.data(), compressed.size(), DeflateWrapper::gzip, size_t(end),
                           bytes, error)) {
            error = "its image file's gzip data: " + error;
            return false;
        }
        return true;
    }
    const int64_t volumeBytes = end - int64_t(header.dataOffset);
    int64_t whole = 0;
    const bool overflows = __builtin_mul_overflow(volumeBytes, header.volumes, &whole) ||
                           __builtin_add_overflow(whole, int64_t(header.dataOffset), &whole);
    if (overflows || whole != file.size) {
        error = holds + "; the header's offset, dimensions and datatype need " +
                (overflows ? std::string("more than a file can hold")
                           : "exactly " + std::to_string(whole));
        return false;
    }
    if (!readDataBytes(file, path, int64_t(header.dataOffset), size_t(volumeBytes), bytes, error))
        return false;
    header.dataOffset = 0;
    return true;
}

// A .nii, or a .hdr whose .img is read from beside it (a regular file, not
// the output; raw, exactly as long as the header's offset and every volume,
// of which only the first volume's samples are read; gzip, no larger than
// the memory cap). A series gives its first volume, with a note.
bool readNiftiSamples(const uint8_t* data, size_t size, const ReadOptions& options,
                      SampleVolume& out, std::string& reason) {
    NiftiHeader header;
    if (!parseNiftiHeader(data, size, header, reason))
        return false;
    std::vector<uint8_t> bytes;
    if (!header.pair) {
        bytes.assign(data, data + size);
    } else {
        const std::string image = niftiImagePath(options.path);
        DataFile file;
        if (!openDataFile(image, "image file", options.output, file, reason))
            return false;
        const bool read = readPairImage(header, image, file, options.maxBytes, bytes, reason);
        closeDataFile(file);
        if (!read)
            return false;
    }
    if (!decodeNiftiData(header, std::move(bytes), options.maxBytes, out, reason))
        return false;
    // Said once the volume is read, so that a refusal stays one line.
    if (header.moreVolumes)
        fprintf(stderr, "%s: note: %s holds a series of volumes; the first is read\n", programName,
                options.path);
    return true;
}

// A single-file volume inside a gzip stream is inflated only as far as its
// first volume reaches: a series' later volumes are not needed.
bool niftiStreamEnd(const uint8_t* head, size_t size, int64_t maxBytes, int64_t& end,
                    std::string& reason) {
    end = 0;
    NiftiHeader header;
    std::string ignored;
    if (!(startsWithNiftiHeader(head, size) || startsWithNifti2Header(head, size)) ||
        !parseNiftiHeader(head, size, header, ignored) || header.pair)
        return true;
    end = niftiDataEnd(header, maxBytes);
    if (end < 0) {
        reason = niftiMemoryRefusal(header, maxBytes);
        return false;
    }
    return true;
}

bool niftiSecondFile(const char* path, const uint8_t* head, size_t size, std::string& second,
                     std::string& reason) {
    NiftiHeader header;
    second.clear();
    if (!parseNiftiHeader(head, size, header, reason))
        return false;
    if (header.pair)
        second = niftiImagePath(path);
    return true;
}

// A .nii's samples after its header, or a raw .img's beside its .hdr, when
// the file holds them as the whole-file reader requires.
bool locateNiftiSamples(const char* path, const ReadOptions& options, SampleVolume& out,
                        SamplePlace& place) {
    std::vector<uint8_t> head;
    std::string error;
    NiftiHeader header;
    if (!readFileHead(path, 540, head, error) ||
        !parseNiftiHeader(head.data(), head.size(), header, error))
        return false;
    place.path = header.pair ? niftiImagePath(path) : std::string(path);
    DataFile file;
    if (!openDataFile(place.path, "image file", options.output, file, error))
        return false;
    const int64_t end = niftiDataEnd(header, INT64_MAX);
    const int64_t volumeBytes = end - int64_t(header.dataOffset);
    int64_t whole = 0;
    std::vector<uint8_t> magic;
    const bool fits =
        end >= 0 &&
        (header.pair
             ? !__builtin_mul_overflow(volumeBytes, header.volumes, &whole) &&
                   !__builtin_add_overflow(whole, int64_t(header.dataOffset), &whole) &&
                   whole == file.size && readDataBytes(file, place.path, 0, 2, magic, error) &&
                   !startsWithGzip(magic.data(), magic.size())
             : end <= file.size);
    if (!fits) {
        closeDataFile(file);
        return false;
    }
    describeSamples(header.layout, out);
    out.slope = header.slope;
    out.intercept = header.intercept;
    place.fd = file.fd;
    place.start = int64_t(header.dataOffset);
    place.bigEndian = header.layout.bigEndian;
    if (header.moreVolumes)
        place.note = std::string(options.path) + " holds a series of volumes; the first is read";
    return true;
}

} // namespace

const char niftiHelp[] = "volumes, NIfTI-1 and NIfTI-2 (.nii, .nii.gz, .hdr and its .img; raw "
                         "or gzip), placed by the sform, else the qform: need "
                         "--threshold, which applies after the file's scl_slope and "
                         "scl_inter; grey by value. A series gives its first volume.";

extern const InputFormat niftiInput = {"NIfTI-1",
                                       {".nii"},
                                       startsWithNiftiHeader,
                                       nullptr,
                                       readNiftiSamples,
                                       ColorMode::grey,
                                       niftiStreamEnd,
                                       niftiSecondFile,
                                       "NIfTI",
                                       niftiHelp,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       false,
                                       locateNiftiSamples};

// The same reader: its header's size field tells the two apart. By name
// alone a .nii is the NIfTI-1 row's, which comes first.
extern const InputFormat nifti2Input = {"NIfTI-2",
                                        {".nii"},
                                        startsWithNifti2Header,
                                        nullptr,
                                        readNiftiSamples,
                                        ColorMode::grey,
                                        niftiStreamEnd,
                                        niftiSecondFile,
                                        "NIfTI",
                                        niftiHelp,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        false,
                                        locateNiftiSamples};
