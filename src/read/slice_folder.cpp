#include "read/slice_folder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool endsWithOneOf(const std::string& name, const char* const* extensions) {
    for (; *extensions; ++extensions) {
        const size_t tail = strlen(*extensions);
        if (name.size() <= tail)
            continue;
        bool same = true;
        for (size_t i = 0; i < tail && same; ++i)
            same = tolower(static_cast<unsigned char>(name[name.size() - tail + i])) ==
                   (*extensions)[i];
        if (same)
            return true;
    }
    return false;
}

// Each slice's name and size; false when the folder cannot be listed.
bool listSlices(const char* folder, const char* const* extensions,
                std::vector<std::pair<std::string, int64_t>>& slices, std::string& reason) {
    DIR* dir = opendir(folder);
    if (!dir) {
        reason = std::string("cannot list the folder: ") + strerror(errno);
        return false;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat info;
        if (name.empty() || name[0] == '.' || !endsWithOneOf(name, extensions) ||
            stat((std::string(folder) + "/" + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        slices.emplace_back(name, int64_t(info.st_size));
    }
    closedir(dir);
    return true;
}

} // namespace

bool naturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Leading zeros aside, the longer run of digits is the larger number.
            size_t ai = i, bj = j;
            while (ai < a.size() && a[ai] == '0')
                ++ai;
            while (bj < b.size() && b[bj] == '0')
                ++bj;
            size_t ae = ai, be = bj;
            while (ae < a.size() && isDigit(a[ae]))
                ++ae;
            while (be < b.size() && isDigit(b[be]))
                ++be;
            if (ae - ai != be - bj)
                return ae - ai < be - bj;
            const int order = a.compare(ai, ae - ai, b, bj, be - bj);
            if (order != 0)
                return order < 0;
            i = ae;
            j = be;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    // Equal as numbers ("img_02" and "img_2"): the bytes decide, so that the
    // order is total.
    return a < b;
}

bool sliceNames(const char* folder, const char* const* extensions, std::vector<std::string>& names,
                std::string& reason) {
    std::vector<std::pair<std::string, int64_t>> slices;
    if (!listSlices(folder, extensions, slices, reason))
        return false;
    names.clear();
    for (const auto& slice : slices)
        names.push_back(slice.first);
    std::sort(names.begin(), names.end(), naturalLess);
    return true;
}

int64_t sliceBytes(const char* folder, const char* const* extensions) {
    std::vector<std::pair<std::string, int64_t>> slices;
    std::string ignored;
    int64_t total = 0;
    if (listSlices(folder, extensions, slices, ignored))
        for (const auto& slice : slices)
            total += slice.second;
    return total;
}
