// vxlconv --help as the tables make it: every input row's entry, every
// extension either table goes by, the formats --threshold and --colors
// apply to, and lines that fit a terminal; the options of shading and of
// the background label as the command line gives them.
#include <gtest/gtest.h>

#include "convert/conversion_options.h"
#include "convert/input_table.h"
#include "convert/output_table.h"

#include <cctype>
#include <cstring>
#include <sstream>

TEST(ConversionHelp, NamesEveryRowOfBothTables) {
    const std::string help = vxlconvHelpText();
    EXPECT_EQ(help.rfind("Usage: vxlconv INPUT OUTPUT [OPTIONS]\n", 0), 0u);
    // The names a file goes by, in the sentence that says so.
    std::string flat = help;
    for (char& c : flat)
        c = c == '\n' ? ' ' : c;
    const size_t from = flat.find("a name ending in "), to = flat.find(" (each also with .gz)");
    ASSERT_LT(from, to);
    ASSERT_NE(to, std::string::npos);
    const std::string names = flat.substr(from, to - from) + ",";
    // Each entry once, even where rows share it, its title at the start of a
    // line of the list.
    for (const InputFormat* format : inputFormats()) {
        const std::string title = std::string("\n  ") + format->helpTitle + "  ";
        const size_t at = help.find(title);
        EXPECT_NE(at, std::string::npos) << format->name;
        EXPECT_EQ(help.find(title, at + 1), std::string::npos) << format->name;
        for (const char* extension : format->extensions) {
            if (extension) {
                EXPECT_NE(names.find(std::string(" ") + extension + ","), std::string::npos)
                    << extension << " in " << names;
            }
        }
    }
    for (const OutputFormat* format : outputFormats()) {
        for (const char* extension : format->extensions) {
            if (extension) {
                // In the sentence that lists them, which may wrap anywhere.
                EXPECT_NE(flat.find(std::string(extension) + " (" + format->name + ")"),
                          std::string::npos)
                    << extension;
            }
        }
    }
    // Each output row's entry: its extension at the start of a line of the
    // output list, then its text.
    const size_t outputs = help.find("\nOUTPUT ");
    ASSERT_NE(outputs, std::string::npos);
    for (const OutputFormat* format : outputFormats()) {
        const size_t at = help.find(std::string("\n  ") + format->extensions[0] + " ", outputs);
        ASSERT_NE(at, std::string::npos) << format->name;
        const size_t text = help.find_first_not_of(' ', at + 3 + strlen(format->extensions[0]));
        EXPECT_EQ(help.compare(text, 12, format->helpText, 12), 0) << format->name;
    }
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 78u) << line;
}

TEST(ConversionHelp, TheSampleOptionsApplyToTheRowsOfSamplesAlone) {
    const std::string list = sampleFormatTitles(" and ");
    const std::string help = vxlconvHelpText();
    size_t samples = 0;
    for (const InputFormat* format : inputFormats()) {
        const bool listed = list.find(format->helpTitle) != std::string::npos;
        // A row read by path (a folder of slices) reads samples too.
        EXPECT_EQ(listed, readsSamples(*format)) << format->name;
        samples += readsSamples(*format);
    }
    EXPECT_GE(samples, 5u);
    EXPECT_NE(list.find(" and "), std::string::npos) << list;
    // The list wraps over lines as it grows: compared with the spaces run together.
    std::string flat;
    for (char c : help)
        if (!(isspace(static_cast<unsigned char>(c)) && !flat.empty() && flat.back() == ' '))
            flat += isspace(static_cast<unsigned char>(c)) ? ' ' : c;
    EXPECT_NE(flat.find("--threshold T " + sampleFormatTitles(", ") + ":"), std::string::npos);
    EXPECT_NE(flat.find("--colors C " + sampleFormatTitles(", ") + ":"), std::string::npos);
}

namespace {

OptionsResult parse(std::vector<std::string> args, ConversionOptions& options, std::string& error) {
    args.insert(args.begin(), "vxlconv");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    options = ConversionOptions();
    error.clear();
    return parseConversionOptions(int(argv.size()), argv.data(), options, error);
}

} // namespace

TEST(ConversionOptions, ShadeAndBackgroundAreReadAndTheirMistakesRefused) {
    ConversionOptions options;
    std::string error;
    ASSERT_EQ(parse({"a.npy", "b.vxl"}, options, error), OptionsResult::convert);
    EXPECT_EQ(options.shade, ShadeChoice::automatic);
    EXPECT_FALSE(options.backgroundGiven);
    EXPECT_EQ(options.threshold.background, 0.0);
    ASSERT_EQ(parse({"a.npy", "--shade", "b.vxl"}, options, error), OptionsResult::convert);
    EXPECT_EQ(options.shade, ShadeChoice::on);
    // The last word wins, as for every other option.
    ASSERT_EQ(parse({"a.npy", "--shade", "--no-shade", "b.vxl"}, options, error),
              OptionsResult::convert);
    EXPECT_EQ(options.shade, ShadeChoice::off);
    ASSERT_EQ(parse({"a.npy", "b.vxl", "--background=-4"}, options, error), OptionsResult::convert);
    EXPECT_TRUE(options.backgroundGiven);
    EXPECT_EQ(options.threshold.background, -4.0);
    EXPECT_FALSE(options.threshold.given);

    const std::pair<std::vector<std::string>, std::string> refusals[] = {
        {{"a.npy", "b.vxl", "--no-shade=1"}, "--no-shade takes no value"},
        {{"a.npy", "b.vxl", "--background", "inf"}, "--background needs a number, not \"inf\""},
        {{"a.npy", "b.vxl", "--background"}, "--background needs a value (see vxlconv --help)"},
        {{"a.npy", "b.vxl", "--background", "3", "--threshold", "1"},
         "give either --threshold or --background, not both"},
        {{"a.vdb", "b.vxl", "--grid", ""}, "--grid needs a grid's name or number"},
    };
    for (const auto& [args, message] : refusals) {
        EXPECT_EQ(parse(args, options, error), OptionsResult::refused) << message;
        EXPECT_EQ(error, message);
    }
}

TEST(ConversionOptions, ViewTakesTheInputAloneAndPassesGlutOptionsOn) {
    ConversionOptions options;
    std::string error;
    ASSERT_EQ(parse({"-geometry", "640x480+1+2", "--view", "a.vox", "-iconic", "--hollow",
                     "-display", ":3"},
                    options, error),
              OptionsResult::convert)
        << error;
    EXPECT_TRUE(options.view);
    EXPECT_TRUE(options.hollow);
    EXPECT_EQ(options.input, "a.vox");
    EXPECT_EQ(options.output, "");
    // In the order given, each value with its option.
    const std::vector<std::string> passed = {"-geometry", "640x480+1+2", "-iconic", "-display",
                                             ":3"};
    EXPECT_EQ(options.viewerOptions, passed);

    const std::pair<std::vector<std::string>, std::string> refusals[] = {
        {{"--view", "a.vox", "b.vxl"},
         "--view writes no output file: leave out b.vxl (see vxlconv --help)"},
        {{"--view"}, "needs an input file: vxlconv --view INPUT (see vxlconv --help)"},
        {{"--view", "a.vox", "-geometry"}, "-geometry needs a value (see vxlconv --help)"},
        {{"a.vox", "b.vxl", "-sync"},
         "-sync is an option of the viewer: give it with --view (see vxlconv --help)"},
        {{"--view", "a.vox", "-geometryx"}, "unknown option -geometryx (see vxlconv --help)"},
    };
    for (const auto& [args, message] : refusals) {
        ConversionOptions fresh;
        EXPECT_EQ(parse(args, fresh, error), OptionsResult::refused) << message;
        EXPECT_EQ(error, message);
    }
}
