// The grid inputs' way to voxels: read the file into samples, check the
// threshold against what the samples mean, then gather and colour them.
#pragma once

#include "convert/volume_colors.h"
#include "convert/volume_input.h"
#include "convert/volume_threshold.h"
#include "convert/vxl_writer.h"

#include <cstdint>
#include <string>
#include <vector>

struct VolumeOptions {
    ThresholdRule threshold;
    ColorMode colors = ColorMode::automatic;
    double voxelSize = 0.0; // NumPy arrays: the distance between elements (0: 1)
    int64_t maxVoxels = 10000000;
    int64_t maxBytes = int64_t(1) << 30; // no header claim beyond this is taken up
};

// The format of the file at `path` by its first bytes (looking into gzip),
// else by its name (.binvox, .npy, .npz, .nrrd, .nhdr, .nii, .nii.gz, .hdr),
// so that a damaged file of a known kind is refused by its own reader.
VolumeFormat volumeFormatOfFile(const std::string& path);

// The bytes a conversion of `path` reads: the file, and the data file that a
// detached NRRD header or a NIfTI .hdr names.
int64_t volumeInputBytes(const std::string& path, VolumeFormat format);

bool convertVolumeFile(const std::string& path, VolumeFormat format, const VolumeOptions& options,
                       VoxelList& out, std::vector<std::string>& notes, std::string& error);
