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
    EXPECT_EQ(findOutputFormat("out.glb"), nullptr);
    EXPECT_EQ(findOutputFormat("out.vxl.bak"), nullptr);
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
}
