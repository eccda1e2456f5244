#include "convert/volume_pipeline.h"

#include "convert/file_bytes.h"
#include "convert/nifti_reader.h"
#include "convert/nrrd_reader.h"
#include "convert/volume_resample.h"

#include <cstdio>
#include <sys/stat.h>

static bool endsWith(const std::string& text, const char* tail) {
    std::string t = tail;
    if (text.size() < t.size())
        return false;
    for (size_t n = 0; n < t.size(); ++n)
        if (tolower(static_cast<unsigned char>(text[text.size() - t.size() + n])) != t[n])
            return false;
    return true;
}

// Enough of the start of a file to recognise it, a gzip stream's included.
static constexpr size_t sniffWindow = 65536;

VolumeFormat volumeFormatOfFile(const std::string& path) {
    std::vector<uint8_t> start(sniffWindow);
    FILE* file = fopen(path.c_str(), "rb");
    size_t got = 0;
    if (file) {
        got = fread(start.data(), 1, start.size(), file);
        fclose(file);
    }
    start.resize(got);
    VolumeFormat format = sniffVolumeBytes(start);
    if (format != VolumeFormat::none)
        return format;
    if (endsWith(path, ".binvox"))
        return VolumeFormat::binvox;
    if (endsWith(path, ".npy"))
        return VolumeFormat::npy;
    if (endsWith(path, ".npz"))
        return VolumeFormat::npz;
    if (endsWith(path, ".nrrd") || endsWith(path, ".nhdr"))
        return VolumeFormat::nrrd;
    if (endsWith(path, ".nii") || endsWith(path, ".nii.gz") || endsWith(path, ".hdr"))
        return VolumeFormat::nifti;
    return VolumeFormat::none;
}

static int64_t fileSize(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? int64_t(info.st_size) : 0;
}

int64_t volumeInputBytes(const std::string& path, VolumeFormat format) {
    int64_t total = fileSize(path);
    if (format != VolumeFormat::nrrd && format != VolumeFormat::nifti)
        return total;
    // Only the header is needed to find a data file; it is at the start.
    std::vector<uint8_t> start;
    std::string error;
    if (!readFileBytes(path, 1 << 20, start, error))
        return total;
    if (format == VolumeFormat::nrrd) {
        NrrdHeader header;
        if (parseNrrdHeader(start.data(), start.size(), header, error) && !header.dataFile.empty())
            total += fileSize(besideFile(path, header.dataFile));
    } else {
        NiftiHeader header;
        if (parseNiftiHeader(start.data(), start.size(), header, error) && header.pair)
            total += fileSize(niftiImagePath(path));
    }
    return total;
}

bool convertVolumeFile(const std::string& path, VolumeFormat format, const VolumeOptions& options,
                       VoxelList& out, std::vector<std::string>& notes, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, options.maxBytes, bytes, error)) {
        error = "cannot read " + path + ": " + error;
        return false;
    }
    SampleVolume volume;
    if (!readVolumeFile(path, std::move(bytes), format, options.maxBytes, volume, notes, error)) {
        error = "cannot read " + path + " as " + volumeFormatName(format) + ": " + error;
        return false;
    }
    if (format == VolumeFormat::npy || format == VolumeFormat::npz)
        for (double& s : volume.spacing)
            s = options.voxelSize > 0 ? options.voxelSize : 1.0;
    bool isVolume = format == VolumeFormat::nrrd || format == VolumeFormat::nifti;
    ColorMode mode = options.colors == ColorMode::automatic
                         ? defaultColorMode(volume.meaning, isVolume)
                         : options.colors;
    if (!checkThresholdRule(volume, options.threshold, mode, error)) {
        error = path + ": " + error;
        return false;
    }
    if (!resampleToCubes(volume, options.threshold, mode, options.maxVoxels, out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}
