// A fresh folder under /tmp for each test that writes files, removed with all
// it holds when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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
    std::string dir;
};
