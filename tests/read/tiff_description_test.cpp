// ImageJ's and OME-XML's descriptions of a stack: which pages are the z
// slices of the first channel and time point, and the spacing they state.
#include <gtest/gtest.h>

#include "read/tiff_description.h"

namespace {

TiffStackPlan planOf(const std::string& text, int samplesPerPixel = 1) {
    TiffStackPlan plan;
    std::string reason;
    EXPECT_TRUE(readTiffDescription(text, samplesPerPixel, plan, reason)) << reason;
    return plan;
}

std::string refusalOf(const std::string& text) {
    TiffStackPlan plan;
    std::string reason;
    EXPECT_FALSE(readTiffDescription(text, 1, plan, reason));
    return reason;
}

std::string ome(const std::string& pixels) {
    return "<?xml version=\"1.0\"?><OME xmlns=\"x\"><Image ID=\"Image:0\"><Pixels ID=\"P\" " +
           pixels + "><Channel ID=\"C\"/></Pixels></Image></OME>";
}

} // namespace

TEST(TiffDescription, ImageJHyperstacksStepOverChannelsAndStopBeforeTheSecondFrame) {
    // czt: channels fastest, so slice z is page 2z; frames follow all slices.
    TiffStackPlan plan = planOf("ImageJ=1.11a\nimages=30\nchannels=2\nslices=5\nframes=3\n"
                                "hyperstack=true\nunit=micron\nspacing=2.5\nloop=false\n");
    EXPECT_STREQ(plan.source, "ImageJ");
    EXPECT_EQ(plan.slices, 5);
    EXPECT_EQ(plan.pageStep, 2);
    EXPECT_EQ(plan.pages, 30);
    EXPECT_EQ(plan.spacing[2], 2.5);
    EXPECT_EQ(plan.unit, "micron");
    // A plain stack says only how many images; a time series of one slice
    // gives that slice.
    plan = planOf("ImageJ=1.53t\nimages=7\n");
    EXPECT_EQ(plan.slices, 7);
    EXPECT_EQ(plan.pageStep, 1);
    EXPECT_EQ(plan.spacing[2], 0);
    EXPECT_EQ(planOf("ImageJ=1.53t\nimages=4\nframes=4\n").slices, 1);
    // Three channels of RGB pages are one page each.
    plan = planOf("ImageJ=1.53t\nimages=4\nchannels=3\nslices=4\n", 3);
    EXPECT_EQ(plan.pageStep, 1);
    EXPECT_EQ(plan.slices, 4);
}

TEST(TiffDescription, OmeDimensionOrderSetsTheStepAndSizesConvertToXsUnit) {
    TiffStackPlan plan = planOf(ome("DimensionOrder=\"XYCZT\" SizeX=\"30\" SizeY=\"20\" "
                                    "SizeC=\"2\" SizeZ=\"10\" SizeT=\"3\" PhysicalSizeX=\"0.5\" "
                                    "PhysicalSizeY=\"0.25\" PhysicalSizeZ=\"2.0\""));
    EXPECT_STREQ(plan.source, "OME-XML");
    EXPECT_EQ(plan.slices, 10);
    EXPECT_EQ(plan.pageStep, 2);
    EXPECT_EQ(plan.pages, 60);
    EXPECT_EQ(plan.spacing[0], 0.5);
    EXPECT_EQ(plan.spacing[1], 0.25);
    EXPECT_EQ(plan.spacing[2], 2.0);
    EXPECT_EQ(plan.unit, "\xC2\xB5m");
    // Z fastest: consecutive pages; a z size in nanometres becomes micrometres.
    plan = planOf(ome("DimensionOrder='XYZCT' SizeZ='4' SizeC='2' SizeT='1' PhysicalSizeX='0.5' "
                      "PhysicalSizeZ='1500' PhysicalSizeZUnit='nm'"));
    EXPECT_EQ(plan.pageStep, 1);
    EXPECT_EQ(plan.slices, 4);
    EXPECT_DOUBLE_EQ(plan.spacing[2], 1.5);
    EXPECT_EQ(plan.spacing[1], 0);
    // XYTCZ: every time point and channel of a slice comes before the next.
    EXPECT_EQ(planOf(ome("DimensionOrder=\"XYTCZ\" SizeZ=\"3\" SizeC=\"2\" SizeT=\"5\"")).pageStep,
              10);
    // A prefixed namespace, and RGB channels stored as one page.
    plan = planOf("<ome:OME><ome:Image><ome:Pixels DimensionOrder=\"XYCZT\" SizeZ=\"6\" "
                  "SizeC=\"3\" SizeT=\"2\"/></ome:Image></ome:OME>",
                  3);
    EXPECT_EQ(plan.pageStep, 1);
    EXPECT_EQ(plan.pages, 12);
}

TEST(TiffDescription, OtherTextSaysNothingAndBrokenCountsAreRefused) {
    TiffStackPlan plan = planOf("a scan of cells");
    EXPECT_STREQ(plan.source, "");
    EXPECT_EQ(plan.slices, 0);
    EXPECT_EQ(planOf("").slices, 0);
    EXPECT_EQ(refusalOf("ImageJ=1.11a\nimages=10\nslices=0\n"),
              "its ImageJ description's slices=\"0\" is not a count from 1 to 2^31");
    EXPECT_EQ(refusalOf("ImageJ=1.11a\nchannels=99999999999999999999\n"),
              "its ImageJ description's channels=\"99999999999999999999\" is not a count from 1 "
              "to 2^31");
    EXPECT_EQ(refusalOf("ImageJ=1.11a\nimages=4\nchannels=2\nslices=3\n"),
              "its ImageJ description counts 6 pages (channels x slices x frames) but images=4");
    EXPECT_EQ(refusalOf(ome("DimensionOrder=\"XYZZT\" SizeZ=\"2\"")),
              "its OME-XML DimensionOrder \"XYZZT\" is not XY followed by Z, C and T");
    EXPECT_EQ(refusalOf(ome("DimensionOrder=\"XYZCT\" SizeZ=\"-1\"")),
              "its OME-XML SizeZ=\"-1\" is not a count from 1 to 2^31");
    EXPECT_EQ(refusalOf("<OME><Image/></OME>"), "its OME-XML description has no Pixels element");
}
