// The OpenVDB row's reading child: it alone loads libopenvdb (through the
// module), so a program that links the table never maps the library or the
// log4cplus whose worker threads hang a forked child's exit().
#include <gtest/gtest.h>

#include "grid_samples.h"
#include "read/vdb_reader.h"

#include <fstream>
#include <string>

namespace {

// The lines of this process's memory map that name `library`.
std::string mapsNaming(const char* library) {
    std::ifstream maps("/proc/self/maps");
    std::string line, found;
    while (std::getline(maps, line))
        if (line.find(library) != std::string::npos)
            found += line + "\n";
    return found;
}

} // namespace

TEST(VdbReader, ReadsAGridWithoutLoadingLibopenvdbHere) {
    const std::vector<uint8_t> bytes =
        fileBytes(std::string(VOXSCOPE_INPUT_CORPUS) + "/vdb_fog.vdb");
    ReadOptions options;
    options.path = "vdb_fog.vdb";
    SampleVolume volume;
    std::string reason;
    ASSERT_TRUE(readVdbGrid(bytes.data(), bytes.size(), options, volume, reason)) << reason;
    EXPECT_EQ(volume.type, SampleType::float32);
    EXPECT_GT(volume.dims[0] * volume.dims[1] * volume.dims[2], 1);
    for (const char* library : {"libopenvdb", "log4cplus", "libtbb"})
        EXPECT_EQ(mapsNaming(library), "") << library << " is mapped in the reading program";
}
