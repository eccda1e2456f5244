// Which row of the output table writes an output: by the extension of its
// last part, in any case; a name without one is a voxel file as it always
// was.
#include <gtest/gtest.h>

#include "convert/output_table.h"

TEST(OutputTable, TheExtensionOfTheLastPartChoosesTheRow) {
    EXPECT_EQ(outputExtension("out.vxl"), ".vxl");
    EXPECT_EQ(outputExtension("dir/OUT.VxL"), ".vxl");
    EXPECT_EQ(outputExtension("a.b/out.tar.GZ"), ".gz");
    // No extension: no dot in the last part, a leading dot (a hidden file),
    // or a trailing one.
    EXPECT_EQ(outputExtension("out"), "");
    EXPECT_EQ(outputExtension("dir.d/out"), "");
    EXPECT_EQ(outputExtension("dir/.hidden"), "");
    EXPECT_EQ(outputExtension("out."), "");

    const OutputFormat* voxelFile = outputFormats().front();
    EXPECT_STREQ(voxelFile->extensions[0], ".vxl");
    EXPECT_EQ(findOutputFormat("dir/OUT.VXL"), voxelFile);
    EXPECT_EQ(findOutputFormat("dir.d/out"), voxelFile);
    EXPECT_EQ(findOutputFormat(".hidden"), voxelFile);
    EXPECT_EQ(findOutputFormat("out.xyz"), nullptr);
    EXPECT_EQ(findOutputFormat("out.vxl.bak"), nullptr);
    EXPECT_EQ(findOutputFormat("out.glb.bak"), nullptr);
    EXPECT_EQ(findOutputFormat("out.htm"), nullptr);

    // Each written extension in any case, past dots in folder names.
    const struct {
        const char* path;
        const char* extension;
    } cases[] = {
        {"model.glb", ".glb"},    {"a/b.c/model.GLTF", ".gltf"},
        {"MODEL.Obj", ".obj"},    {"x.ply", ".ply"},
        {"x.stl", ".stl"},        {"castle.vox", ".vox"},
        {"out.vxl", ".vxl"},      {"dir.v2/out", ".vxl"},
        {"Shared.HTML", ".html"},
    };
    for (const auto& c : cases) {
        const OutputFormat* format = findOutputFormat(c.path);
        ASSERT_NE(format, nullptr) << c.path;
        EXPECT_STREQ(format->extensions[0], c.extension) << c.path;
    }
}

TEST(OutputTable, TheListNamesEveryExtensionWritten) {
    size_t extensions = 0;
    const std::string list = outputExtensionList();
    for (const OutputFormat* format : outputFormats())
        for (const char* extension : format->extensions)
            if (extension) {
                ++extensions;
                EXPECT_NE(list.find(extension), std::string::npos) << list;
                EXPECT_EQ(findOutputFormat((std::string("out") + extension).c_str()), format);
            }
    EXPECT_GE(extensions, 1u);
    EXPECT_EQ(list.rfind(".vxl", 0), 0u) << list;
    EXPECT_EQ(list, ".vxl, .glb, .gltf, .obj, .ply, .stl, .vox, .html");
    EXPECT_EQ(meshOutputExtensionList(), ".glb, .gltf, .obj, .ply, .stl");
    EXPECT_FALSE(findOutputFormat("a.vox")->takesMesh);
    EXPECT_FALSE(findOutputFormat("a.vxl")->takesMesh);
    EXPECT_FALSE(findOutputFormat("a.html")->takesMesh);
    EXPECT_TRUE(findOutputFormat("a.stl")->takesMesh);
}

TEST(OutputTable, CompanionsFollowTheMeshChoice) {
    using Names = std::vector<std::string>;
    const auto companions = [](const char* path, MeshChoice mesh) {
        Names files;
        const OutputFormat* format = findOutputFormat(path);
        if (format && format->companions)
            format->companions({path, mesh}, files);
        return files;
    };
    EXPECT_EQ(companions("out/My Model.gltf", MeshChoice::greedy),
              (Names{"out/My Model.bin", "out/My Model.png"}));
    EXPECT_EQ(companions("m.gltf", MeshChoice::faces), (Names{"m.bin"}));
    EXPECT_EQ(companions("m.OBJ", MeshChoice::greedy), (Names{"m.mtl", "m.png"}));
    EXPECT_EQ(companions("m.obj", MeshChoice::cubes), (Names{"m.mtl"}));
    for (const char* alone : {"m.glb", "m.ply", "m.stl", "m.vox", "m.vxl", "m", "m.html"})
        EXPECT_TRUE(companions(alone, MeshChoice::greedy).empty()) << alone;
}
