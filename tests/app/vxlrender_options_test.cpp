// vxlrender's command line: what each option sets, what is refused and why,
// and the help text's figures against the limits the program applies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/thumbnail_input.h"
#include "app/vxlrender_options.h"

namespace {

struct Parsed {
    ParseResult result;
    RenderOptions options;
    std::string error;
};

Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "vxlrender");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    Parsed p;
    p.result = parseRenderOptions(int(argv.size()), argv.data(), &p.options, &p.error);
    // The paths point into `args`; keep copies the caller can compare.
    static std::string input, output;
    input = p.options.input ? p.options.input : "";
    output = p.options.output ? p.options.output : "";
    p.options.input = input.c_str();
    p.options.output = output.c_str();
    return p;
}

TEST(RenderOptions, DefaultsAndEachOption) {
    Parsed p = parse({"in.vxl", "out.png"});
    ASSERT_EQ(p.result, ParseResult::render);
    EXPECT_STREQ(p.options.input, "in.vxl");
    EXPECT_STREQ(p.options.output, "out.png");
    EXPECT_EQ(p.options.width, 800);
    EXPECT_EQ(p.options.height, 600);
    EXPECT_EQ(p.options.view, RenderView::front);
    EXPECT_FALSE(p.options.thumbnail);

    // Options before, between and after the paths, with or without "=".
    for (auto args : std::vector<std::vector<std::string>>{
             {"--size", "400x200", "--view", "iso", "in.vxl", "out.png"},
             {"in.vxl", "--size=400x200", "out.png", "--view=iso"},
         }) {
        p = parse(args);
        ASSERT_EQ(p.result, ParseResult::render) << p.error;
        EXPECT_EQ(p.options.width, 400);
        EXPECT_EQ(p.options.height, 200);
        EXPECT_EQ(p.options.view, RenderView::iso);
        EXPECT_STREQ(p.options.input, "in.vxl");
        EXPECT_STREQ(p.options.output, "out.png");
    }

    p = parse({"--size", "1x16384", "a", "b"});
    ASSERT_EQ(p.result, ParseResult::render);
    EXPECT_EQ(p.options.width, 1);
    EXPECT_EQ(p.options.height, 16384);

    // A thumbnail is square, iso, and marked as one.
    p = parse({"--thumbnail", "256", "in.vxl", "out.png"});
    ASSERT_EQ(p.result, ParseResult::render);
    EXPECT_TRUE(p.options.thumbnail);
    EXPECT_EQ(p.options.width, 256);
    EXPECT_EQ(p.options.height, 256);
    EXPECT_EQ(p.options.view, RenderView::iso);

    // Paths that look like options, after "--"; "-" alone is a path.
    p = parse({"--", "-in.vxl", "--out.png"});
    ASSERT_EQ(p.result, ParseResult::render);
    EXPECT_STREQ(p.options.input, "-in.vxl");
    EXPECT_STREQ(p.options.output, "--out.png");
    p = parse({"-", "out.png"});
    ASSERT_EQ(p.result, ParseResult::render);
    EXPECT_STREQ(p.options.input, "-");

    EXPECT_EQ(parse({"--help"}).result, ParseResult::help);
    EXPECT_EQ(parse({"in.vxl", "-h", "--size", "bad"}).result, ParseResult::help);
}

TEST(RenderOptions, Refusals) {
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{}, "no input or output named"},
        {{"in.vxl"}, "no output named"},
        {{"a", "b", "c"}, "one input and one output only; \"c\" is one too many"},
        {{"a", "b", "--zoom", "2"}, "unknown option --zoom"},
        {{"a", "b", "-s"}, "unknown option -s"},
        {{"a", "b", "--size"}, "--size needs a value"},
        {{"a", "b", "--size="}, "--size needs WIDTHxHEIGHT, each 1 to 16384, not \"\""},
        {{"a", "b", "--size", "800"}, "--size needs WIDTHxHEIGHT, each 1 to 16384, not \"800\""},
        {{"a", "b", "--size", "800x"}, "--size needs WIDTHxHEIGHT, each 1 to 16384, not \"800x\""},
        {{"a", "b", "--size", "x600"}, "--size needs WIDTHxHEIGHT, each 1 to 16384, not \"x600\""},
        {{"a", "b", "--size", "0x600"},
         "--size needs WIDTHxHEIGHT, each 1 to 16384, not \"0x600\""},
        {{"a", "b", "--size", "16385x1"},
         "--size needs WIDTHxHEIGHT, each 1 to 16384, not \"16385x1\""},
        {{"a", "b", "--size", "99999999999x1"},
         "--size needs WIDTHxHEIGHT, each 1 to 16384, not \"99999999999x1\""},
        {{"a", "b", "--size", "+8x8"}, "--size needs WIDTHxHEIGHT, each 1 to 16384, not \"+8x8\""},
        {{"a", "b", "--size", "8x8x8"},
         "--size needs WIDTHxHEIGHT, each 1 to 16384, not \"8x8x8\""},
        {{"a", "b", "--size", "8X8"}, "--size needs WIDTHxHEIGHT, each 1 to 16384, not \"8X8\""},
        {{"a", "b", "--view", "top"}, "--view is front or iso, not \"top\""},
        {{"a", "b", "--view", "ISO"}, "--view is front or iso, not \"ISO\""},
        {{"a", "b", "--thumbnail", "0"}, "--thumbnail needs a size from 1 to 16384, not \"0\""},
        {{"a", "b", "--thumbnail", "12a"}, "--thumbnail needs a size from 1 to 16384, not \"12a\""},
        {{"--thumbnail", "64", "--size", "8x8", "a", "b"},
         "--thumbnail sets the size and the view; give no --size or --view with it"},
        {{"--view", "iso", "--thumbnail", "64", "a", "b"},
         "--thumbnail sets the size and the view; give no --size or --view with it"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        Parsed p = parse(c.args);
        EXPECT_EQ(p.result, ParseResult::error);
        EXPECT_EQ(p.error, c.error);
    }
}

TEST(RenderOptions, ConversionOptionsAreVxlconvs) {
    Parsed p = parse({"head.nii.gz", "--threshold", "300", "head.png", "--hollow", "--size",
                      "64x48", "--voxel-size=2", "--no-shade", "--max-voxels", "500"});
    ASSERT_EQ(p.result, ParseResult::render) << p.error;
    const ConversionOptions& c = p.options.conversion;
    EXPECT_TRUE(c.given);
    EXPECT_TRUE(c.threshold.given);
    EXPECT_EQ(c.threshold.value, 300.0);
    EXPECT_TRUE(c.hollow);
    EXPECT_EQ(c.voxelSize, 2.0);
    EXPECT_EQ(c.shade, ShadeChoice::off);
    EXPECT_EQ(c.maxVoxels, 500);
    EXPECT_EQ(c.input, "head.nii.gz");
    EXPECT_EQ(c.output, "head.png");
    EXPECT_EQ(p.options.width, 64);
    EXPECT_FALSE(parse({"in.vxl", "out.png"}).options.conversion.given);

    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"a", "b", "--threshold"}, "--threshold needs a value (see vxlrender --help)"},
        {{"a", "b", "--resolution", "1"},
         "--resolution needs a whole number from 2 to 2097152, "
         "not \"1\""},
        {{"a", "b", "--hollow=yes"}, "--hollow takes no value"},
        {{"a", "b", "--resolution", "9", "--voxel-size", "1"},
         "give either --voxel-size or --resolution, not both"},
        {{"a", "b", "--mesh", "faces"},
         "--mesh applies to vxlconv's mesh outputs, not to pictures"},
        {{"--thumbnail", "64", "a", "b", "--hollow"},
         "--thumbnail draws files as they are; give no conversion options with it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Parsed r = parse(c.args);
        EXPECT_EQ(r.result, ParseResult::error);
        EXPECT_EQ(r.error, c.error);
    }
}

TEST(RenderOptions, HelpStatesTheLimitsThatApply) {
    std::string help = vxlrenderHelpText();
    EXPECT_NE(help.find(std::to_string(thumbnailMaxVoxels) + " voxels"), std::string::npos);
    EXPECT_NE(help.find(std::to_string(thumbnailMaxBytes) + " bytes"), std::string::npos);
    EXPECT_NE(help.find(std::to_string(thumbnailMaxBytes >> 20) + " MiB"), std::string::npos);
    EXPECT_NE(help.find("1 to " + std::to_string(largestPictureSide) + " a side"),
              std::string::npos);
    EXPECT_EQ(help.rfind("Usage: vxlrender INPUT OUTPUT.png", 0), 0u);
    // The conversion options' entries, as vxlconv prints them.
    EXPECT_NE(help.find(conversionOptionsHelp(false)), std::string::npos);
    std::string usage = renderUsageLine;
    EXPECT_EQ(usage.rfind("Usage: vxlrender ", 0), 0u);
    EXPECT_EQ(usage.find('\n'), usage.size() - 1);
}

} // namespace
