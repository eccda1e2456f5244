// Quaternion arithmetic that every turn of the view goes through: the product
// order, the degenerate normalisations and the conversion back to the stored
// angle and axis.
#include <gtest/gtest.h>

#include <cmath>

#include "camera/quaternion.h"
#include "fakes.h"
#include "view_checks.h"

namespace {

void expectQuat(Quaternion q, double w, double x, double y, double z, double tol) {
    EXPECT_NEAR(q.w, w, tol);
    EXPECT_NEAR(q.x, x, tol);
    EXPECT_NEAR(q.y, y, tol);
    EXPECT_NEAR(q.z, z, tol);
}

} // namespace

TEST(Quaternion, HamiltonProductOfGeneralQuaternions) {
    resetAllState();
    // Integer parts make every term exact, so the whole formula is checked.
    expectQuat(quaternionMultiply({1, 2, 3, 4}, {5, 6, 7, 8}), -60, 12, 30, 24, 0.0);
    expectQuat(quaternionMultiply({5, 6, 7, 8}, {1, 2, 3, 4}), -60, 20, 14, 32, 0.0);
}

TEST(Quaternion, BasisProductsFollowHamiltonsRules) {
    resetAllState();
    const Quaternion one = {1, 0, 0, 0}, i = {0, 1, 0, 0}, j = {0, 0, 1, 0}, k = {0, 0, 0, 1};
    struct Case {
        Quaternion a, b;
        Quaternion expected;
    } cases[] = {
        {i, j, k},
        {j, i, {0, 0, 0, -1}},
        {j, k, i},
        {k, i, j},
        {i, i, {-1, 0, 0, 0}},
        {one, {0.5f, -0.5f, 0.25f, 2}, {0.5f, -0.5f, 0.25f, 2}},
        {{0.5f, -0.5f, 0.25f, 2}, one, {0.5f, -0.5f, 0.25f, 2}},
    };
    for (const Case& c : cases) {
        Quaternion r = quaternionMultiply(c.a, c.b);
        expectQuat(r, c.expected.w, c.expected.x, c.expected.y, c.expected.z, 0.0);
    }
}

TEST(Quaternion, ProductComposesRotationsRightOperandFirst) {
    resetAllState();
    // a * b turns by b, then by a: 90 degrees about z then 90 about x carries
    // x to y, then y to z.
    Quaternion aboutZ = quaternionFromAngleAxis(pi / 2, {0, 0, 1});
    Quaternion aboutX = quaternionFromAngleAxis(pi / 2, {1, 0, 0});
    Vec3 v = quaternionTurn(quaternionMultiply(aboutX, aboutZ), {1, 0, 0});
    expectVec(v, 0, 0, 1, 1e-6);
}

TEST(Quaternion, NormalizeQuaternion) {
    resetAllState();
    struct Case {
        Quaternion in, out;
    } cases[] = {
        {{0, 0, 0, 0}, {1, 0, 0, 0}}, // no length: identity
        {{2, 0, 0, 0}, {1, 0, 0, 0}},
        {{1, 1, 1, 1}, {0.5f, 0.5f, 0.5f, 0.5f}},
        {{0, -3, 0, 4}, {0, -0.6f, 0, 0.8f}},
        // Tiny but not zero: still a direction, not the identity.
        {{0, 0, 0, 1e-40f}, {0, 0, 0, 1}},
        {{-1e-30f, 0, 0, 0}, {-1, 0, 0, 0}},
    };
    for (const Case& c : cases)
        expectQuat(quaternionNormalize(c.in), c.out.w, c.out.x, c.out.y, c.out.z, 1e-7);
}

TEST(Quaternion, NormalizeVector) {
    resetAllState();
    struct Case {
        Vec3 in, out;
    } cases[] = {
        {{0, 0, 0}, {0, 0, 1}}, // no length: the line of sight
        {{3, 4, 0}, {0.6f, 0.8f, 0}},
        {{0, 0, -7}, {0, 0, -1}},
        {{1e-40f, 0, 0}, {1, 0, 0}},
    };
    for (const Case& c : cases)
        expectVec(vectorNormalize(c.in), c.out.x, c.out.y, c.out.z, 1e-7);
}

TEST(Quaternion, FromAngleAxisNormalizesTheAxis) {
    resetAllState();
    Quaternion q = quaternionFromAngleAxis(pi, {0, 0, 2});
    expectQuat(q, 0, 0, 0, 1, 1e-7);
    q = quaternionFromAngleAxis(2 * pi / 3, {5, 5, 5});
    expectQuat(q, 0.5, 0.5, 0.5, 0.5, 1e-7);
    q = quaternionFromAngleAxis(0, {0, 1, 0});
    expectQuat(q, 1, 0, 0, 0, 0.0);
}

TEST(Quaternion, TurnAndInverseTurn) {
    resetAllState();
    Quaternion q = quaternionFromAngleAxis(pi / 2, {0, 0, 1});
    struct Case {
        Vec3 in, turned, inverse;
    } cases[] = {
        {{1, 0, 0}, {0, 1, 0}, {0, -1, 0}},  {{0, 1, 0}, {-1, 0, 0}, {1, 0, 0}},
        {{0, 0, 3}, {0, 0, 3}, {0, 0, 3}},  // along the axis: untouched
        {{2, 0, 0}, {0, 2, 0}, {0, -2, 0}}, // length kept
        {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}},  // zero stays zero, not (0, 0, 1)
        {{1, 1, 0}, {-1, 1, 0}, {1, -1, 0}},
    };
    for (const Case& c : cases) {
        expectVec(quaternionTurn(q, c.in), c.turned.x, c.turned.y, c.turned.z, 1e-6);
        expectVec(quaternionInverseTurn(q, c.in), c.inverse.x, c.inverse.y, c.inverse.z, 1e-6);
    }
}

TEST(Quaternion, InverseTurnUndoesTurn) {
    resetAllState();
    Quaternion q = quaternionFromAngleAxis(2.3, {0.3f, -1.2f, 0.7f});
    Vec3 v = {1.5f, -2.0f, 0.25f};
    Vec3 back = quaternionInverseTurn(q, quaternionTurn(q, v));
    expectVec(back, v.x, v.y, v.z, 1e-5);
    back = quaternionTurn(q, quaternionInverseTurn(q, v));
    expectVec(back, v.x, v.y, v.z, 1e-5);
}

TEST(Quaternion, ToAngleAxis) {
    resetAllState();
    const double third = 1.0 / std::sqrt(3.0);
    struct Case {
        Quaternion q;
        double angle;
        Vec3 axis;
    } cases[] = {
        {{1, 0, 0, 0}, 0.0, {0, 0, 1}},
        // w = 1 exactly means no turn, even with a stray vector part.
        {{1, 1e-8f, 0, 0}, 0.0, {0, 0, 1}},
        // A full turn: the vector part is zero, so the axis falls back.
        {{-1, 0, 0, 0}, 2 * pi, {0, 0, 1}},
        {{0.5f, 0.5f, 0.5f, 0.5f}, 2 * pi / 3, {float(third), float(third), float(third)}},
        {{0, 0, -1, 0}, pi, {0, -1, 0}},
        // Not a unit quaternion: a zero vector part still gives the line of sight.
        {{0, 0, 0, 0}, pi, {0, 0, 1}},
    };
    for (const Case& c : cases) {
        float angle = -1;
        Vec3 axis = {9, 9, 9};
        quaternionToAngleAxis(c.q, &angle, &axis);
        EXPECT_NEAR(angle, c.angle, 1e-6);
        expectVec(axis, c.axis.x, c.axis.y, c.axis.z, 1e-6);
    }
}

TEST(Quaternion, WJustOutsideUnitRangeGivesNoNaN) {
    resetAllState();
    float above = std::nextafter(1.0f, 2.0f);
    float angle = -1;
    Vec3 axis = {};
    quaternionToAngleAxis({above, 0, 0, 0}, &angle, &axis);
    EXPECT_FALSE(std::isnan(angle));
    EXPECT_EQ(angle, 0.0f);
    expectVec(axis, 0, 0, 1, 0.0);

    quaternionToAngleAxis({-above, 0, 1e-6f, 0}, &angle, &axis);
    EXPECT_FALSE(std::isnan(angle));
    EXPECT_NEAR(angle, 2 * pi, 1e-6);
    expectVec(axis, 0, 1, 0, 1e-6);
}
