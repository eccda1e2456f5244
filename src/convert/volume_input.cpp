#include "convert/volume_input.h"

#include "convert/binvox_reader.h"
#include "convert/file_bytes.h"
#include "convert/inflate_stream.h"
#include "convert/nifti_reader.h"
#include "convert/npy_reader.h"
#include "convert/nrrd_reader.h"

VolumeFormat sniffVolumeFormat(const uint8_t* data, size_t size) {
    if (looksLikeBinvox(data, size))
        return VolumeFormat::binvox;
    if (looksLikeNpy(data, size))
        return VolumeFormat::npy;
    if (looksLikeZip(data, size))
        return VolumeFormat::npz;
    if (looksLikeNrrd(data, size))
        return VolumeFormat::nrrd;
    if (looksLikeNifti(data, size))
        return VolumeFormat::nifti;
    return VolumeFormat::none;
}

const char* volumeFormatName(VolumeFormat format) {
    switch (format) {
    case VolumeFormat::binvox:
        return "binvox";
    case VolumeFormat::npy:
        return "NumPy .npy";
    case VolumeFormat::npz:
        return "NumPy .npz";
    case VolumeFormat::nrrd:
        return "NRRD";
    case VolumeFormat::nifti:
        return "NIfTI-1";
    case VolumeFormat::none:
        break;
    }
    return "unknown";
}

// Enough of a decompressed start to recognise every format, a NIfTI header
// and its extension flag included.
static constexpr size_t sniffBytes = 352;

VolumeFormat sniffVolumeBytes(const std::vector<uint8_t>& bytes) {
    if (!startsWithGzip(bytes.data(), bytes.size()))
        return sniffVolumeFormat(bytes.data(), bytes.size());
    std::vector<uint8_t> start;
    std::string ignored;
    if (!inflatePrefix(bytes.data(), bytes.size(), DeflateWrapper::gzip, sniffBytes, start,
                       ignored))
        return VolumeFormat::none;
    return sniffVolumeFormat(start.data(), start.size());
}

// A gzip-compressed file: NIfTI says in its header how large the whole is,
// so that bounds the decompression; the others are bounded by the memory
// allowed.
static bool decompressWhole(const std::vector<uint8_t>& bytes, int64_t maxBytes,
                            std::vector<uint8_t>& whole, std::string& error) {
    std::vector<uint8_t> start;
    if (!inflatePrefix(bytes.data(), bytes.size(), DeflateWrapper::gzip, sniffBytes, start, error))
        return false;
    size_t cap = size_t(maxBytes);
    NiftiHeader header;
    std::string headerError;
    if (looksLikeNifti(start.data(), start.size()) &&
        parseNiftiHeader(start.data(), start.size(), header, headerError) && !header.pair) {
        int64_t end = niftiDataEnd(header, maxBytes);
        if (end < 0) {
            error = "the NIfTI volume's dimensions are larger than the memory allowed";
            return false;
        }
        cap = size_t(end);
        // The samples alone are what matters; a longer stream (a series'
        // later volumes) is cut there.
        return inflatePrefix(bytes.data(), bytes.size(), DeflateWrapper::gzip, cap, whole, error);
    }
    return inflateStream(bytes.data(), bytes.size(), DeflateWrapper::gzip, cap, whole, error);
}

bool readVolumeFile(const std::string& path, std::vector<uint8_t> bytes, VolumeFormat format,
                    int64_t maxBytes, SampleVolume& out, std::vector<std::string>& notes,
                    std::string& error) {
    if (startsWithGzip(bytes.data(), bytes.size())) {
        std::vector<uint8_t> whole;
        if (!decompressWhole(bytes, maxBytes, whole, error)) {
            error = "its gzip data: " + error;
            return false;
        }
        bytes.swap(whole);
    }
    switch (format) {
    case VolumeFormat::binvox: {
        bool ok = parseBinvox(bytes.data(), bytes.size(), maxBytes, out, error);
        return ok;
    }
    case VolumeFormat::npy:
        return parseNpy(std::move(bytes), maxBytes, out, error);
    case VolumeFormat::npz: {
        std::string member;
        uint64_t members = 0;
        if (!parseNpz(bytes.data(), bytes.size(), maxBytes, out, member, members, error))
            return false;
        if (members > 1)
            notes.push_back("read the array \"" + member + "\", the first of the archive's " +
                            std::to_string(members));
        return true;
    }
    case VolumeFormat::nrrd:
        return readNrrd(path, std::move(bytes), maxBytes, out, error);
    case VolumeFormat::nifti: {
        NiftiHeader header;
        if (!parseNiftiHeader(bytes.data(), bytes.size(), header, error))
            return false;
        if (header.moreVolumes)
            notes.push_back("the file holds a series of volumes; the first is read");
        if (!header.pair)
            return decodeNiftiData(header, std::move(bytes), maxBytes, out, error);
        std::string image = niftiImagePath(path);
        std::vector<uint8_t> data;
        if (!readFileBytes(image, maxBytes, data, error)) {
            error = "cannot read its image file " + image + ": " + error;
            return false;
        }
        if (startsWithGzip(data.data(), data.size())) {
            std::vector<uint8_t> whole;
            int64_t end = niftiDataEnd(header, maxBytes);
            if (end < 0) {
                error = "the NIfTI volume's dimensions are larger than the memory allowed";
                return false;
            }
            if (!inflatePrefix(data.data(), data.size(), DeflateWrapper::gzip, size_t(end), whole,
                               error)) {
                error = "its image file's gzip data: " + error;
                return false;
            }
            data.swap(whole);
        }
        return decodeNiftiData(header, std::move(data), maxBytes, out, error);
    }
    case VolumeFormat::none:
        break;
    }
    error = "not a format read as a grid";
    return false;
}
