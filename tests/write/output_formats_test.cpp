// The output table: formats found by extension in any case, a name without
// one a voxel file, and the files each format brings along.
#include <gtest/gtest.h>

#include "write/output_formats.h"
#include "write/output_names.h"

#include <cstring>

namespace {

TEST(OutputFormats, TheExtensionChoosesTheFormat) {
    const struct {
        const char* path;
        const char* extension; // null: refused
    } cases[] = {
        {"model.glb", ".glb"},    {"a/b.c/model.GLTF", ".gltf"},
        {"MODEL.Obj", ".obj"},    {"x.ply", ".ply"},
        {"x.stl", ".stl"},        {"castle.vox", ".vox"},
        {"out.vxl", ".vxl"},      {"out", ".vxl"},
        {"dir.v2/out", ".vxl"},   {".hidden", ".vxl"},
        {"out.xyz", nullptr},     {"out.", nullptr},
        {"out.glb.bak", nullptr}, {"Shared.HTML", ".html"},
        {"out.htm", nullptr},
    };
    for (const auto& c : cases) {
        const OutputFormat* format = findOutputFormat(c.path);
        if (!c.extension) {
            EXPECT_EQ(format, nullptr) << c.path;
            continue;
        }
        ASSERT_NE(format, nullptr) << c.path;
        EXPECT_STREQ(format->extension, c.extension) << c.path;
    }
    EXPECT_EQ(outputExtensionList(), ".vxl, .glb, .gltf, .obj, .ply, .stl, .vox, .html");
    EXPECT_FALSE(findOutputFormat("a.vox")->takesMesh);
    EXPECT_FALSE(findOutputFormat("a.vxl")->takesMesh);
    EXPECT_FALSE(findOutputFormat("a.html")->takesMesh);
    EXPECT_TRUE(findOutputFormat("a.stl")->takesMesh);
}

TEST(OutputFormats, CompanionsAreNamedForTheOutput) {
    using Names = std::vector<std::string>;
    const OutputFormat& gltf = *findOutputFormat("m.gltf");
    EXPECT_EQ(companionFiles(gltf, "out/My Model.gltf", MeshChoice::greedy),
              (Names{"out/My Model.bin", "out/My Model.png"}));
    EXPECT_EQ(companionFiles(gltf, "m.gltf", MeshChoice::faces), (Names{"m.bin"}));
    const OutputFormat& obj = *findOutputFormat("m.obj");
    EXPECT_EQ(companionFiles(obj, "m.OBJ", MeshChoice::greedy), (Names{"m.mtl", "m.png"}));
    EXPECT_EQ(companionFiles(obj, "m.obj", MeshChoice::cubes), (Names{"m.mtl"}));
    for (const char* alone : {"m.glb", "m.ply", "m.stl", "m.vox", "m.vxl", "m", "m.html"})
        EXPECT_TRUE(companionFiles(*findOutputFormat(alone), alone, MeshChoice::greedy).empty())
            << alone;

    EXPECT_EQ(siblingPath("a.b/c", ".png"), "a.b/c.png");
    EXPECT_EQ(siblingPath(".hidden", ".png"), ".hidden.png");
    EXPECT_EQ(fileNameOf("/x/y/z.gltf"), "z.gltf");
    EXPECT_EQ(uriOf("dir/a b#%.bin"), "a%20b%23%25.bin");
    EXPECT_EQ(uriOf("d/\xc3\xa9t\xc3\xa9.png"), "%C3%A9t%C3%A9.png");
}

} // namespace
