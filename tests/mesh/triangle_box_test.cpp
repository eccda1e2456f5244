// The triangle-box overlap test, by hand-made cases and against an
// independent reference: the triangle clipped by the box's six planes.
#include <gtest/gtest.h>

#include "mesh/triangle_box.h"

#include <array>
#include <random>
#include <vector>

namespace {

using P = std::array<double, 3>;

bool overlap(P center, P half, P a, P b, P c) {
    return triangleBoxOverlap(center.data(), half.data(), a.data(), b.data(), c.data());
}

TEST(TriangleBox, HandMadeCases) {
    const P center = {0, 0, 0}, half = {1, 1, 1};
    struct Case {
        const char* what;
        P a, b, c;
        bool expected;
    };
    const Case cases[] = {
        {"inside", {0, 0, 0}, {0.5, 0, 0}, {0, 0.5, 0}, true},
        {"far away", {5, 5, 5}, {6, 5, 5}, {5, 6, 5}, false},
        {"large, every vertex outside, passing through",
         {-10, -10, 0},
         {10, -10, 0},
         {0, 10, 0},
         true},
        {"touching a face from outside", {1, -3, -3}, {1, 3, -3}, {1, 0, 3}, true},
        {"a hair beyond a face", {1 + 1e-9, -3, -3}, {1 + 1e-9, 3, -3}, {1 + 1e-9, 0, 3}, false},
        {"touching an edge only", {1, 1, -5}, {1, 1, 5}, {3, 3, 0}, true},
        {"touching a corner only", {1, 1, 1}, {3, 1, 1}, {1, 3, 3}, true},
        {"upright plane beside an edge", {1.5, 0.6, -5}, {0.6, 1.5, -5}, {1.05, 1.05, 5}, false},
        // Bounding boxes overlap and the triangle's plane cuts the box, yet
        // the triangle stays beyond x + y = 2.1: only an edge axis separates.
        {"beside an edge, separated by an edge axis",
         {1.6, 0.5, -0.3},
         {0.5, 1.6, -0.3},
         {1.5, 1.5, 4.2},
         false},
        {"plane beyond the corner", {3, 0, 0}, {0, 3, 0}, {0, 0, 3.1}, false},
        {"plane through the corner", {3, 0, 0}, {0, 3, 0}, {0, 0, 3}, true},
        {"segment through the box", {-5, 0.5, 0.5}, {5, 0.5, 0.5}, {5, 0.5, 0.5}, true},
        {"segment passing an edge", {2.2, -0.1, 0}, {-0.1, 2.2, 0}, {-0.1, 2.2, 0}, false},
        {"point inside", {0.9, -0.9, 0.9}, {0.9, -0.9, 0.9}, {0.9, -0.9, 0.9}, true},
        {"point outside", {1.1, 0, 0}, {1.1, 0, 0}, {1.1, 0, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(overlap(center, half, c.a, c.b, c.c), c.expected);
        // The answer does not depend on the order of the vertices.
        EXPECT_EQ(overlap(center, half, c.c, c.a, c.b), c.expected);
        EXPECT_EQ(overlap(center, half, c.b, c.a, c.c), c.expected);
    }
    // A box elsewhere and unequal half edges.
    EXPECT_TRUE(
        overlap({10, 20, 30}, {0.5, 2, 0.25}, {10.4, 21.9, 30}, {11, 23, 30}, {12, 22, 31}));
    EXPECT_FALSE(
        overlap({10, 20, 30}, {0.5, 2, 0.25}, {10.6, 21.9, 30}, {11, 23, 30}, {12, 22, 31}));
}

// Reference: clip the triangle polygon against each slab of the box; it
// meets the box when anything is left.
bool clipReference(const P& center, const P& half, const P& a, const P& b, const P& c) {
    std::vector<P> poly = {a, b, c};
    for (int axis = 0; axis < 3; ++axis)
        for (int side = -1; side <= 1; side += 2) {
            // Keep points with side * (p - centre) <= half.
            auto inside = [&](const P& p) { return side * (p[axis] - center[axis]) <= half[axis]; };
            std::vector<P> next;
            for (size_t i = 0; i < poly.size(); ++i) {
                const P& p = poly[i];
                const P& q = poly[(i + 1) % poly.size()];
                bool pin = inside(p), qin = inside(q);
                if (pin)
                    next.push_back(p);
                if (pin != qin) {
                    double plane = center[axis] + side * half[axis];
                    double t = (plane - p[axis]) / (q[axis] - p[axis]);
                    P cut;
                    for (int k = 0; k < 3; ++k)
                        cut[k] = p[k] + t * (q[k] - p[k]);
                    cut[axis] = plane;
                    next.push_back(cut);
                }
            }
            poly = next;
            if (poly.empty())
                return false;
        }
    return true;
}

TEST(TriangleBox, AgreesWithClippingOnRandomTriangles) {
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> coordinate(-3, 3);
    std::uniform_real_distribution<double> extent(0.05, 2);
    int hits = 0, misses = 0;
    for (int n = 0; n < 200000; ++n) {
        P center = {coordinate(random), coordinate(random), coordinate(random)};
        P half = {extent(random), extent(random), extent(random)};
        P v[3];
        for (P& p : v)
            for (double& x : p)
                x = coordinate(random);
        if (n % 10 == 0)
            v[2] = v[1]; // segments too
        bool got = overlap(center, half, v[0], v[1], v[2]);
        // Near the boundary either answer is fair; away from it they agree.
        P smaller = half, larger = half;
        for (int k = 0; k < 3; ++k)
            smaller[k] -= 1e-9, larger[k] += 1e-9;
        if (clipReference(center, smaller, v[0], v[1], v[2])) {
            ASSERT_TRUE(got) << "missed an overlap, case " << n;
            ++hits;
        } else if (!clipReference(center, larger, v[0], v[1], v[2])) {
            ASSERT_FALSE(got) << "overlap where there is none, case " << n;
            ++misses;
        }
    }
    // Both outcomes were exercised in earnest.
    EXPECT_GT(hits, 20000);
    EXPECT_GT(misses, 20000);
}

} // namespace
