// Inputs read through the table of formats, as the converter reads them:
// every cut of every small voxel-file and .vox sample (a voxel file exactly
// as the viewer's reference loader reads it, a refusal in its words
// included; a cut .vox file refused for the reason the .vox reader gives, a
// whole one read as the .vox reader reads it), which content wins over
// which name, gzip streams, and the refusals of header numbers and memory
// claims. Run under the sanitizers too, so that no cut reads past what it
// holds. (Every row's cuts and hostile headers: input_table_test.cpp.)
#include <gtest/gtest.h>

#include "convert/input_read.h"
#include "dual_load.h"
#include "grid_samples.h"
#include "read/memory_refusal.h"
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

// The row the converter would choose for these bytes under this name, and
// what it reads them as.
bool readAsConverter(const uint8_t* data, size_t size, const char* path, VoxelGrid& grid,
                     std::string& error, const char* expectFormat) {
    InputChoice choice;
    EXPECT_TRUE(chooseInput(data, size, path, choice, error));
    EXPECT_NE(choice.format, nullptr);
    if (!choice.format)
        return false;
    EXPECT_STREQ(choice.format->name, expectFormat);
    ReadOptions options;
    options.path = path;
    options.maxVoxels = 59652323;
    return readInputAs(choice, data, size, options, SampleRules(), grid, error);
}

bool readThroughTable(const std::vector<uint8_t>& bytes, const std::string& path, VoxelGrid& grid,
                      std::string& error, InputChoice& choice) {
    if (!chooseInput(bytes.data(), bytes.size(), path.c_str(), choice, error))
        return false;
    if (!choice.format) {
        error = "no grid reader claims it (the mesh importer then refuses it)";
        return false;
    }
    ReadOptions options;
    options.path = path.c_str();
    options.maxBytes = int64_t(64) << 20;
    SampleRules rules;
    rules.threshold = ThresholdRule{true, 1.0};
    return readInputAs(choice, bytes.data(), bytes.size(), options, rules, grid, error);
}

// What the reader table says of `bytes`, which it must refuse without
// leaving any voxel behind.
std::string refusalOf(const std::vector<uint8_t>& bytes, const std::string& path) {
    VoxelGrid grid;
    std::string error;
    InputChoice choice;
    EXPECT_FALSE(readThroughTable(bytes, path, grid, error, choice));
    EXPECT_TRUE(grid.voxels.positions.empty());
    return error;
}

// The row the table picks for `bytes`, with "gzip: " when it is inside a
// gzip stream, and what it reads them as.
std::string readAs(const std::vector<uint8_t>& bytes, VoxelGrid& grid, std::string& error) {
    InputChoice choice;
    if (!chooseInput(bytes.data(), bytes.size(), "labels", choice, error))
        return "refused";
    if (!choice.format)
        return "none";
    const std::string name = (choice.gzip ? "gzip: " : "") + std::string(choice.format->name);
    ReadOptions options;
    options.path = "labels";
    if (!readInputAs(choice, bytes.data(), bytes.size(), options, SampleRules(), grid, error))
        return name + ", refused";
    return name;
}

} // namespace

TEST(InputRead, EveryCutOfEveryVoxelFileSampleReadsAsTheViewerReadsIt) {
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

TEST(InputRead, EveryCutOfEveryVoxSampleIsRefusedAndTheWholeReadAsBefore) {
    std::vector<std::string> files = samples(VOXSCOPE_INPUT_CORPUS, ".vox");
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
                // Refused for the reason the .vox reader gives the cut.
                VoxScene scene;
                std::string reason;
                EXPECT_FALSE(read);
                EXPECT_FALSE(parseVox(cut.data(), cut.size(), scene, reason));
                EXPECT_EQ(error, "cannot read " + sample + ": " + reason);
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

TEST(InputRead, ContentWinsOverTheName) {
    const std::vector<uint8_t> npy = fileBytes(gridSample("labels.npy"));
    const std::vector<uint8_t> binvox = fileBytes(gridSample("ball.binvox"));
    auto formatOf = [&](const std::vector<uint8_t>& bytes, const char* path) {
        InputChoice choice;
        std::string error;
        if (!chooseInput(bytes.data(), bytes.size(), path, choice, error))
            return "refused: " + error;
        if (!choice.format)
            return std::string("none");
        return (choice.gzip ? "gzip: " : "") + std::string(choice.format->name);
    };
    EXPECT_EQ(formatOf(npy, "labels.binvox"), "NumPy .npy");
    EXPECT_EQ(formatOf(npy, "labels.vxl"), "NumPy .npy");
    EXPECT_EQ(formatOf(binvox, "ball.npy"), "binvox");
    EXPECT_EQ(formatOf(fileBytes(gridSample("density.nii.gz")), "x"), "gzip: NIfTI-1");
    EXPECT_EQ(formatOf(textBytes(std::string(" BDV\0\0\0\0", 8)), "smoke"), "OpenVDB");
    // With no magic, the name decides, and the reader then says what is wrong.
    const std::vector<uint8_t> junk = textBytes("not a grid at all");
    EXPECT_EQ(formatOf(junk, "cut.npy"), "NumPy .npy");
    EXPECT_EQ(formatOf(junk, "cut.nhdr"), "NRRD");
    EXPECT_EQ(formatOf(junk, "cut.nii"), "NIfTI-1");
    EXPECT_EQ(formatOf(junk, "cut.stl"), "none");
}

TEST(InputRead, HeaderNumbersBeyondFloatsAreRefusedNamingTheirFields) {
    const std::string nrrdHead = "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 2 2 2\n";
    const std::string nrrdData = "encoding: raw\n\n" + std::string(8, '\x01');
    std::vector<uint8_t> tinyPixdim = fileBytes(gridSample("dtypes/nifti-u1-F-le.nii"));
    std::vector<uint8_t> farOffset = tinyPixdim;
    for (int a = 0; a < 3; ++a) {
        const float tiny = 1e-40f, large = 1e37f;
        memcpy(&tinyPixdim[80 + 4 * a], &tiny, 4);
        memcpy(&farOffset[80 + 4 * a], &large, 4);
    }
    const float qoffsetZ = 3.38e38f; // qform_code is 1
    memcpy(&farOffset[276], &qoffsetZ, 4);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* path;
        const char* error;
    };
    const Case cases[] = {
        {"binvox translate", textBytes("#binvox 1\ndim 2 2 2\ntranslate 1e39 0 0\ndata\n\x01\x08"),
         "t.binvox",
         "t.binvox: the positions from \"translate\" and \"scale\" reach 1e+39 along x, beyond a "
         "32-bit float"},
        {"binvox scale", textBytes("#binvox 1\ndim 2 2 2\nscale 1e-320\ndata\n\x01\x08"),
         "s.binvox",
         "s.binvox: the voxel size from \"scale\" (4.99994e-321) is too small for a 32-bit float"},
        {"binvox translate beside scale",
         textBytes("#binvox 1\ndim 2 2 2\ntranslate 0 1e30 0\nscale 1\ndata\n\x01\x08"), "c.binvox",
         "c.binvox: the positions from \"translate\" and \"scale\" reach 1e+30 along y, where "
         "voxels 0.5 apart fall on one 32-bit float"},
        {"NRRD spacings", textBytes(nrrdHead + "spacings: 1e-320 1e-320 1e-320\n" + nrrdData),
         "s.nrrd",
         "s.nrrd: the voxel size from \"spacings\" (9.99989e-321) is too small for a 32-bit "
         "float"},
        {"NRRD space origin",
         textBytes(nrrdHead + "space origin: (1e39,0,0)\nspacings: 1 1 1\n" + nrrdData), "o.nrrd",
         "o.nrrd: the positions from \"space origin\" and \"spacings\" reach 1e+39 along x, "
         "beyond a 32-bit float"},
        {"NRRD space directions",
         textBytes(nrrdHead + "space directions: (1e39,0,0) (0,1e39,0) (0,0,1e39)\n" + nrrdData),
         "d.nrrd",
         "d.nrrd: the voxel size from \"space directions\" (1e+39) is too large for a 32-bit "
         "float"},
        {"NIfTI pixdim", tinyPixdim, "p.nii",
         "p.nii: the voxel size from \"pixdim\" (9.99995e-41) is too small for a 32-bit float"},
        {"NIfTI qoffset", farOffset, "q.nii",
         "q.nii: the positions from \"qoffset\" and \"pixdim\" reach 3.68e+38 along y, beyond "
         "a 32-bit float"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(refusalOf(c.bytes, c.path), c.error);
    }
}

TEST(InputRead, MemoryRefusalsSayWhatTheHeaderNeedsAndHowToAllowIt) {
    // Needs round up and allowances down, so that the two figures never meet.
    EXPECT_EQ(memoryRefusal("x", 1.5L * (1 << 20), (int64_t(3) << 20) / 2),
              "x is larger than the memory allowed: it needs 2 MiB, more than the 1 MiB allowed "
              "(raise --max-memory)");
    EXPECT_EQ(memoryRefusal("x", 0x1p131L, int64_t(1) << 30),
              "x is larger than the memory allowed: it needs 2.6e+33 MiB, more than the 1024 MiB "
              "allowed (raise --max-memory)");
    // Each reader, with 64 MiB allowed, on a header that claims more: refused
    // before any of it is allocated (the data is not even there).
    std::vector<uint8_t> nifti = fileBytes(gridSample("dtypes/nifti-u1-F-le.nii"));
    const int16_t dims[3] = {1024, 1024, 128};
    memcpy(&nifti[42], dims, sizeof dims);
    nifti.resize(400);
    std::vector<uint8_t> npy =
        textBytes(std::string("\x93NUMPY\x01\x00\x76\x00", 10) +
                  "{'descr': '|u1', 'fortran_order': False, 'shape': (1024, 1024, 128), }" +
                  std::string(117 - 70, ' ') + "\n");
    const std::string tail = " is larger than the memory allowed: it needs ";
    struct Case {
        std::vector<uint8_t> bytes;
        const char* path;
        std::string error;
    };
    const Case cases[] = {
        {textBytes("#binvox 1\ndim 1024 1024 1024\ndata\n\x01\xff"), "g.binvox",
         "cannot read g.binvox as binvox: the grid of 1024^3 voxels" + tail + "1024 MiB"},
        {npy, "a.npy", "cannot read a.npy as NumPy .npy: the array's shape" + tail + "128 MiB"},
        {textBytes("NRRD0004\ntype: uchar\ndimension: 3\nsizes: 1024 1024 128\nencoding: "
                   "raw\n\n"),
         "v.nrrd", "cannot read v.nrrd as NRRD: the NRRD volume" + tail + "128 MiB"},
        // The offset of 352 bytes counts too.
        {nifti, "v.nii", "cannot read v.nii as NIfTI-1: the NIfTI volume" + tail + "129 MiB"},
        {gzipped(nifti), "v.nii.gz",
         "cannot read v.nii.gz as NIfTI-1: the NIfTI volume" + tail + "129 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(refusalOf(c.bytes, c.path),
                  c.error + ", more than the 64 MiB allowed (raise --max-memory)");
    }
    // A gzip stream whose header is not one of a volume that states its
    // size: refused once it holds more than is allowed, not as damaged.
    std::vector<uint8_t> big = fileBytes(gridSample("labels.npy"));
    big.resize(big.size() + (size_t(65) << 20));
    EXPECT_EQ(refusalOf(gzipped(big), "big.npy.gz"),
              "cannot read big.npy.gz as NumPy .npy: its gzip data is larger than the memory "
              "allowed: it holds more than the 64 MiB allowed (raise --max-memory)");
}

TEST(InputRead, GzipWithinGzipIsClaimedAndRefusedAsSuch) {
    const std::vector<uint8_t> npy = fileBytes(gridSample("labels.npy"));
    const std::vector<uint8_t> once = gzipped(npy), twice = gzipped(once);
    VoxelGrid plain, inflated, nested;
    std::string error;
    ASSERT_EQ(readAs(npy, plain, error), "NumPy .npy") << error;
    ASSERT_EQ(readAs(once, inflated, error), "gzip: NumPy .npy") << error;
    EXPECT_EQ(inflated.voxels.positions, plain.voxels.positions);
    EXPECT_EQ(inflated.voxels.colors, plain.voxels.colors);
    // Not handed to the mesh importer, which could only say it knows no such
    // format.
    EXPECT_EQ(readAs(twice, nested, error), "refused");
    EXPECT_EQ(error, "cannot read labels as gzip data: the gzip data holds another gzip stream");
    EXPECT_EQ(readAs(gzipped(twice), nested, error), "refused");
}
