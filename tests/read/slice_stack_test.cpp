// Slices ordered by their place along the normal, whatever order they come
// in; the step from the positions; gaps, uneven steps, tilts and shared
// places noted; stacks too deep refused.
#include <gtest/gtest.h>

#include "read/slice_stack.h"

namespace {

const double row[3] = {1, 0, 0}, column[3] = {0, 1, 0};

std::vector<SlicePlace> at(std::initializer_list<double> zs, double shiftY = 0) {
    std::vector<SlicePlace> slices;
    for (double z : zs) {
        SlicePlace place;
        place.position[1] = shiftY * z;
        place.position[2] = z;
        slices.push_back(place);
    }
    return slices;
}

bool stack(const std::vector<SlicePlace>& slices, SliceStack& out, const double* r = row,
           const double* c = column) {
    std::string error;
    return stackSlices(slices, r, c, 9.0, 1000, out, error);
}

} // namespace

TEST(SliceStack, ShuffledSlicesTakeTheirPlacesAlongTheNormal) {
    SliceStack s;
    ASSERT_TRUE(stack(at({4, 0, 6, 2}), s));
    EXPECT_EQ(s.depth, 4);
    EXPECT_DOUBLE_EQ(s.spacing, 2); // from the positions, not the 9 of the thickness
    EXPECT_EQ(s.index, (std::vector<int64_t>{2, 0, 3, 1}));
    EXPECT_EQ(s.first, 1);
    EXPECT_TRUE(s.notes.empty());
    // Rows along -x: the normal is -z, and the slices stack the other way.
    const double flipped[3] = {-1, 0, 0};
    ASSERT_TRUE(stack(at({4, 0, 6, 2}), s, flipped));
    EXPECT_DOUBLE_EQ(s.normal[2], -1);
    EXPECT_EQ(s.index, (std::vector<int64_t>{1, 3, 0, 2}));
    EXPECT_EQ(s.first, 2);
}

TEST(SliceStack, GapsUnevenStepsTiltsAndSharedPlacesAreNoted) {
    SliceStack s;
    ASSERT_TRUE(stack(at({0, 2, 8, 10, 12}), s));
    EXPECT_EQ(s.depth, 7);
    EXPECT_EQ(s.index, (std::vector<int64_t>{0, 1, 4, 5, 6}));
    ASSERT_EQ(s.notes.size(), 1u);
    EXPECT_NE(s.notes[0].find("missing 2 slices"), std::string::npos) << s.notes[0];

    ASSERT_TRUE(stack(at({0, 2, 4, 6.7, 8}), s));
    ASSERT_EQ(s.notes.size(), 1u);
    EXPECT_NE(s.notes[0].find("unevenly spaced"), std::string::npos) << s.notes[0];
    EXPECT_EQ(s.index[3], 3); // 6.7 is nearest the step at 6

    ASSERT_TRUE(stack(at({0, 2, 2, 4}), s));
    EXPECT_EQ(s.index, (std::vector<int64_t>{0, 1, -1, 2}));
    ASSERT_EQ(s.notes.size(), 1u);
    EXPECT_NE(s.notes[0].find("share a place"), std::string::npos) << s.notes[0];

    ASSERT_TRUE(stack(at({0, 2, 4}, 0.5), s));
    ASSERT_EQ(s.notes.size(), 1u);
    EXPECT_NE(s.notes[0].find("tilted by 26.57 degrees"), std::string::npos) << s.notes[0];
}

TEST(SliceStack, UnusableDirectionsAndDeepStacksAreRefused) {
    SliceStack s;
    std::string error;
    EXPECT_FALSE(stackSlices(at({0, 1}), row, row, 1, 1000, s, error));
    EXPECT_NE(error.find("no slice normal"), std::string::npos) << error;
    // Two slices a micrometre and a kilometre apart: a million steps.
    EXPECT_FALSE(stackSlices(at({0, 0.002, 1e6}), row, column, 1, 1000, s, error));
    EXPECT_NE(error.find("span more than 1000 steps"), std::string::npos) << error;
    // One slice: its thickness is the step.
    ASSERT_TRUE(stackSlices(at({5}), row, column, 3, 1000, s, error));
    EXPECT_EQ(s.depth, 1);
    EXPECT_DOUBLE_EQ(s.spacing, 3);
}
