// Re-measuring the pivot distance from the depth at the window centre. The
// frames are built here the way the display loads them (a frustum, then a
// rotation and a translation), so the unprojection runs on real matrices.
#include <gtest/gtest.h>

#include <cmath>

#include "camera/camera_state.h"
#include "camera/depth_pick.h"
#include "fakes.h"
#include "view_checks.h"
#include "window/drawn_frame.h"

namespace {

struct Frame {
    double projection[16];
    double modelview[16];
    int viewport[4];
};

// Column-major, as glFrustum leaves it.
void frustum(double l, double r, double b, double t, double n, double f, double m[16]) {
    for (int i = 0; i < 16; ++i)
        m[i] = 0;
    m[0] = 2 * n / (r - l);
    m[5] = 2 * n / (t - b);
    m[8] = (r + l) / (r - l);
    m[9] = (t + b) / (t - b);
    m[10] = -(f + n) / (f - n);
    m[11] = -1;
    m[14] = -2 * f * n / (f - n);
}

// A frame drawn at pivot distance `distance` with the view rotation (angle,
// axis) and the eye at `eye`: near and far planes at distance / 20 and
// 20 * distance, model-view = R(angle, axis) * T(-eye).
Frame drawnFrame(int w, int h, float distance, float angle, Vec3 axis, Vec3 eye) {
    Frame fr;
    double n = distance / 20.0, f = distance * 20.0;
    double diag = std::sqrt(double(w) * w + double(h) * h);
    double top = h / diag * 0.5 * 0.70710677 * n, right = w / diag * 0.5 * 0.70710677 * n;
    frustum(-right, right, -top, top, n, f, fr.projection);

    double len =
        std::sqrt(double(axis.x) * axis.x + double(axis.y) * axis.y + double(axis.z) * axis.z);
    double x = axis.x / len, y = axis.y / len, z = axis.z / len;
    double c = std::cos(double(angle)), s = std::sin(double(angle)), k = 1 - c;
    double rot[3][3] = {{x * x * k + c, x * y * k - z * s, x * z * k + y * s},
                        {y * x * k + z * s, y * y * k + c, y * z * k - x * s},
                        {x * z * k - y * s, y * z * k + x * s, z * z * k + c}};
    double* m = fr.modelview;
    for (int i = 0; i < 16; ++i)
        m[i] = 0;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col)
            m[col * 4 + row] = rot[row][col];
        m[12 + row] = -(rot[row][0] * eye.x + rot[row][1] * eye.y + rot[row][2] * eye.z);
    }
    m[15] = 1;
    fr.viewport[0] = 0;
    fr.viewport[1] = 0;
    fr.viewport[2] = w;
    fr.viewport[3] = h;
    return fr;
}

// The depth buffer value a surface point leaves in that frame.
float depthOf(const Frame& fr, Vec3 p) {
    double v[4] = {p.x, p.y, p.z, 1}, e[4], clip[4];
    for (int row = 0; row < 4; ++row) {
        e[row] = 0;
        for (int col = 0; col < 4; ++col)
            e[row] += fr.modelview[col * 4 + row] * v[col];
    }
    for (int row = 0; row < 4; ++row) {
        clip[row] = 0;
        for (int col = 0; col < 4; ++col)
            clip[row] += fr.projection[col * 4 + row] * e[col];
    }
    return float((clip[2] / clip[3] + 1) * 0.5);
}

float pickAt(const Frame& fr, float depth) {
    return pivotDistanceForDepth(depth, fr.viewport[2] / 2, fr.viewport[3] / 2, fr.projection,
                                 fr.modelview, fr.viewport);
}

void useFrame(const Frame& fr) {
    for (int i = 0; i < 16; ++i) {
        fakeWindow.projection[i] = fr.projection[i];
        fakeWindow.modelview[i] = fr.modelview[i];
    }
    for (int i = 0; i < 4; ++i)
        fakeWindow.viewport[i] = fr.viewport[i];
}

} // namespace

TEST(DepthPick, BackgroundLeavesTheDistance) {
    resetAllState();
    frameView();
    camera.distance = 4.0f;
    Frame fr = drawnFrame(600, 600, 10, 0, {0, 0, 1}, {0, 0, 10});
    for (float depth : {1.0f, 0.99991f, std::nextafter(0.9999f, 1.0f)})
        EXPECT_EQ(pickAt(fr, depth), 4.0f) << depth;
}

TEST(DepthPick, DepthAtTheThresholdStillHits) {
    resetAllState();
    frameView();
    camera.center = {0, 0, -500}; // far enough that the surface decides
    Frame fr = drawnFrame(600, 600, 10, 0, {0, 0, 1}, {0, 0, 10});
    // Invert the frustum's depth mapping on the line of sight.
    double ndc = 2.0 * double(0.9999f) - 1.0;
    double a = fr.projection[14] / (ndc + fr.projection[10]);
    ASSERT_NEAR(a, 192.3, 0.1); // about 19.23 times the distance drawn with
    float d = pickAt(fr, 0.9999f);
    EXPECT_NEAR(d, 1.1414213 * a, 1e-3 * a);
}

TEST(DepthPick, SurfaceNearOrFarFromTheEye) {
    struct Case {
        const char* name;
        Vec3 surface, center;
        double expected;
    } cases[] = {
        // Nearer than b / 1.1414213: just beyond the surface.
        {"near surface", {0, 0, 6}, {0, 0, 0}, 1.1414213 * 4},
        {"surface at the centre's depth", {0, 0, 1.5f}, {0, 0, 0}, 1.1414213 * 8.5},
        // Otherwise the eye's distance to the box centre, on the line of sight
        // or not.
        {"far surface", {0, 0, -2}, {0, 0, 0}, 10},
        {"far surface, centre off the line of sight", {0, 0, -2}, {3, 0, 0}, std::sqrt(109.0)},
        {"surface behind the centre", {0, 0, -50}, {0, 0, 0}, 10},
    };
    for (const Case& c : cases) {
        resetAllState();
        frameView();
        camera.center = c.center;
        camera.distance = 3.0f; // the pick replaces whatever was there
        Frame fr = drawnFrame(600, 600, 10, 0, {0, 0, 1}, {0, 0, 10});
        EXPECT_NEAR(pickAt(fr, depthOf(fr, c.surface)), c.expected, 1e-4) << c.name;
    }
}

TEST(DepthPick, TurnedView) {
    resetAllState();
    frameView();
    // A quarter turn about y: the eye at (-10, 0, 0) looks along +x.
    camera.angle = float(pi / 2);
    camera.axis = {0, 1, 0};
    camera.eye = {-10, 0, 0};
    Frame fr = drawnFrame(800, 600, 10, camera.angle, camera.axis, camera.eye);
    EXPECT_NEAR(pickAt(fr, depthOf(fr, {-6, 0, 0})), 1.1414213 * 4, 1e-4);
    EXPECT_NEAR(pickAt(fr, depthOf(fr, {5, 0, 0})), 10, 1e-4);
}

TEST(DepthPick, MeasuresFromTheCurrentEyeAgainstTheLastFrame) {
    resetAllState();
    frameView();
    Frame fr = drawnFrame(600, 600, 10, 0, {0, 0, 1}, {0, 0, 10});
    float depth = depthOf(fr, {0, 0, 6});
    // The eye moved in by 2 since that frame was drawn (a wheel step in the same
    // event): the surface is the one on screen, the distance from the new eye.
    camera.eye = {0, 0, 8};
    EXPECT_NEAR(pickAt(fr, depth), 1.1414213 * 2, 1e-4);
}

TEST(DepthPick, ResultStaysInTheNavigationRange) {
    resetAllState();
    frameView();
    // Framing size 0.001 keeps the distance at or below 10.
    camera.extent = 0.001f;
    camera.center = {0, 0, -100};
    Frame fr = drawnFrame(600, 600, 10, 0, {0, 0, 1}, {0, 0, 10});
    EXPECT_NEAR(pickAt(fr, depthOf(fr, {0, 0, -40})), 10, 1e-5);

    // Framing size 1000 keeps it at or above 0.1.
    camera.extent = 1000;
    camera.center = {0, 0, 0};
    camera.distance = 1;
    fr = drawnFrame(600, 600, 1, 0, {0, 0, 1}, {0, 0, 10});
    EXPECT_NEAR(pickAt(fr, depthOf(fr, {0, 0, 9.94f})), 0.1, 1e-6);
}

TEST(PickPivotDistance, ReadsTheCenterPixel) {
    struct Case {
        int w, h, cx, cy;
    } cases[] = {{800, 600, 400, 300}, {801, 601, 400, 300}, {600, 600, 300, 300}};
    for (const Case& c : cases) {
        resetAllState();
        frameView();
        fakeWindow.width = c.w;
        fakeWindow.height = c.h;
        lastDrawnFrame = {c.w, c.h};
        Frame fr = drawnFrame(c.w, c.h, 10, 0, {0, 0, 1}, {0, 0, 10});
        useFrame(fr);
        fakeWindow.depth = depthOf(fr, {0, 0, 6});
        pickPivotDistance();
        EXPECT_EQ(fakeWindow.depthReads, 1);
        EXPECT_EQ(fakeWindow.lastDepthX, c.cx) << c.w << "x" << c.h;
        EXPECT_EQ(fakeWindow.lastDepthY, c.cy) << c.w << "x" << c.h;
        // The odd sizes read half a pixel off the axis; the surface is flat.
        EXPECT_NEAR(camera.distance, 1.1414213 * 4, 1e-3) << c.w << "x" << c.h;
        EXPECT_EQ(fakeWindow.redisplayRequests, 0);
    }
}

TEST(PickPivotDistance, OnlyTheDistanceChanges) {
    resetAllState();
    frameView();
    camera.eye = {1, 2, 13};
    camera.center = {1, 2, 3};
    Frame fr = drawnFrame(600, 600, 10, 0, {0, 0, 1}, camera.eye);
    useFrame(fr);
    fakeWindow.depth = depthOf(fr, {1, 2, 10});
    CameraState before = camera;
    pickPivotDistance();
    EXPECT_NEAR(camera.distance, 1.1414213 * 3, 1e-4);
    EXPECT_EQ(camera.eye.z, before.eye.z);
    EXPECT_EQ(camera.angle, before.angle);
    EXPECT_EQ(camera.center.z, before.center.z);
    EXPECT_EQ(fakeWindow.redisplayRequests, 0);
}

TEST(PickPivotDistance, BackgroundChangesNothing) {
    resetAllState();
    frameView();
    camera.distance = 7;
    pickPivotDistance(); // the fake depth starts at the cleared 1.0
    EXPECT_EQ(fakeWindow.depthReads, 1);
    EXPECT_EQ(camera.distance, 7.0f);
    EXPECT_EQ(fakeWindow.redisplayRequests, 0);
}

// Until a frame of the window's new size is drawn, the depth buffer holds the
// old one (and GL may have no buffers of the new size yet): no read, no change.
TEST(PickPivotDistance, WaitsForAFrameOfTheWindowsSize) {
    resetAllState();
    frameView();
    Frame fr = drawnFrame(600, 600, 10, 0, {0, 0, 1}, {0, 0, 10});
    useFrame(fr);
    fakeWindow.depth = depthOf(fr, {0, 0, 6});
    const int resized[][2] = {{601, 600}, {600, 1}, {1, 1}, {1200, 900}};
    for (const auto& s : resized) {
        fakeWindow.width = s[0];
        fakeWindow.height = s[1];
        pickPivotDistance();
        EXPECT_EQ(fakeWindow.depthReads, 0) << s[0] << "x" << s[1];
        EXPECT_EQ(camera.distance, 10.0f);
    }
    fakeWindow.width = fakeWindow.height = 600;
    pickPivotDistance();
    EXPECT_EQ(fakeWindow.depthReads, 1);
    EXPECT_NEAR(camera.distance, 1.1414213 * 4, 1e-3);
}

TEST(PickPivotDistance, WindowWithoutAreaDoesNothing) {
    const int sizes[][2] = {{0, 600}, {800, 0}, {0, 0}, {-5, 600}};
    for (const auto& s : sizes) {
        resetAllState();
        frameView();
        fakeWindow.width = s[0];
        fakeWindow.height = s[1];
        fakeWindow.depth = 0.5f;
        useFrame(drawnFrame(600, 600, 10, 0, {0, 0, 1}, {0, 0, 10}));
        pickPivotDistance();
        EXPECT_EQ(fakeWindow.depthReads, 0) << s[0] << "x" << s[1];
        EXPECT_EQ(camera.distance, 10.0f);
    }
}
