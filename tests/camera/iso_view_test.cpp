// The corner view: the framed view turned about the box centre until the eye
// looks at it from (1, 1, 1), at the framed distance, with the screen's up as
// near +y as it can be; and the one rotation the help text names.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "app/vxlrender_options.h"
#include "camera/camera_state.h"
#include "camera/iso_view.h"
#include "camera/trackball_state.h"
#include "fakes.h"
#include "model/voxel_model.h"

namespace {

struct Viewed {
    CameraState framed, iso;
};

Viewed viewFromTheCorner(std::vector<float> positions, float size) {
    resetAllState();
    std::vector<uint8_t> colors(positions.size(), 200);
    VoxelModel m = {int32_t(positions.size() / 3), positions.data(), colors.data(), size};
    model = &m;
    resetCamera();
    Viewed v;
    v.framed = camera;
    trackball.spinning = 1;
    frameIsoView();
    v.iso = camera;
    EXPECT_EQ(trackball.spinning, 0) << "framing stops a spin";
    model = nullptr;
    return v;
}

Quaternion viewRotation(const CameraState& c) {
    return quaternionFromAngleAxis(c.angle, c.axis);
}

void expectNear(Vec3 got, double x, double y, double z, double tolerance) {
    EXPECT_NEAR(got.x, x, tolerance);
    EXPECT_NEAR(got.y, y, tolerance);
    EXPECT_NEAR(got.z, z, tolerance);
}

TEST(IsoView, EyeLooksAtTheBoxCenterFromOneOneOne) {
    const struct {
        const char* name;
        std::vector<float> positions;
        float size;
    } models[] = {
        {"single voxel", {1, 2, 3}, 0.5f},
        {"block", {0, 0, 0, 5, 3, 2, 5, 0, 2, 0, 3, 0}, 1.0f},
        {"far from the origin", {1000, -2000, 3000, 1010, -1990, 3020}, 2.0f},
        {"tiny", {1e-20f, 0, 0, 3e-20f, 1e-20f, 0}, 1e-21f},
    };
    const double s3 = 1.0 / std::sqrt(3.0), s6 = 1.0 / std::sqrt(6.0);
    for (const auto& m : models) {
        SCOPED_TRACE(m.name);
        Viewed v = viewFromTheCorner(m.positions, m.size);
        // Centre, framing size and pivot distance are the framed view's.
        EXPECT_EQ(v.iso.center.x, v.framed.center.x);
        EXPECT_EQ(v.iso.center.y, v.framed.center.y);
        EXPECT_EQ(v.iso.center.z, v.framed.center.z);
        EXPECT_EQ(v.iso.extent, v.framed.extent);
        EXPECT_EQ(v.iso.distance, v.framed.distance);
        double d = v.iso.distance;
        // The eye stands on the (1, 1, 1) diagonal of the box centre, at the
        // framed distance.
        double tolerance = 1e-5 * (d + std::fabs(v.iso.center.x) + std::fabs(v.iso.center.y) +
                                   std::fabs(v.iso.center.z));
        EXPECT_NEAR(v.iso.eye.x, v.iso.center.x + d * s3, tolerance);
        EXPECT_NEAR(v.iso.eye.y, v.iso.center.y + d * s3, tolerance);
        EXPECT_NEAR(v.iso.eye.z, v.iso.center.z + d * s3, tolerance);
        Quaternion q = viewRotation(v.iso);
        // It looks along -(1, 1, 1); up on screen is +y with the part along
        // the line of sight taken out, right is (1, 0, -1) / sqrt(2).
        expectNear(quaternionInverseTurn(q, {0, 0, -1}), -s3, -s3, -s3, 1e-6);
        expectNear(quaternionInverseTurn(q, {0, 1, 0}), -s6, 2 * s6, -s6, 1e-6);
        expectNear(quaternionInverseTurn(q, {1, 0, 0}), std::sqrt(0.5), 0, -std::sqrt(0.5), 1e-6);
    }
}

TEST(IsoView, TheRotationIsTheOneTheHelpNames) {
    Viewed v = viewFromTheCorner({0, 0, 0, 1, 1, 1}, 1.0f);
    // 2 acos(cos(pi/8) cos(atan(1/sqrt(2)) / 2)).
    const double pi = 3.14159265358979323846;
    double expected =
        2.0 * std::acos(std::cos(pi / 8) * std::cos(std::atan(1 / std::sqrt(2.0)) / 2));
    EXPECT_NEAR(v.iso.angle, expected, 1e-6);
    EXPECT_NEAR(v.iso.angle * 180 / pi, 56.60, 0.005);
    expectNear(v.iso.axis, 0.5903, -0.7693, -0.2445, 0.00005);
    // The same figures, to the printed digits, in --help.
    EXPECT_NE(strstr(renderHelpText, "56.60 degrees"), nullptr);
    EXPECT_NE(strstr(renderHelpText, "(0.5903, -0.7693, -0.2445)"), nullptr);
    EXPECT_NE(strstr(renderHelpText, "(-1, 2, -1)/sqrt(6)"), nullptr);
    // The step is the framed view's turn: from no rotation it is the view
    // rotation itself.
    Quaternion step = isoViewStep();
    Quaternion q = viewRotation(v.iso);
    EXPECT_NEAR(step.w, q.w, 1e-6);
    EXPECT_NEAR(step.x, q.x, 1e-6);
    EXPECT_NEAR(step.y, q.y, 1e-6);
    EXPECT_NEAR(step.z, q.z, 1e-6);
}

TEST(IsoView, FramingAgainAfterNavigationGivesTheSameView) {
    std::vector<float> positions = {0, 0, 0, 4, 2, 1};
    resetAllState();
    std::vector<uint8_t> colors(positions.size(), 50);
    VoxelModel m = {2, positions.data(), colors.data(), 1.0f};
    model = &m;
    frameIsoView();
    CameraState first = camera;
    camera.eye = {100, 100, 100};
    camera.angle = 1.0f;
    camera.axis = {0, 1, 0};
    camera.distance = 3.0f;
    frameIsoView();
    model = nullptr;
    EXPECT_EQ(memcmp(&first, &camera, sizeof camera), 0);
}

} // namespace
