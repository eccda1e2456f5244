// Navigation pushed to its extremes on models from the tiny to the float
// limit: thousands of zoom steps, minutes of spin, pointer jumps across the
// whole coordinate range, windows down to one pixel, and long random sessions.
// The camera must stay finite and drawable throughout, and the space bar must
// bring back exactly the first framing.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "camera/camera_state.h"
#include "camera/idle_animation.h"
#include "camera/input_mapping.h"
#include "camera/trackball_state.h"
#include "fakes.h"
#include "model/voxel_model.h"
#include "render/frame_drawing.h"
#include "view_checks.h"
#include "window/drawn_frame.h"

namespace {

constexpr int pressed = 0;
constexpr int released = 1;

struct TestModel {
    const char* name;
    std::vector<float> positions;
    float size;
};

// From a speck to the float limit; each also checks framing on the way.
const TestModel testModels[] = {
    {"unit pair", {0, 0, 0, 1, 0, 0}, 1.0f},
    {"speck", {1e-30f, 0, 0, 3e-30f, 1e-30f, 0}, 1e-30f},
    {"giant", {-1e30f, 2e30f, 0, 1e30f, 0, 5e29f}, 1e29f},
    {"across the float range", {-3e38f, 0, 0, 3e38f, 0, 0}, 1e37f},
    {"at the float limit", {FLT_MAX, FLT_MAX, FLT_MAX}, 1e36f},
    {"up against the float limit", {-3e38f, 3e38f, 3e38f, -3.4e38f, 3.4e38f, 3.4e38f}, 1e36f},
    {"far from the origin", {1e7f, 1e7f, 1e7f, 1.0000001e7f, 1e7f, 1e7f}, 1.0f},
    {"single point of size zero", {5, 5, 5}, 0.0f},
    {"no voxels", {}, 1.0f},
};

// Loads `m` as the global model (over arrays this holder owns) and frames it.
struct LoadedModel {
    std::vector<float> positions;
    std::vector<uint8_t> colors;
    VoxelModel voxels;

    explicit LoadedModel(const TestModel& m) : positions(m.positions) {
        colors.assign(positions.size(), 200);
        voxels = {int32_t(positions.size() / 3), positions.empty() ? nullptr : positions.data(),
                  colors.empty() ? nullptr : colors.data(), m.size};
        resetAllState();
        model = &voxels;
        resetCamera();
    }
    ~LoadedModel() {
        model = nullptr;
    }
};

std::string describe(const CameraState& c) {
    std::ostringstream out;
    out.precision(9);
    out << "eye (" << c.eye.x << ", " << c.eye.y << ", " << c.eye.z << ") angle " << c.angle
        << " axis (" << c.axis.x << ", " << c.axis.y << ", " << c.axis.z << ") distance "
        << c.distance;
    return out.str();
}

bool finite(Vec3 v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Everything a frame and the next navigation step read is a number, the
// rotation is a proper one, and the frame can be drawn in an ordinary window.
::testing::AssertionResult cameraIsUsable(const char* when) {
    const CameraState& c = camera;
    bool ok = finite(c.eye) && finite(c.axis) && std::isfinite(c.angle) &&
              std::isfinite(c.distance) && c.distance > 0.0f && c.angle >= 0.0f &&
              c.angle <= 6.2831855f;
    double axisLength = std::sqrt(double(c.axis.x) * c.axis.x + double(c.axis.y) * c.axis.y +
                                  double(c.axis.z) * c.axis.z);
    ok = ok && std::fabs(axisLength - 1.0) < 1e-5;
    FrustumBounds f;
    float scale = viewScale(c.distance);
    ok = ok && frameFrustum(800, 600, c.distance * scale, &f) && std::isfinite(f.farPlane);
    ok = ok && finite(trackball.spinAxis) && std::isfinite(trackball.angularSpeed) &&
         trackball.angularSpeed >= 0.0f;
    if (ok)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << when << ": " << describe(c) << ", spin speed " << trackball.angularSpeed;
}

// Presses the space bar and checks the first framing came back exactly.
void expectResetRestores(const CameraState& first) {
    keyboardCallback(' ', 0, 0);
    expectSameView(camera, first);
    EXPECT_EQ(trackball.spinning, 0);
}

TEST(ExtremeNavigation, ThousandsOfZoomStepsEachWay) {
    for (const TestModel& m : testModels) {
        SCOPED_TRACE(m.name);
        LoadedModel loaded(m);
        const CameraState first = camera;
        ASSERT_TRUE(cameraIsUsable("framed"));
        for (int i = 0; i < 5000; ++i)
            keyboardCallback('z', 0, 0);
        ASSERT_TRUE(cameraIsUsable("after 5000 zoom-in keys"));
        float nearest = camera.distance;
        for (int i = 0; i < 5000; ++i)
            mouseCallback(3, pressed, 300, 300); // wheel out
        ASSERT_TRUE(cameraIsUsable("after 5000 wheel steps out"));
        EXPECT_GT(camera.distance, nearest);
        for (int i = 0; i < 5000; ++i)
            keyboardCallback('Z', 0, 0);
        ASSERT_TRUE(cameraIsUsable("after 5000 more zoom-out keys"));
        for (int i = 0; i < 3000; ++i)
            mouseCallback(4, i % 2 ? released : pressed, 300, 300); // wheel in
        ASSERT_TRUE(cameraIsUsable("after 3000 wheel steps in"));
        expectResetRestores(first);
    }
}

// A fling left to spin for ten minutes of frames at 60 per second, then a
// stall of a day in one step: the rotation stays a rotation, the eye stays on
// its orbit about the unmoved pivot point.
TEST(ExtremeNavigation, MinutesOfSpinAndAStalledMainLoop) {
    for (const TestModel& m : testModels) {
        SCOPED_TRACE(m.name);
        LoadedModel loaded(m);
        const CameraState first = camera;
        // A quick flick to the right, released while still moving.
        mouseCallback(0, pressed, 300, 300);
        for (int x = 310; x <= 400; x += 10) {
            advanceClock(0.01);
            motionCallback(x, 300 + (x - 300) / 3);
        }
        advanceClock(0.01);
        mouseCallback(0, released, 400, 333);
        ASSERT_EQ(trackball.spinning, 1) << "the flick should have started a spin";
        ASSERT_TRUE(cameraIsUsable("released"));
        for (int i = 0; i < 36000; ++i) {
            advanceClock(1.0 / 60.0);
            idleCallback();
            if (i % 1000 == 0) {
                ASSERT_TRUE(cameraIsUsable("spinning"));
            }
        }
        advanceClock(86400.0);
        idleCallback();
        ASSERT_TRUE(cameraIsUsable("after a day-long step"));
        EXPECT_EQ(trackball.spinning, 1);
        expectResetRestores(first);
    }
}

// Pointer positions across the whole range X can report, in windows from one
// pixel up, with every button combination held.
TEST(ExtremeNavigation, HugePointerJumpsWithEveryButtonCombination) {
    const int jumps[][2] = {{INT_MAX, INT_MIN}, {-32768, 32767}, {0, 0},
                            {INT_MIN, INT_MAX}, {32767, -32768}, {1, 1},
                            {INT_MAX, INT_MAX}};
    const int windows[][2] = {{1, 1}, {1, 4000}, {4000, 1}, {800, 600}};
    for (const TestModel& m : testModels) {
        SCOPED_TRACE(m.name);
        LoadedModel loaded(m);
        const CameraState first = camera;
        for (const auto& w : windows) {
            fakeWindow.width = w[0];
            fakeWindow.height = w[1];
            for (int buttons = 1; buttons < 8; ++buttons) {
                SCOPED_TRACE(testing::Message()
                             << "window " << w[0] << "x" << w[1] << ", buttons " << buttons);
                for (int b = 0; b < 3; ++b)
                    if (buttons & (1 << b))
                        mouseCallback(b, pressed, 0, 0);
                for (const auto& j : jumps) {
                    advanceClock(0.005);
                    motionCallback(j[0], j[1]);
                    ASSERT_TRUE(cameraIsUsable("after a jump"));
                }
                for (int b = 0; b < 3; ++b)
                    if (buttons & (1 << b))
                        mouseCallback(b, released, INT_MAX, INT_MIN);
                ASSERT_TRUE(cameraIsUsable("after the release"));
                for (int i = 0; i < 50; ++i) {
                    advanceClock(0.01);
                    idleCallback();
                }
                ASSERT_TRUE(cameraIsUsable("after spinning on"));
            }
        }
        fakeWindow.width = fakeWindow.height = 600;
        expectResetRestores(first);
    }
}

// Long seeded sessions of random input: presses and releases of every button,
// wheel steps, motion anywhere, every non-quitting key, window sizes from none
// to one pixel to large, depth picks at any depth, and time steps from nothing
// to hours. A failure names the seed and the event, so it can be replayed.
TEST(ExtremeNavigation, RandomSessionsStayFiniteAndResetExactly) {
    const unsigned char keys[] = {'z', 'Z', ' ', 'a', 'x', 0, 255, 'w', '\r', 8};
    const int sizes[][2] = {{0, 0}, {1, 1}, {0, 600}, {1, 700}, {700, 1}, {800, 600}, {32767, 2}};
    // Unprojection through plain identity matrices puts the picked surface
    // within a unit of the origin: for most models far from the model.
    const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (const TestModel& m : testModels) {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE(testing::Message() << m.name << ", seed " << seed);
            LoadedModel loaded(m);
            const CameraState first = camera;
            for (int i = 0; i < 16; ++i) {
                fakeWindow.projection[i] = identity[i];
                fakeWindow.modelview[i] = identity[i];
            }
            std::mt19937 random(seed);
            auto pick = [&random](int n) { return int(random() % uint32_t(n)); };
            auto coordinate = [&]() {
                switch (pick(4)) {
                case 0:
                    return pick(2) ? INT_MAX : INT_MIN;
                case 1:
                    return pick(65536) - 32768;
                default:
                    return pick(900);
                }
            };
            for (int event = 0; event < 20000; ++event) {
                switch (pick(10)) {
                case 0:
                case 1:
                    mouseCallback(pick(6), pick(2), coordinate(), coordinate());
                    break;
                case 2:
                    keyboardCallback(keys[pick(sizeof keys)], coordinate(), coordinate());
                    break;
                case 3: {
                    const auto& s = sizes[pick(7)];
                    fakeWindow.width = s[0];
                    fakeWindow.height = s[1];
                    fakeWindow.viewport[2] = s[0];
                    fakeWindow.viewport[3] = s[1];
                    if (pick(2)) // a frame of the new size was drawn
                        lastDrawnFrame = {s[0], s[1]};
                    break;
                }
                case 4:
                    fakeWindow.depth = pick(3) ? 1.0f : float(random()) / 4294967296.0f;
                    break;
                case 5:
                    advanceClock(pick(50) ? pick(100) * 0.001 : pick(20000) * 1.0);
                    idleCallback();
                    break;
                default:
                    advanceClock(pick(20) * 0.001);
                    motionCallback(coordinate(), coordinate());
                    break;
                }
                ::testing::AssertionResult usable = cameraIsUsable("random session");
                if (!usable) {
                    ADD_FAILURE() << "event " << event << ": " << usable.message() << ", window "
                                  << fakeWindow.width << "x" << fakeWindow.height;
                    break;
                }
            }
            expectResetRestores(first);
        }
    }
}

} // namespace
