#include "write/output_names.h"

#include <cctype>

std::string fileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string siblingPath(const std::string& path, const char* extension) {
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    // A leading dot names a hidden file; it starts no extension.
    if (dot == std::string::npos || dot <= nameStart)
        return path + extension;
    return path.substr(0, dot) + extension;
}

std::string uriOf(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string uri;
    for (unsigned char c : fileNameOf(path)) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            uri += char(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

void meshCompanionFiles(const WriteOptions& options, const char* sideExtension,
                        std::vector<std::string>& files) {
    files.push_back(siblingPath(options.path, sideExtension));
    if (options.mesh == MeshChoice::greedy)
        files.push_back(siblingPath(options.path, ".png"));
}
