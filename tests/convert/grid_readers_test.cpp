// Every small voxel-file and .vox sample, cut at every length, through the
// converter's reader choice and readers: a voxel file must give exactly what
// the viewer's reference loader (the fscanf loop) gives, a refusal in its
// words included; a cut .vox file must be refused with a reason, a whole one
// read as the .vox reader reads it. Run under the sanitizers too.
#include <gtest/gtest.h>

#include "convert/grid_readers.h"
#include "dual_load.h"
#include "read/vox_reader.h"

#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

std::vector<std::string> samples(const char* dir, const char* extension) {
    std::vector<std::string> paths;
    DIR* d = opendir(dir);
    if (!d)
        return paths;
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (hasExtension(name.c_str(), extension))
            paths.push_back(std::string(dir) + "/" + name);
    }
    closedir(d);
    return paths;
}

std::vector<uint8_t> contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Thousands of cuts are written and read back: in memory when the machine
// has a memory file system.
std::string scratchFile(const char* name) {
    const char* tmp = getenv("TMPDIR");
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : tmp && *tmp ? tmp : "/tmp";
    return std::string(dir) + "/grid-readers-" + std::to_string(getpid()) + "-" + name;
}

// The reader the converter would choose for these bytes under this name.
bool readAsConverter(const uint8_t* data, size_t size, const char* path, VoxelGrid& grid,
                     std::string& error, const char* expectFormat) {
    const GridFormat* format = findGridFormat(data, std::min(size, gridSniffBytes), path);
    EXPECT_NE(format, nullptr);
    if (!format)
        return false;
    EXPECT_STREQ(format->name, expectFormat);
    GridReadOptions options;
    options.path = path;
    options.maxVoxels = 59652323;
    return format->read(data, size, options, grid, error);
}

} // namespace

TEST(GridReaders, EveryCutOfEveryVoxelFileSampleReadsAsTheViewerReadsIt) {
    const std::vector<std::string> files = samples(VOXSCOPE_LOADER_CORPUS, ".vxl");
    ASSERT_GT(files.size(), size_t(20));
    const std::string path = scratchFile("cut.vxl");
    size_t cuts = 0, accepted = 0;
    for (const std::string& sample : files) {
        const std::vector<uint8_t> bytes = contents(sample);
        for (size_t length = 0; length <= bytes.size(); ++length) {
            SCOPED_TRACE(sample + " cut to " + std::to_string(length) + " bytes");
            {
                std::ofstream out(path, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(length));
            }
            LoadOutcome reference = loadCapturingStderr(loadVoxelsWithStdio, path.c_str());
            // Exactly the bytes of the cut, so that any read past them shows.
            std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + std::ptrdiff_t(length));
            VoxelGrid grid;
            std::string error;
            const bool read = readAsConverter(cut.data(), cut.size(), path.c_str(), grid, error,
                                              "voxel file .vxl");
            ++cuts;
            ASSERT_EQ(read, reference.model != nullptr) << error << reference.messages;
            if (read) {
                ++accepted;
                const VoxelModel& m = *reference.model;
                ASSERT_EQ(grid.voxels.colors.size(), 3 * size_t(m.count));
                EXPECT_EQ(memcmp(&grid.voxels.voxelSize, &m.voxelSize, 4), 0);
                if (m.count > 0) {
                    EXPECT_EQ(
                        memcmp(grid.voxels.positions.data(), m.positions, 12 * size_t(m.count)), 0);
                    EXPECT_EQ(memcmp(grid.voxels.colors.data(), m.colors, 3 * size_t(m.count)), 0);
                }
            } else {
                std::string said = reference.messages;
                while (!said.empty() && said.back() == '\n')
                    said.pop_back();
                EXPECT_NE(error.find("(the viewer would say: " + said + ")"), std::string::npos)
                    << error << " / " << said;
            }
            releaseOutcome(&reference);
        }
    }
    remove(path.c_str());
    EXPECT_GT(accepted, size_t(100)) << "of " << cuts;
}

TEST(GridReaders, EveryCutOfEveryVoxSampleIsRefusedAndTheWholeReadAsBefore) {
    std::vector<std::string> files = samples(VOXSCOPE_VOX_CORPUS, ".vox");
    files.push_back(VOXSCOPE_EXAMPLES "/scene.vox");
    ASSERT_GT(files.size(), size_t(8));
    size_t whole = 0;
    for (const std::string& sample : files) {
        const std::vector<uint8_t> bytes = contents(sample);
        for (size_t length = 0; length <= bytes.size(); ++length) {
            SCOPED_TRACE(sample + " cut to " + std::to_string(length) + " bytes");
            std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + std::ptrdiff_t(length));
            VoxelGrid grid;
            std::string error;
            const bool read = readAsConverter(cut.data(), cut.size(), sample.c_str(), grid, error,
                                              "MagicaVoxel .vox");
            if (length < bytes.size()) {
                EXPECT_FALSE(read);
                EXPECT_GT(error.size(), sample.size() + 2) << "a refusal says why";
                continue;
            }
            // The whole file: as the .vox reader and the scene placement say.
            VoxScene scene;
            std::string direct;
            VoxelList list;
            const bool expected = parseVox(cut.data(), cut.size(), scene, direct) &&
                                  placeVoxScene(scene, 1.0f, 59652323, list, direct);
            ASSERT_EQ(read, expected) << error << " / " << direct;
            if (read) {
                ++whole;
                EXPECT_EQ(grid.voxels.positions, list.positions);
                EXPECT_EQ(grid.voxels.colors, list.colors);
                EXPECT_TRUE(grid.hasLattice);
            } else {
                EXPECT_NE(error.find(direct), std::string::npos) << error;
            }
        }
    }
    EXPECT_GE(whole, size_t(5));
}
