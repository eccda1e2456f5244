#include "sample_prefixes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

static bool readWholeFile(const std::string& path, std::string* bytes) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    bytes->clear();
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes->append(buffer, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

void addSampleFiles(const char* dir, const char* suffix, std::vector<SampleFile>* samples) {
    DIR* d = opendir(dir);
    if (!d)
        abort();
    std::vector<std::string> names;
    const std::string ending = suffix;
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name.size() >= ending.size() &&
            name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
            names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        SampleFile sample = {std::string(dir) + "/" + name, ""};
        struct stat info;
        if (stat(sample.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (!readWholeFile(sample.path, &sample.bytes))
            abort();
        bool seen = std::any_of(samples->begin(), samples->end(),
                                [&](const SampleFile& s) { return s.bytes == sample.bytes; });
        if (!seen)
            samples->push_back(sample);
    }
}

std::vector<size_t> prefixLengths(size_t size) {
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= size; ++n) {
        bool tried = n <= allPrefixLengthsUpTo || (n - allPrefixLengthsUpTo) % prefixStride == 0 ||
                     size - n < prefixTail;
        if (tried)
            lengths.push_back(n);
    }
    std::reverse(lengths.begin(), lengths.end());
    return lengths;
}

void cutFile(const std::string& path, size_t length) {
    if (truncate(path.c_str(), off_t(length)) != 0)
        abort();
}
