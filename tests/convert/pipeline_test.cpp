// The checks made before anything is read: the output's extension is one
// vxlconv writes, and no file an output format writes is the input.
#include <gtest/gtest.h>

#include "convert/output_table.h"
#include "convert/pipeline.h"
#include "platform/output_file.h"
#include "scratch_dir.h"

namespace {

struct OutputGuard : ScratchDirTest {};

std::string companionName;

void oneCompanion(const WriteOptions&, std::vector<std::string>& files) {
    files.push_back(companionName);
}

bool writeNothing(const VoxelGrid&, const WriteOptions&, std::string&) {
    return true;
}

const OutputFormat twoFiles = {"two files", {".two"}, writeNothing, oneCompanion};

} // namespace

TEST_F(OutputGuard, AFileWrittenBesideTheOutputMayNotBeTheInput) {
    ConversionOptions options;
    options.input = write("model.bin", "input");
    options.output = dir + "/model.two";
    std::string error;
    companionName = options.input;
    EXPECT_FALSE(beginOutputAs(twoFiles, options, error));
    EXPECT_EQ(error, options.input + " is the input; write the output to another file");
    EXPECT_EQ(contents(options.input), "input");
    EXPECT_EQ(others("model.bin"), std::vector<std::string>());

    companionName = dir + "/model.other";
    ASSERT_TRUE(beginOutputAs(twoFiles, options, error)) << error;
    abandonOutputFile();
    EXPECT_EQ(others("model.bin"), std::vector<std::string>());
}

TEST_F(OutputGuard, AnExtensionNoRowWritesIsRefusedAfterTheInputGuard) {
    ConversionOptions options;
    options.input = write("model.glb", "input");
    options.output = dir + "/model.glb";
    std::string error;
    EXPECT_FALSE(beginConversionOutput(options, error));
    EXPECT_EQ(error, options.output + " is the input; write the output to another file");
    options.output = dir + "/out.GLB";
    EXPECT_FALSE(beginConversionOutput(options, error));
    EXPECT_EQ(error, "cannot write " + options.output + ": unknown output type; vxlconv writes " +
                         outputExtensionList());
    EXPECT_EQ(others("model.glb"), std::vector<std::string>());
    options.output = dir + "/out";
    ASSERT_TRUE(beginConversionOutput(options, error)) << error;
    abandonOutputFile();
}
