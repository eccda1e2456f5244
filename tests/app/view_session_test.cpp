// What vxlconv --view names its file and hands the viewer: the file named
// for the input, so the viewer's title names the model, and GLUT's options
// in the order given.
#include <gtest/gtest.h>

#include "app/view_session.h"

TEST(ViewSession, TheFileIsNamedForTheInput) {
    const std::pair<std::string, std::string> names[] = {
        {"scans/head.nii.gz", "head.vxl"},
        {"castle.vox", "castle.vxl"},
        {"/data/model.vxl", "model.vxl"},
        {"duck.DAE", "duck.vxl"},
        {"README", "README.vxl"},
        {".hidden", ".hidden.vxl"},
        {"a.b.c.ply", "a.b.c.vxl"},
        {"/dev/stdin", "stdin.vxl"},
        {"folder/", "folder.vxl"},
        {"/", "model.vxl"},
        {"..", "model.vxl"},
        {".gz", "model.vxl"},
    };
    for (const auto& [input, name] : names)
        EXPECT_EQ(viewFileName(input), name) << input;
    // A long name is cut to fit a folder entry, never inside a character.
    const std::string accented = std::string(199, 'a') + "\xc3\xa9" + "tude.ply";
    EXPECT_EQ(viewFileName(accented), std::string(199, 'a') + ".vxl");
    EXPECT_EQ(viewFileName(std::string(300, 'b')), std::string(200, 'b') + ".vxl");
}

TEST(ViewSession, TheViewerIsLookedForBesideTheProgramAndGivenGlutOptionsFirst) {
    EXPECT_EQ(viewerBeside("/usr/bin/vxlconv"), "/usr/bin/voxscope");
    EXPECT_EQ(viewerBeside("/home/me/build/vxlconv"), "/home/me/build/voxscope");
    ConversionOptions options;
    options.input = "scans/head.nii.gz";
    options.viewerOptions = {"-geometry", "640x480", "-iconic"};
    const std::vector<std::string> expected = {"head.vxl", "-geometry", "640x480", "-iconic",
                                               "/tmp/vxlconv-ab12cd/head.vxl"};
    EXPECT_EQ(viewerArguments(options, "/tmp/vxlconv-ab12cd/head.vxl"), expected);
}
