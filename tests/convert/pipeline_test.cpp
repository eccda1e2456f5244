// The checks made before anything is read, for every file an output format
// writes: none may be the input.
#include <gtest/gtest.h>

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
