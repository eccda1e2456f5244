#include "app/converted_input.h"

#include "convert/input_table.h"
#include "convert/pipeline.h"
#include "platform/input_file.h"
#include "platform/large_array.h"
#include "read/vxl_reader.h"

#include <cstdlib>
#include <cstring>
#include <vector>

bool drawnAsVoxelText(const char* path) {
    if (hasExtension(path, ".vxl"))
        return true;
    // A folder of slices is converted; any other folder, a pipe or a missing
    // file goes to the loader, which says what it is.
    if (findInputFolder(path))
        return false;
    if (inputFileBytes(path) <= 0)
        return true;
    std::vector<uint8_t> head;
    std::string ignored;
    // A file that cannot be read goes to the loader, which says so.
    if (!readFileHead(path, inputHeadBytes, head, ignored))
        return true;
    return startsWithVxlHeader(head.data(), head.size());
}

VoxelModel* modelOfVoxels(VoxelList& voxels) {
    const size_t count = voxels.colors.size() / 3;
    VoxelModel* m = static_cast<VoxelModel*>(calloc(1, sizeof(VoxelModel)));
    if (!m || count > size_t(maxVoxelCount)) {
        free(m);
        return nullptr;
    }
    m->count = int32_t(count);
    m->voxelSize = voxels.voxelSize;
    if (count == 0)
        return m;
    m->positions = static_cast<float*>(allocateLargeArray(sizeof(float) * 3 * count));
    if (m->positions) {
        memcpy(m->positions, voxels.positions.data(), sizeof(float) * 3 * count);
        std::vector<float>().swap(voxels.positions);
        m->colors = static_cast<uint8_t*>(allocateLargeArray(3 * count));
    }
    if (!m->colors) {
        freeVoxelModel(m);
        return nullptr;
    }
    memcpy(m->colors, voxels.colors.data(), 3 * count);
    std::vector<uint8_t>().swap(voxels.colors);
    return m;
}

VoxelModel* convertToModel(const ConversionOptions& options, std::string& error) {
    VoxelGrid grid;
    if (!convertToGrid(options, "draw", grid, error))
        return nullptr;
    VoxelModel* m = modelOfVoxels(grid.voxels);
    if (!m)
        error = "not enough memory for the voxels of " + options.input;
    return m;
}
