// The names of the files an output brings along, and how a glTF file refers
// to them (which files each row brings: tests/convert/output_table_test.cpp).
#include <gtest/gtest.h>

#include "write/output_names.h"

TEST(OutputNames, CompanionsAreNamedForTheOutput) {
    EXPECT_EQ(siblingPath("a.b/c", ".png"), "a.b/c.png");
    EXPECT_EQ(siblingPath(".hidden", ".png"), ".hidden.png");
    EXPECT_EQ(fileNameOf("/x/y/z.gltf"), "z.gltf");
    EXPECT_EQ(uriOf("dir/a b#%.bin"), "a%20b%23%25.bin");
    EXPECT_EQ(uriOf("d/\xc3\xa9t\xc3\xa9.png"), "%C3%A9t%C3%A9.png");
}
