#include "convert/output_table.h"

#include "convert/format_row.h"

#include <cctype>
#include <cstring>

const std::vector<const OutputFormat*>& outputFormats() {
    static const std::vector<const OutputFormat*> rows = {
        FORMAT_ROW(OutputFormat, vxlOutput),  // write/vxl_writer.cpp
        FORMAT_ROW(OutputFormat, glbOutput),  // write/gltf_writer.cpp
        FORMAT_ROW(OutputFormat, gltfOutput), // write/gltf_writer.cpp
        FORMAT_ROW(OutputFormat, objOutput),  // write/obj_writer.cpp
        FORMAT_ROW(OutputFormat, plyOutput),  // write/ply_writer.cpp
        FORMAT_ROW(OutputFormat, stlOutput),  // write/stl_writer.cpp
        FORMAT_ROW(OutputFormat, voxOutput),  // write/vox_writer.cpp
        FORMAT_ROW(OutputFormat, htmlOutput), // write/html_writer.cpp
    };
    return rows;
}

std::string outputExtension(const char* path) {
    const char* slash = strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    const char* dot = strrchr(name, '.');
    if (!dot || dot == name || dot[1] == '\0')
        return "";
    std::string extension = dot;
    for (char& c : extension)
        c = char(tolower(static_cast<unsigned char>(c)));
    return extension;
}

const OutputFormat* findOutputFormat(const char* path) {
    const std::string extension = outputExtension(path);
    if (extension.empty())
        return outputFormats().front();
    for (const OutputFormat* format : outputFormats())
        for (const char* written : format->extensions)
            if (written && extension == written)
                return format;
    return nullptr;
}

namespace {

std::string extensionList(bool meshesOnly) {
    std::vector<std::string> all;
    for (const OutputFormat* format : outputFormats())
        for (const char* written : format->extensions)
            if (written && (format->takesMesh || !meshesOnly))
                all.push_back(written);
    std::string list;
    for (size_t i = 0; i < all.size(); ++i)
        list += (i == 0 ? "" : ", ") + all[i];
    return list;
}

} // namespace

std::string outputExtensionList() {
    return extensionList(false);
}

std::string meshOutputExtensionList() {
    return extensionList(true);
}
