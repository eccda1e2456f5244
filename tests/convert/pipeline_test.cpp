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

const OutputFormat twoFiles = {"two files", {".two"}, writeNothing, oneCompanion, false, ""};

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
    options.output = dir + "/out.XYZ";
    EXPECT_FALSE(beginConversionOutput(options, error));
    EXPECT_EQ(error, "cannot write " + options.output + ": unknown output type; vxlconv writes " +
                         outputExtensionList());
    EXPECT_EQ(others("model.glb"), std::vector<std::string>());
    options.output = dir + "/out";
    ASSERT_TRUE(beginConversionOutput(options, error)) << error;
    abandonOutputFile();
}

TEST_F(OutputGuard, CompanionsAreBegunWithTheOutputAndMeshIsForMeshesAlone) {
    ConversionOptions options;
    options.input = write("model.vxl", "input");
    options.output = dir + "/out.gltf";
    std::string error;
    ASSERT_TRUE(beginConversionOutput(options, error)) << error;
    // The output, its buffer and its texture: three temporary files.
    EXPECT_EQ(others("model.vxl").size(), 3u);
    abandonOutputFile();
    EXPECT_EQ(others("model.vxl"), std::vector<std::string>());

    // --mesh on an output that is no mesh is refused before any file is made,
    // naming the output's extension, or the row's when the name has none.
    options.meshGiven = true;
    options.output = dir + "/out.Vox";
    EXPECT_FALSE(beginConversionOutput(options, error));
    EXPECT_EQ(error,
              "--mesh applies to mesh outputs (" + meshOutputExtensionList() + "), not .vox");
    options.output = dir + "/out";
    EXPECT_FALSE(beginConversionOutput(options, error));
    EXPECT_EQ(error,
              "--mesh applies to mesh outputs (" + meshOutputExtensionList() + "), not .vxl");
    EXPECT_EQ(others("model.vxl"), std::vector<std::string>());
    options.output = dir + "/out.stl";
    ASSERT_TRUE(beginConversionOutput(options, error)) << error;
    abandonOutputFile();
}
