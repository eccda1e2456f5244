#include "write/vxl_writer.h"

#include "platform/output_file.h"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

// Lines are built in a buffer and written in large blocks.
struct LineBuffer {
    FILE* out;
    char data[1 << 16];
    size_t used;
    bool failed;
};

void flush(LineBuffer& b) {
    if (b.used && !b.failed && fwrite(b.data, 1, b.used, b.out) != b.used)
        b.failed = true;
    b.used = 0;
}

// Room for one line: three floats of at most 15 characters, three bytes of 3,
// a number of 20, separators and the line break.
constexpr size_t longestLine = 96;

void appendFloat(LineBuffer& b, float value) {
    // The shortest decimal that reads back as exactly this float.
    b.used = size_t(std::to_chars(b.data + b.used, b.data + sizeof b.data, value).ptr - b.data);
}

template <typename Integer> void appendInteger(LineBuffer& b, Integer value) {
    b.used = size_t(std::to_chars(b.data + b.used, b.data + sizeof b.data, value).ptr - b.data);
}

void appendChar(LineBuffer& b, char c) {
    if (b.used < sizeof b.data)
        b.data[b.used++] = c;
}

} // namespace

bool writeVoxelStream(FILE* out, const VoxelList& voxels) {
    LineBuffer b;
    b.out = out;
    b.used = 0;
    b.failed = false;
    const size_t count = voxels.colors.size() / 3;
    appendInteger(b, count);
    appendChar(b, ' ');
    appendFloat(b, voxels.voxelSize);
    appendChar(b, '\n');
    for (size_t i = 0; i < count && !b.failed; ++i) {
        if (sizeof b.data - b.used < longestLine)
            flush(b);
        const float* p = &voxels.positions[3 * i];
        const uint8_t* c = &voxels.colors[3 * i];
        for (int k = 0; k < 3; ++k) {
            appendFloat(b, p[k]);
            appendChar(b, ' ');
        }
        for (int k = 0; k < 3; ++k) {
            appendInteger(b, int(c[k]));
            appendChar(b, k < 2 ? ' ' : '\n');
        }
    }
    flush(b);
    return !b.failed;
}

bool finishVoxelFile(const VoxelList& voxels, std::string& error) {
    FILE* out = outputFileStream();
    if (!out)
        return failOutputFile("no file was begun", &error);
    if (!writeVoxelStream(out, voxels))
        return failOutputFile(strerror(errno), &error);
    return finishOutputFile(&error);
}

namespace {

bool writeVxlGrid(const VoxelGrid& grid, const WriteOptions&, std::string& error) {
    return finishVoxelFile(grid.voxels, error);
}

} // namespace

extern const OutputFormat vxlOutput = {"voxel file", {".vxl"}, writeVxlGrid,
                                       nullptr,      false,    "the file voxscope opens"};
