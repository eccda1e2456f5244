// The samples tools/make_grids.py writes into the build tree for the grid
// readers' tests, and small helpers to read them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string gridSample(const std::string& name) {
    return std::string(VOXSCOPE_GRID_SAMPLES) + "/" + name;
}

inline std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<uint8_t> textBytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// The files of `dir` whose names start with `prefix`, sorted.
inline std::vector<std::string> filesStartingWith(const std::string& dir,
                                                  const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d)) {
            std::string name = entry->d_name;
            if (name.rfind(prefix, 0) == 0)
                names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// What make_grids.py's dtype samples hold at (i, j, k) for NumPy code `code`
// ("u1", "i8", "f4", "b1", ...).
inline double dtypeSampleValue(const std::string& code, int i, int j, int k) {
    if (code == "b1")
        return (i + j + k) % 2;
    double v = i * 100 + j * 10 + k;
    if (code[0] == 'i' || code[0] == 'f')
        v -= 60;
    if (code[0] == 'f')
        v += 0.25;
    return v;
}
