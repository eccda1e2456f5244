#include "convert/vxl_writer.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

bool writeVoxelStream(FILE* out, const VoxelList& voxels) {
    const size_t count = voxels.colors.size() / 3;
    if (fprintf(out, "%zu %.9g\n", count, double(voxels.voxelSize)) < 0)
        return false;
    for (size_t i = 0; i < count; ++i) {
        const float* p = &voxels.positions[3 * i];
        const uint8_t* c = &voxels.colors[3 * i];
        if (fprintf(out, "%.9g %.9g %.9g %d %d %d\n", double(p[0]), double(p[1]), double(p[2]),
                    c[0], c[1], c[2]) < 0)
            return false;
    }
    return true;
}

bool writeVoxelFile(const char* path, const VoxelList& voxels, std::string& error) {
    FILE* out = fopen(path, "wb");
    if (!out) {
        error = std::string("cannot write ") + path + ": " + strerror(errno);
        return false;
    }
    // Only a regular file is removed after a failed write: the output may be
    // a device or a pipe that must stay.
    struct stat info;
    const bool regular = fstat(fileno(out), &info) == 0 && S_ISREG(info.st_mode);
    bool written = writeVoxelStream(out, voxels);
    int savedErrno = errno;
    if (fclose(out) != 0 && written) {
        written = false;
        savedErrno = errno;
    }
    if (!written) {
        error = std::string("cannot write ") + path + ": " + strerror(savedErrno);
        if (regular)
            remove(path);
        return false;
    }
    return true;
}
