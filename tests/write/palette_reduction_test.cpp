// Palettes: exact up to the limit, and beyond it close colours with the
// errors reported as they are; median cut finds clusters that a fixed
// division of the colour cube would mix.
#include <gtest/gtest.h>

#include "write/palette_reduction.h"

#include <cmath>
#include <random>
#include <set>

namespace {

double distance(const uint8_t* a, const uint8_t* b) {
    double sum = 0;
    for (int k = 0; k < 3; ++k)
        sum += (double(a[k]) - b[k]) * (double(a[k]) - b[k]);
    return std::sqrt(sum);
}

// Checks the answer's own consistency: indices in range, errors as stated.
void expectConsistent(const std::vector<uint8_t>& colors, const ReducedPalette& p, int limit) {
    const size_t count = colors.size() / 3;
    ASSERT_EQ(p.indexOf.size(), count);
    EXPECT_LE(p.colors.size(), size_t(3 * limit));
    double sum = 0, largest = 0;
    for (size_t i = 0; i < count; ++i) {
        ASSERT_LT(size_t(p.indexOf[i]), p.colors.size() / 3);
        const double d = distance(&colors[3 * i], &p.colors[3 * size_t(p.indexOf[i])]);
        sum += d;
        largest = std::max(largest, d);
        // Each voxel takes the nearest entry.
        for (size_t e = 0; e < p.colors.size() / 3; ++e)
            ASSERT_LE(d, distance(&colors[3 * i], &p.colors[3 * e]) + 1e-9);
    }
    EXPECT_NEAR(p.meanError, sum / double(count), 1e-9);
    EXPECT_EQ(p.largestError, largest);
}

TEST(PaletteReduction, KeepsUpTo255ColoursExactly) {
    std::vector<uint8_t> colors;
    for (int i = 0; i < 255 * 3; ++i) // 255 colours, three voxels each
        colors.insert(colors.end(), {uint8_t(i % 255), uint8_t(7 * (i % 255)), 200});
    ReducedPalette p;
    reducePalette(colors.data(), colors.size() / 3, 255, p);
    EXPECT_EQ(p.distinctColors, 255);
    EXPECT_EQ(p.colors.size(), 255u * 3);
    EXPECT_EQ(p.meanError, 0.0);
    EXPECT_EQ(p.largestError, 0.0);
    expectConsistent(colors, p, 255);
}

TEST(PaletteReduction, FindsClustersAndReportsItsErrors) {
    // 40 tight clusters of 20 colours each, spread over the colour cube,
    // weighted unevenly: 800 colours for 255 entries.
    std::mt19937 random(1);
    std::uniform_int_distribution<int> centre(20, 235), jitter(-3, 3), copies(1, 30);
    std::vector<uint8_t> colors;
    for (int cluster = 0; cluster < 40; ++cluster) {
        const int c[3] = {centre(random), centre(random), centre(random)};
        for (int member = 0; member < 20; ++member) {
            const uint8_t rgb[3] = {uint8_t(c[0] + jitter(random)), uint8_t(c[1] + jitter(random)),
                                    uint8_t(c[2] + jitter(random))};
            for (int n = copies(random); n > 0; --n)
                colors.insert(colors.end(), rgb, rgb + 3);
        }
    }
    ReducedPalette p;
    reducePalette(colors.data(), colors.size() / 3, 255, p);
    EXPECT_GT(p.distinctColors, 255);
    expectConsistent(colors, p, 255);
    EXPECT_LT(p.meanError, 2.0);
    EXPECT_LE(p.largestError, 6.0);
    // A fixed division of each channel into six (216 entries) does far worse.
    double fixed = 0;
    for (size_t i = 0; i < colors.size(); i += 3) {
        double sum = 0;
        for (int k = 0; k < 3; ++k) {
            const double q = std::round(colors[i + size_t(k)] / 51.0) * 51.0;
            sum += (q - colors[i + size_t(k)]) * (q - colors[i + size_t(k)]);
        }
        fixed += std::sqrt(sum);
    }
    EXPECT_LT(p.meanError * 4, fixed / double(colors.size() / 3));
}

TEST(PaletteReduction, SpreadsEntriesOverEveryColourOfARandomSet) {
    std::mt19937 random(2);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> colors(3 * 20000);
    for (uint8_t& c : colors)
        c = uint8_t(byte(random));
    ReducedPalette p;
    reducePalette(colors.data(), colors.size() / 3, 255, p);
    expectConsistent(colors, p, 255);
    std::set<std::vector<uint8_t>> entries;
    for (size_t e = 0; e < p.colors.size(); e += 3)
        entries.insert({p.colors[e], p.colors[e + 1], p.colors[e + 2]});
    EXPECT_GT(entries.size(), 250u);
    // 255 entries over a uniform cube: cells about 40 apart a side.
    EXPECT_LT(p.meanError, 30.0);
}

} // namespace
