// A fresh folder under /tmp for each test that writes files, removed with all
// it holds when the test ends, and the few file helpers such tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <vector>

struct ScratchDirTest : testing::Test {
    void SetUp() override {
        char pattern[] = "/tmp/voxscope-unit-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::string command = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }
    // Writes `bytes` to the file `name` in the folder; returns its path.
    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = dir + "/" + name;
        FILE* f = fopen(path.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        return path;
    }
    // The bytes of the file at `path`, or "(missing)".
    static std::string contents(const std::string& path) {
        std::string text;
        FILE* f = fopen(path.c_str(), "rb");
        if (!f)
            return "(missing)";
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, n);
        fclose(f);
        return text;
    }
    // Names in the folder other than `keep`.
    std::vector<std::string> others(const std::string& keep = "") {
        std::vector<std::string> names;
        DIR* d = opendir(dir.c_str());
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != ".." && n != keep)
                names.push_back(n);
        }
        closedir(d);
        return names;
    }
    std::string dir;
};
