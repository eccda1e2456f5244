// The web page as written: every place of the template filled, the input's
// name escaped and without its folders, the embedded model decoding and
// inflating to the very .glb vxlconv writes for the same voxels, the
// viewer's framing, and scripts that cannot end their element early.
#include <gtest/gtest.h>

#include "camera/model_framing.h"
#include "platform/output_file.h"
#include "scratch_dir.h"
#include "voxel_sets.h"
#include "write/gltf_writer.h"
#include "write/html_writer.h"
#include "write/web_assets.h"

#include <algorithm>
#include <cctype>
#include <random>
#include <zlib.h>

namespace {

struct HtmlWriter : ScratchDirTest {
    void TearDown() override {
        abandonOutputFile();
        ScratchDirTest::TearDown();
    }
    std::string writeFile(const char* name, const VoxelGrid& grid, WriteGrid writer) {
        const std::string out = dir + "/" + name;
        std::string error;
        EXPECT_TRUE(beginOutputFile(out.c_str(), "vxltest", &error)) << error;
        EXPECT_TRUE(writer(grid, {out.c_str(), MeshChoice::greedy}, error)) << error;
        return contents(out);
    }
    // The value of attribute `name` of the page's model element.
    static std::string attribute(const std::string& page, const std::string& name) {
        const size_t at = page.find(name + "=\"");
        if (at == std::string::npos)
            return "(none)";
        const size_t start = at + name.size() + 2;
        return page.substr(start, page.find('"', start) - start);
    }
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

TEST(HtmlPlaces, NamedPlacesAreFilledAndEverythingElseKept) {
    EXPECT_EQ(fillPlaces("<{{A}}|{{B}}|{{C}}>", {{"A", "1"}, {"B", "{{A}}"}}), "<1|{{A}}|{{C}}>");
    EXPECT_EQ(fillPlaces("{{{{A}}}}", {{"A", "x"}}), "{{x}}");
    EXPECT_EQ(fillPlaces("{{A}}{{A", {{"A", "x"}}), "x{{A");
    EXPECT_EQ(fillPlaces("no places", {{"A", "x"}}), "no places");
}

TEST(HtmlPlaces, TheScriptsCannotEndTheirElementEarly) {
    for (const char* script : {cameraScript, viewerScript}) {
        const std::string text = lower(script);
        EXPECT_EQ(text.find("</script"), std::string::npos);
        EXPECT_EQ(text.find("<!--"), std::string::npos);
        EXPECT_EQ(text.find("{{"), std::string::npos);
    }
    EXPECT_NE(std::string(pageTemplate).find("{{MODEL}}"), std::string::npos);
}

TEST_F(HtmlWriter, ThePageCarriesTheGlbAndTheViewersFraming) {
    std::mt19937 random(3);
    VoxelGrid grid = gridOf(randomCells(random, 4000, 24, 9), 0.25, {-2.0, 10.5, 0.125});
    grid.voxels.positions.resize(3 * 3000);
    grid.voxels.colors.resize(3 * 3000);
    grid.source = "/home/someone/scans/<b>&t\xc3\xaate.nii.gz";
    const std::string glb = writeFile("model.glb", grid, writeGlb);
    const std::string page = writeFile("model.html", grid, writeHtml);

    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_LT(page.find("<meta charset=\"windows-1252\">"), 1024u);
    const std::string caption = "&lt;b&gt;&amp;t&#xEA;te.nii.gz &mdash; 3,000 voxels";
    EXPECT_NE(page.find("<title>" + caption + "</title>"), std::string::npos);
    EXPECT_NE(page.find(">" + caption + "</div>"), std::string::npos);
    EXPECT_EQ(page.find("someone"), std::string::npos);
    for (const char* place : {"{{TITLE}}", "{{LABEL}}", "{{MODEL}}", "{{LENGTH}}", "{{BYTES}}",
                              "{{ESCAPES}}", "{{FRAMING}}", "{{CAMERA}}", "{{VIEWER}}"})
        EXPECT_EQ(page.find(place), std::string::npos) << place;
    EXPECT_NE(page.find(cameraScript), std::string::npos);
    EXPECT_NE(page.find(viewerScript), std::string::npos);

    // The model's text, decoded and inflated as the page does it, is the .glb.
    ASSERT_EQ(attribute(page, "data-glb-length"), std::to_string(glb.size()));
    const std::string table = attribute(page, "data-bytes"), rare = attribute(page, "data-escapes");
    ASSERT_EQ(table.size(), 512u);
    ASSERT_EQ(rare.size(), 8u);
    const size_t start = page.find('>', page.find("id=\"model\"")) + 1;
    const size_t end = page.find("</script>", start);
    std::string decoded;
    for (size_t i = start; i < end; ++i) {
        const uint8_t c = uint8_t(page[i]);
        ASSERT_NE(c, 0x0d);
        ASSERT_NE(c, 0x00);
        const std::string hex = c == 0x1b ? rare.substr(2 * size_t(page[++i] - '0'), 2)
                                          : table.substr(2 * size_t(c), 2);
        decoded += char(std::stoi(hex, nullptr, 16));
    }
    ASSERT_EQ(attribute(page, "data-length"), std::to_string(decoded.size()));
    std::string inflated(glb.size() + 1, '\0');
    uLongf inflatedSize = uLongf(inflated.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(&inflated[0]), &inflatedSize,
                         reinterpret_cast<const Bytef*>(decoded.data()), uLong(decoded.size())),
              Z_OK);
    inflated.resize(inflatedSize);
    EXPECT_TRUE(inflated == glb) << inflated.size() << " bytes against " << glb.size();
    EXPECT_LE(page.size(), glb.size() + (size_t(3) << 19));

    const ModelFraming framing =
        frameVoxels(grid.voxels.positions.data(), 3000, grid.voxels.voxelSize);
    float numbers[4];
    ASSERT_EQ(sscanf(attribute(page, "data-framing").c_str(), "%f %f %f %f", &numbers[0],
                     &numbers[1], &numbers[2], &numbers[3]),
              4);
    EXPECT_EQ(numbers[0], framing.center.x);
    EXPECT_EQ(numbers[1], framing.center.y);
    EXPECT_EQ(numbers[2], framing.center.z);
    EXPECT_EQ(numbers[3], framing.extent);
}

TEST_F(HtmlWriter, OneVoxelIsCountedInTheSingular) {
    VoxelGrid grid = gridOf({{{0, 0, 0}, {9, 9, 9}}});
    grid.source = "one.vxl";
    const std::string page = writeFile("one.html", grid, writeHtml);
    EXPECT_NE(page.find("<title>one.vxl &mdash; 1 voxel</title>"), std::string::npos);
}

TEST_F(HtmlWriter, RandomVoxelsOffAnyLatticeStillFitInTheGlbsSize) {
    // Whole cubes at random float positions in random colours: the mesh's
    // least regular bytes.
    std::mt19937 random(11);
    std::uniform_real_distribution<float> at(-1000.0f, 1000.0f);
    VoxelGrid grid;
    grid.voxels.voxelSize = 0.37f;
    for (int i = 0; i < 20000; ++i)
        for (int k = 0; k < 3; ++k) {
            grid.voxels.positions.push_back(at(random));
            grid.voxels.colors.push_back(uint8_t(random()));
        }
    const std::string glb = writeFile("cloud.glb", grid, writeGlb);
    const std::string page = writeFile("cloud.html", grid, writeHtml);
    ASSERT_GT(glb.size(), size_t(10) << 20);
    EXPECT_LT(page.size(), glb.size());
}

} // namespace
