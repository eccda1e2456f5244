#include "write/output_formats.h"

#include "write/gltf_writer.h"
#include "write/html_writer.h"
#include "write/obj_writer.h"
#include "write/output_names.h"
#include "write/ply_writer.h"
#include "write/stl_writer.h"
#include "write/vox_writer.h"

#include <strings.h>

namespace {

const OutputFormat outputFormats[] = {
    {".vxl", writeVxl, nullptr, false, false}, {".glb", writeGlb, nullptr, false, true},
    {".gltf", writeGltf, ".bin", true, true},  {".obj", writeObj, ".mtl", true, true},
    {".ply", writePly, nullptr, false, true},  {".stl", writeStl, nullptr, false, true},
    {".vox", writeVox, nullptr, false, false}, {".html", writeHtml, nullptr, false, false},
};

} // namespace

const OutputFormat* findOutputFormat(const std::string& path) {
    const std::string name = fileNameOf(path);
    const size_t dot = name.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string::npos || dot == 0)
        return &outputFormats[0];
    for (const OutputFormat& format : outputFormats)
        if (strcasecmp(name.c_str() + dot, format.extension) == 0)
            return &format;
    return nullptr;
}

std::string outputExtensionList() {
    std::string list;
    for (const OutputFormat& format : outputFormats)
        list += (list.empty() ? "" : ", ") + std::string(format.extension);
    return list;
}

std::vector<std::string> companionFiles(const OutputFormat& format, const std::string& path,
                                        MeshChoice mesh) {
    std::vector<std::string> files;
    if (format.sideFile)
        files.push_back(siblingPath(path, format.sideFile));
    if (format.textureFile && mesh == MeshChoice::greedy)
        files.push_back(siblingPath(path, ".png"));
    return files;
}

bool writeVxl(const VoxelGrid& grid, const MeshChoice&, const char*, std::string& error) {
    return finishVoxelFile(grid.voxels, error);
}
