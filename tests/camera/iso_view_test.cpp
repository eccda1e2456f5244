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
#include "view_checks.h"

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

void expectNear(Vec3 got, double x, double y, double z, double tolerance) {
    EXPECT_NEAR(got.x, x, tolerance);
    EXPECT_NEAR(got.y, y, tolerance);
    EXPECT_NEAR(got.z, z, tolerance);
}

// The corner view's screen axes in model coordinates: right, up and back
// (towards the eye), the rows of its view rotation.
const double rightAxis[3] = {std::sqrt(0.5), 0, -std::sqrt(0.5)};
const double upAxis[3] = {-1 / std::sqrt(6.0), 2 / std::sqrt(6.0), -1 / std::sqrt(6.0)};
const double backAxis[3] = {1 / std::sqrt(3.0), 1 / std::sqrt(3.0), 1 / std::sqrt(3.0)};

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
        // It looks along -(1, 1, 1); up on screen is +y with the part along
        // the line of sight taken out, right is (1, 0, -1) / sqrt(2). The
        // stored angle and axis are turned back by Rodrigues' formula, not by
        // the quaternion code that made them.
        expectNear(modelDirectionOf(v.iso, {0, 0, -1}), -s3, -s3, -s3, 1e-6);
        expectNear(modelDirectionOf(v.iso, {0, 1, 0}), -s6, 2 * s6, -s6, 1e-6);
        expectNear(modelDirectionOf(v.iso, {1, 0, 0}), rightAxis[0], rightAxis[1], rightAxis[2],
                   1e-6);
    }
}

TEST(IsoView, TheRotationIsTheOneTheHelpNames) {
    Viewed v = viewFromTheCorner({0, 0, 0, 1, 1, 1}, 1.0f);
    // 2 acos(cos(pi/8) cos(atan(1/sqrt(2)) / 2)).
    double expected =
        2.0 * std::acos(std::cos(pi / 8) * std::cos(std::atan(1 / std::sqrt(2.0)) / 2));
    EXPECT_NEAR(v.iso.angle, expected, 1e-6);
    EXPECT_NEAR(v.iso.angle * 180 / pi, 56.60, 0.005);
    expectNear(v.iso.axis, 0.5903, -0.7693, -0.2445, 0.00005);
    // The same figures, to the printed digits, in --help.
    EXPECT_NE(strstr(vxlrenderHelpText().c_str(), "56.60 degrees"), nullptr);
    EXPECT_NE(strstr(vxlrenderHelpText().c_str(), "(0.5903, -0.7693, -0.2445)"), nullptr);
    EXPECT_NE(strstr(vxlrenderHelpText().c_str(), "(-1, 2, -1)/sqrt(6)"), nullptr);
}

// The step is the rotation whose rows are the corner view's right, up and
// back: its quaternion from that matrix by the usual formula (w from the
// trace, the rest from the differences across the diagonal), which comes out
// as (0.88048, 0.27985, -0.36471, -0.11592). Turning the swing and the tip
// the other way round, or about the wrong axes, gives another.
TEST(IsoView, StepIsTheRotationOntoTheCornerViewsAxes) {
    const double* rows[3] = {rightAxis, upAxis, backAxis};
    const double w = std::sqrt(1 + rows[0][0] + rows[1][1] + rows[2][2]) / 2;
    const double x = (rows[2][1] - rows[1][2]) / (4 * w);
    const double y = (rows[0][2] - rows[2][0]) / (4 * w);
    const double z = (rows[1][0] - rows[0][1]) / (4 * w);
    // q and -q are the same turn.
    Quaternion step = isoViewStep();
    const double sign = step.w < 0 ? -1.0 : 1.0;
    EXPECT_NEAR(sign * step.w, w, 1e-6);
    EXPECT_NEAR(sign * step.x, x, 1e-6);
    EXPECT_NEAR(sign * step.y, y, 1e-6);
    EXPECT_NEAR(sign * step.z, z, 1e-6);
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
