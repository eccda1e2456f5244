// The label around a volume: found only when it holds most of the border,
// would be voxels, and hides others.
#include <gtest/gtest.h>

#include "samples/border_label.h"

#include <cstring>

namespace {

// A uint16 volume in Fortran order (i fastest) from a function of (i, j, k).
template <typename F> SampleVolume uint16Volume(int64_t ni, int64_t nj, int64_t nk, F value) {
    SampleVolume v;
    v.dims[0] = ni, v.dims[1] = nj, v.dims[2] = nk;
    v.type = SampleType::uint16;
    v.meaning = SampleMeaning::labels;
    setSampleOrder(v, true);
    for (int64_t k = 0; k < nk; ++k)
        for (int64_t j = 0; j < nj; ++j)
            for (int64_t i = 0; i < ni; ++i) {
                const uint16_t s = uint16_t(value(i, j, k));
                v.storage.insert(v.storage.end(), {uint8_t(s & 0xff), uint8_t(s >> 8)});
            }
    return v;
}

} // namespace

TEST(BorderLabel, ALabelHoldingMostOfTheBorderIsFoundUnlessItIsEmpty) {
    // Label 7 everywhere but a cube of 2 inside and one face of 1: the six
    // faces of 6 x 5 x 4 hold 6*5*2 + 6*4*2 + 5*4*2 - corners counted once.
    auto inside = [](int64_t i, int64_t j, int64_t k) {
        return i > 0 && i < 5 && j > 0 && j < 4 && k > 0 && k < 3;
    };
    SampleVolume v = uint16Volume(6, 5, 4, [&](int64_t i, int64_t j, int64_t k) {
        return inside(i, j, k) ? 2 : i == 0 ? 1 : 7;
    });
    ThresholdRule rule;
    double label = -1;
    ASSERT_TRUE(borderLabel(v, rule, label));
    EXPECT_EQ(label, 7.0);
    // Already the background: nothing to say.
    rule.background = 7;
    EXPECT_FALSE(borderLabel(v, rule, label));

    // A 0 border, the usual case, is empty already.
    SampleVolume zeros =
        uint16Volume(6, 5, 4, [&](int64_t i, int64_t j, int64_t k) { return inside(i, j, k); });
    EXPECT_FALSE(borderLabel(zeros, ThresholdRule(), label));

    // One label alone is a solid, not a background.
    SampleVolume solid = uint16Volume(3, 3, 3, [](int64_t, int64_t, int64_t) { return 4; });
    EXPECT_FALSE(borderLabel(solid, ThresholdRule(), label));
    // Nor is it when all else is empty.
    SampleVolume shell = uint16Volume(3, 3, 3, [](int64_t i, int64_t j, int64_t k) {
        return i == 1 && j == 1 && k == 1 ? 0 : 4;
    });
    EXPECT_FALSE(borderLabel(shell, ThresholdRule(), label));

    // Two labels sharing the border half and half: neither holds most of it.
    SampleVolume halves =
        uint16Volume(4, 4, 4, [](int64_t, int64_t j, int64_t) { return j < 2 ? 5 : 6; });
    EXPECT_FALSE(borderLabel(halves, ThresholdRule(), label));

    // A flat volume is all border; a value 0x1234 checks both bytes are read.
    SampleVolume flat = uint16Volume(
        3, 1, 3, [](int64_t i, int64_t, int64_t k) { return i == 1 && k == 1 ? 9 : 0x1234; });
    ASSERT_TRUE(borderLabel(flat, ThresholdRule(), label));
    EXPECT_EQ(label, double(0x1234));
}
