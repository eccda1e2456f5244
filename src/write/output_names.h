// The names of the files an output brings along (a model's buffer, material
// and texture), and how a model file refers to them.
#pragma once

#include "write/output_format.h"

#include <string>
#include <vector>

// `path` with its extension (the last dot in its file name and what
// follows) replaced by `extension`, or with `extension` added when it has
// none: "out/castle.gltf" and ".png" give "out/castle.png".
std::string siblingPath(const std::string& path, const char* extension);

// The file name alone, without its folder.
std::string fileNameOf(const std::string& path);

// The file name as a relative URI, as glTF names its files: bytes other
// than letters, digits and -._~ written as %XX.
std::string uriOf(const std::string& path);

// The files a mesh output brings along, in the order its writer begins them:
// NAME`sideExtension` (its buffer or material), then for a greedy mesh its
// texture NAME.png.
void meshCompanionFiles(const WriteOptions& options, const char* sideExtension,
                        std::vector<std::string>& files);
