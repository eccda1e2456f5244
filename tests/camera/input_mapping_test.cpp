// The user interface: which pointer dispatch does what, the held-button mask
// that the mouse callback keeps, the wheel, pointer normalisation and the keys.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "camera/camera_state.h"
#include "camera/input_mapping.h"
#include "camera/trackball_state.h"
#include "fakes.h"
#include "view_checks.h"
#include "window/glut_window.h"

namespace {

bool sameVec(Vec3 a, Vec3 b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// Everything an input event could touch.
struct Snapshot {
    CameraState camera;
    PointerState pointer;
    TrackballState trackball;
    int redisplayRequests, depthReads, sleeps, frequencyQueries;
};

Snapshot takeSnapshot() {
    return {camera,
            pointer,
            trackball,
            fakeWindow.redisplayRequests,
            fakeWindow.depthReads,
            fakeClock.sleeps,
            fakeClock.frequencyQueries};
}

void expectUnchanged(const Snapshot& a, const char* what) {
    Snapshot b = takeSnapshot();
    EXPECT_TRUE(sameVec(a.camera.center, b.camera.center)) << what;
    EXPECT_EQ(a.camera.extent, b.camera.extent) << what;
    EXPECT_TRUE(sameVec(a.camera.eye, b.camera.eye)) << what;
    EXPECT_EQ(a.camera.angle, b.camera.angle) << what;
    EXPECT_TRUE(sameVec(a.camera.axis, b.camera.axis)) << what;
    EXPECT_EQ(a.camera.distance, b.camera.distance) << what;
    EXPECT_EQ(a.pointer.heldButtons, b.pointer.heldButtons) << what;
    EXPECT_EQ(a.pointer.lastButtons, b.pointer.lastButtons) << what;
    EXPECT_EQ(a.pointer.lastX, b.pointer.lastX) << what;
    EXPECT_EQ(a.pointer.lastY, b.pointer.lastY) << what;
    EXPECT_EQ(a.trackball.spinning, b.trackball.spinning) << what;
    EXPECT_EQ(a.trackball.angularSpeed, b.trackball.angularSpeed) << what;
    EXPECT_TRUE(sameVec(a.trackball.spinAxis, b.trackball.spinAxis)) << what;
    EXPECT_EQ(a.trackball.lastRotationTick, b.trackball.lastRotationTick) << what;
    EXPECT_EQ(a.redisplayRequests, b.redisplayRequests) << what;
    EXPECT_EQ(a.depthReads, b.depthReads) << what;
    EXPECT_EQ(a.sleeps, b.sleeps) << what;
    EXPECT_EQ(a.frequencyQueries, b.frequencyQueries) << what;
}

// A framed view with a drag in progress whose release would spin: speed 1.0,
// last step 0.05 s ago, the previous dispatch at (0.1, 0.1) with `before` held.
void prepareDispatch(ButtonMask before) {
    resetAllState();
    frameView();
    pointer.lastButtons = before;
    pointer.lastX = 0.1f;
    pointer.lastY = 0.1f;
    trackball.angularSpeed = 1.0f;
    trackball.spinAxis = {0, 1, 0};
    lastUpdateAgo(0.05);
}

// A spinning view with a known pointer record, for events that should stop or
// leave the spin.
void prepareSpin() {
    resetAllState();
    frameView();
    trackball = {1, 2.0f, {0, 1, 0}, fakeClock.counter};
    pointer = {0, 0, 0.25f, -0.5f};
}

} // namespace

TEST(DispatchPointer, EveryRowOfTheBindingTable) {
    enum Effect { Nothing, TurnBegins, Turn, Pan, Zoom, ReleaseThenPick, Pick };
    struct Row {
        ButtonMask now, before;
        Effect effect;
    } rows[] = {
        {4, 0, TurnBegins}, {4, 4, Turn},    {4, 1, Nothing},
        {4, 2, Nothing},    {4, 5, Nothing}, {4, 3, Nothing},
        {4, 7, Nothing},    {1, 1, Pan},     {1, 0, Nothing},
        {1, 4, Nothing},    {1, 5, Nothing}, {1, 2, Nothing},
        {5, 5, Zoom},       {5, 0, Nothing}, {5, 4, Nothing},
        {5, 1, Nothing},    {2, 2, Zoom},    {2, 0, Nothing},
        {2, 5, Nothing},    {2, 4, Nothing}, {0, 4, ReleaseThenPick},
        {0, 0, Pick},       {0, 1, Pick},    {0, 2, Pick},
        {0, 5, Pick},       {0, 7, Pick},    {3, 3, Nothing},
        {3, 0, Nothing},    {6, 6, Nothing}, {6, 4, Nothing},
        {7, 7, Nothing},    {7, 0, Nothing}, {8, 8, Nothing},
        {12, 12, Nothing},
    };
    for (const Row& r : rows) {
        prepareDispatch(r.before);
        dispatchPointer(0.3f, -0.2f, r.now);
        std::string what = std::to_string(r.now) + " after " + std::to_string(r.before);

        // Whatever happened, the dispatch is recorded for the next one.
        EXPECT_EQ(pointer.lastX, 0.3f) << what;
        EXPECT_EQ(pointer.lastY, -0.2f) << what;
        EXPECT_EQ(pointer.lastButtons, r.now) << what;

        bool moves = r.effect == Turn || r.effect == Pan || r.effect == Zoom;
        EXPECT_EQ(fakeWindow.redisplayRequests, moves ? 1 : 0) << what;
        bool picks = r.effect == Pick || r.effect == ReleaseThenPick;
        EXPECT_EQ(fakeWindow.depthReads, picks ? 1 : 0) << what;
        EXPECT_EQ(trackball.spinning, r.effect == ReleaseThenPick ? 1 : 0) << what;

        switch (r.effect) {
        case TurnBegins:
            EXPECT_EQ(trackball.angularSpeed, 0.0f) << what;
            break;
        case Turn:
            // From (0.1, 0.1) towards (0.3, -0.2), 2 radians per unit of travel.
            EXPECT_NEAR(camera.angle, 2 * std::sqrt(0.13), 1e-5) << what;
            EXPECT_NEAR(std::sqrt(camera.eye.x * camera.eye.x + camera.eye.y * camera.eye.y +
                                  camera.eye.z * camera.eye.z),
                        10, 1e-4)
                << what;
            break;
        case Pan:
            expectVec(camera.eye, -0.70711, 1.06066, 10, 1e-5);
            EXPECT_EQ(camera.distance, 10.0f) << what;
            break;
        case Zoom:
            // dz = (0.1 - -0.2) - (0.1 - 0.3) = 0.5: right and down zoom in.
            EXPECT_NEAR(camera.distance, 10 * std::exp(-1.125), 1e-4) << what;
            expectVec(camera.eye, 0, 0, 10 * std::exp(-1.125), 1e-4);
            break;
        default:
            break;
        }
        if (!moves) {
            expectVec(camera.eye, 0, 0, 10, 0.0);
            EXPECT_EQ(camera.angle, 0.0f) << what;
            EXPECT_EQ(camera.distance, 10.0f) << what;
        }
        if (r.effect != TurnBegins && r.effect != Turn) {
            EXPECT_EQ(trackball.angularSpeed, 1.0f) << what;
        }
    }
}

TEST(DispatchPointer, ZoomByHorizontalMinusVerticalMovement) {
    struct Case {
        float x, y;
        double factor;
    } cases[] = {
        {0.2f, 0.1f, std::exp(-2.25 * 0.1)}, // right: in
        {0.0f, 0.1f, std::exp(2.25 * 0.1)},  // left: out
        {0.1f, 0.2f, std::exp(2.25 * 0.1)},  // up: out
        {0.1f, 0.0f, std::exp(-2.25 * 0.1)}, // down: in
        {0.2f, 0.2f, 1.0},                   // right and up cancel
    };
    for (ButtonMask mask : {ButtonMask(2), ButtonMask(5)}) {
        for (const Case& c : cases) {
            prepareDispatch(mask);
            dispatchPointer(c.x, c.y, mask);
            EXPECT_NEAR(camera.distance, 10 * c.factor, 1e-4) << mask << " " << c.x << "," << c.y;
            EXPECT_EQ(fakeWindow.redisplayRequests, 1);
        }
    }
}

TEST(MouseCallback, PressSetsAndReleaseClearsEachButton) {
    struct Case {
        int button;
        ButtonMask bit;
    } cases[] = {{0, 4}, {1, 2}, {2, 1}};
    for (const Case& c : cases) {
        resetAllState();
        frameView();
        mouseCallback(c.button, buttonPressed, 300, 300);
        EXPECT_EQ(pointer.heldButtons, c.bit) << c.button;
        EXPECT_EQ(pointer.lastButtons, c.bit) << c.button;
        mouseCallback(c.button, buttonReleased, 300, 300);
        EXPECT_EQ(pointer.heldButtons, 0u) << c.button;
        EXPECT_EQ(pointer.lastButtons, 0u) << c.button;
    }
    resetAllState();
    frameView();
    mouseCallback(1, buttonPressed, 300, 300);
    mouseCallback(2, buttonPressed, 300, 300);
    mouseCallback(0, buttonPressed, 300, 300);
    EXPECT_EQ(pointer.heldButtons, 7u);
    mouseCallback(1, buttonReleased, 300, 300);
    EXPECT_EQ(pointer.heldButtons, 5u);
    mouseCallback(0, buttonReleased, 300, 300);
    EXPECT_EQ(pointer.heldButtons, 1u);
    mouseCallback(2, buttonReleased, 300, 300);
    EXPECT_EQ(pointer.heldButtons, 0u);
}

TEST(MouseCallback, LostReleaseOrPressDoesNotInvertTheMask) {
    resetAllState();
    frameView();
    // A release with nothing held: the mask stays empty and only picks.
    mouseCallback(0, buttonReleased, 300, 300);
    EXPECT_EQ(pointer.heldButtons, 0u);
    EXPECT_EQ(fakeWindow.depthReads, 1);
    // The next left press still starts a turn rather than picking.
    trackball.angularSpeed = 5.0f;
    mouseCallback(0, buttonPressed, 300, 300);
    EXPECT_EQ(pointer.heldButtons, 4u);
    EXPECT_EQ(trackball.angularSpeed, 0.0f);
    EXPECT_EQ(fakeWindow.depthReads, 1);

    // A second press without the release between keeps the button held: the
    // repeated press dispatches as a turn step, not as a release and pick.
    mouseCallback(0, buttonPressed, 300, 300);
    EXPECT_EQ(pointer.heldButtons, 4u);
    EXPECT_EQ(fakeWindow.depthReads, 1);
    EXPECT_EQ(fakeWindow.redisplayRequests, 1);
    mouseCallback(0, buttonReleased, 300, 300);
    EXPECT_EQ(pointer.heldButtons, 0u);
    EXPECT_EQ(fakeWindow.depthReads, 2);

    // The same for the other buttons.
    mouseCallback(2, buttonReleased, 300, 300);
    mouseCallback(1, buttonReleased, 300, 300);
    EXPECT_EQ(pointer.heldButtons, 0u);
    mouseCallback(1, buttonPressed, 300, 300);
    mouseCallback(1, buttonPressed, 300, 300);
    EXPECT_EQ(pointer.heldButtons, 2u);
}

TEST(MouseCallback, LeftRightReleaseLeftReleaseRight) {
    resetAllState();
    frameView();
    trackball.angularSpeed = 9.0f;
    trackball.lastRotationTick = fakeClock.counter;

    mouseCallback(0, buttonPressed, 300, 300); // 4 after 0: a turn begins
    EXPECT_EQ(trackball.angularSpeed, 0.0f);
    EXPECT_EQ(fakeWindow.redisplayRequests, 0);
    advanceClock(0.01);
    motionCallback(330, 300); // 4 after 4: (0, 0) to (0.1, 0) turns 0.2
    EXPECT_NEAR(camera.angle, 0.2, 1e-5);
    EXPECT_NEAR(trackball.angularSpeed, 1.0, 1e-4);
    EXPECT_EQ(fakeWindow.redisplayRequests, 1);
    CameraState turned = camera;

    mouseCallback(2, buttonPressed, 330, 300); // 5 after 4: only records
    EXPECT_EQ(pointer.heldButtons, 5u);
    EXPECT_EQ(fakeWindow.redisplayRequests, 1);
    EXPECT_EQ(camera.angle, turned.angle);
    motionCallback(360, 300); // 5 after 5: zoom in by 0.1
    EXPECT_NEAR(camera.distance, 10 * std::exp(-0.225), 1e-4);
    EXPECT_EQ(camera.angle, turned.angle);
    EXPECT_EQ(fakeWindow.redisplayRequests, 2);
    float zoomed = camera.distance;

    mouseCallback(0, buttonReleased, 360, 300); // 1 after 5: only records
    EXPECT_EQ(pointer.heldButtons, 1u);
    EXPECT_EQ(trackball.spinning, 0);
    EXPECT_EQ(fakeWindow.depthReads, 0);
    EXPECT_EQ(fakeWindow.redisplayRequests, 2);
    Vec3 before = camera.eye;
    motionCallback(360, 330); // 1 after 1: pan down by 0.1
    EXPECT_EQ(camera.distance, zoomed);
    EXPECT_EQ(fakeWindow.redisplayRequests, 3);
    double moved =
        std::sqrt(std::pow(camera.eye.x - before.x, 2.0) + std::pow(camera.eye.y - before.y, 2.0) +
                  std::pow(camera.eye.z - before.z, 2.0));
    EXPECT_NEAR(moved, 0.1 * 0.35355339 * zoomed, 1e-5);

    // 0 after 1: a pick without a release decision, though a release now
    // would spin (speed 1.0, last step 0.01 s ago).
    mouseCallback(2, buttonReleased, 360, 330);
    EXPECT_EQ(pointer.heldButtons, 0u);
    EXPECT_EQ(fakeWindow.depthReads, 1);
    EXPECT_EQ(trackball.spinning, 0);
}

TEST(MouseCallback, RightLeftReleaseRightKeepsTheSpeed) {
    resetAllState();
    frameView();
    mouseCallback(2, buttonPressed, 300, 300); // 1 after 0
    trackball.angularSpeed = 3.0f;
    mouseCallback(0, buttonPressed, 300, 300);  // 5 after 1
    mouseCallback(2, buttonReleased, 300, 300); // 4 after 5: no reset
    EXPECT_EQ(pointer.heldButtons, 4u);
    EXPECT_EQ(trackball.angularSpeed, 3.0f);
    EXPECT_EQ(fakeWindow.redisplayRequests, 0);
    EXPECT_EQ(fakeWindow.depthReads, 0);

    trackball.lastRotationTick = fakeClock.counter;
    advanceClock(0.01);
    motionCallback(330, 300); // a turn of 0.2 that averages onto the old speed
    EXPECT_NEAR(trackball.angularSpeed, 0.95 * 3.0 + 1.0, 1e-4);
}

TEST(MouseCallback, QuickReleaseSpinsAndThenPicks) {
    resetAllState();
    frameView();
    trackball.lastRotationTick = fakeClock.counter;
    mouseCallback(0, buttonPressed, 300, 300);
    advanceClock(0.01);
    motionCallback(330, 300);
    advanceClock(0.05);
    mouseCallback(0, buttonReleased, 330, 300);
    EXPECT_EQ(trackball.spinning, 1);
    EXPECT_EQ(fakeWindow.depthReads, 1);

    // A slow release does not.
    resetAllState();
    frameView();
    trackball.lastRotationTick = fakeClock.counter;
    mouseCallback(0, buttonPressed, 300, 300);
    advanceClock(0.01);
    motionCallback(330, 300);
    advanceClock(0.3); // the pointer rested
    mouseCallback(0, buttonReleased, 330, 300);
    EXPECT_EQ(trackball.spinning, 0);
    EXPECT_EQ(fakeWindow.depthReads, 1);
}

TEST(MouseCallback, EveryHandledButtonEventStopsASpin) {
    for (int button = 0; button <= 4; ++button) {
        for (int state : {buttonPressed, buttonReleased}) {
            prepareSpin();
            mouseCallback(button, state, 300, 300);
            EXPECT_EQ(trackball.spinning, 0) << button << "/" << state;
            // Each was dispatched at the event's position.
            EXPECT_EQ(pointer.lastX, 0.0f) << button << "/" << state;
            EXPECT_EQ(pointer.lastY, 0.0f) << button << "/" << state;
        }
    }
    // A left press on a spinning view starts a new turn from rest.
    prepareSpin();
    mouseCallback(0, buttonPressed, 300, 300);
    EXPECT_EQ(trackball.angularSpeed, 0.0f);
}

TEST(MouseCallback, ButtonsAboveFourDoNothingAtAll) {
    for (int button : {5, 6, 7, 8, 100, -1}) {
        for (int state : {buttonPressed, buttonReleased}) {
            prepareSpin();
            Snapshot before = takeSnapshot();
            mouseCallback(button, state, 123, 456);
            expectUnchanged(before, ("button " + std::to_string(button)).c_str());
        }
    }
}

TEST(MouseCallback, WheelZoomsOneStepAndPicksWhenNothingIsHeld) {
    struct Case {
        int button;
        double factor;
    } cases[] = {{3, 1.1191}, {4, 0.8936}};
    for (const Case& c : cases) {
        for (int state : {buttonPressed, buttonReleased}) {
            resetAllState();
            frameView();
            mouseCallback(c.button, state, 300, 300);
            EXPECT_NEAR(camera.distance, 10 * c.factor, 1e-3) << c.button;
            EXPECT_EQ(pointer.heldButtons, 0u) << c.button;
            EXPECT_EQ(fakeWindow.depthReads, 1) << c.button;
            EXPECT_EQ(fakeWindow.redisplayRequests, 1) << c.button;
        }
    }
    // A notch reported as press and release zooms twice.
    resetAllState();
    frameView();
    mouseCallback(4, buttonPressed, 300, 300);
    mouseCallback(4, buttonReleased, 300, 300);
    EXPECT_NEAR(camera.distance, 10 * 0.8936 * 0.8936, 2e-3);
}

TEST(MouseCallback, WheelWhileButtonsAreHeld) {
    // Right held: the zoom happens, the dispatch is a pan of nothing, no pick.
    resetAllState();
    frameView();
    mouseCallback(2, buttonPressed, 300, 300);
    mouseCallback(3, buttonPressed, 300, 300);
    EXPECT_EQ(pointer.heldButtons, 1u);
    EXPECT_NEAR(camera.distance, 10 * 1.1191, 1e-3);
    EXPECT_EQ(fakeWindow.depthReads, 0);

    // Left held: the wheel event's position turns the view from the last one.
    resetAllState();
    frameView();
    mouseCallback(0, buttonPressed, 300, 300);
    mouseCallback(4, buttonPressed, 330, 300);
    EXPECT_EQ(pointer.heldButtons, 4u);
    EXPECT_NEAR(camera.angle, 0.2, 1e-5);
    EXPECT_EQ(fakeWindow.depthReads, 0);
}

TEST(PointerNormalization, PixelsToNormalizedCoordinates) {
    struct Case {
        int w, h, x, y;
        float nx, ny;
    } cases[] = {
        {600, 600, 0, 0, -1, 1},
        {600, 600, 600, 600, 1, -1},
        {600, 600, 300, 300, 0, 0},
        {800, 400, 800, 0, 2, 1},
        {800, 400, 0, 400, -2, -1},
        {800, 400, 400, 200, 0, 0},
        {400, 800, 0, 800, -1, -2},
        {400, 800, 400, 0, 1, 2},
        {400, 800, 200, 400, 0, 0},
        // Outside the window: no clamping.
        {600, 600, -300, 900, -2, -2},
    };
    for (const Case& c : cases) {
        float nx = 99, ny = 99;
        EXPECT_TRUE(normalizePointer(c.x, c.y, c.w, c.h, &nx, &ny));
        EXPECT_NEAR(nx, c.nx, 1e-6) << c.w << "x" << c.h << " (" << c.x << "," << c.y << ")";
        EXPECT_NEAR(ny, c.ny, 1e-6) << c.w << "x" << c.h << " (" << c.x << "," << c.y << ")";

        // The motion callback hands the same position to the dispatcher.
        resetAllState();
        fakeWindow.width = c.w;
        fakeWindow.height = c.h;
        motionCallback(c.x, c.y);
        EXPECT_NEAR(pointer.lastX, c.nx, 1e-6);
        EXPECT_NEAR(pointer.lastY, c.ny, 1e-6);
    }
}

TEST(PointerNormalization, WindowWithoutAreaDropsMotion) {
    const int sizes[][2] = {{0, 600}, {600, 0}, {0, 0}};
    for (const auto& s : sizes) {
        resetAllState();
        frameView();
        fakeWindow.width = s[0];
        fakeWindow.height = s[1];
        float nx = 7, ny = 7;
        EXPECT_FALSE(normalizePointer(10, 10, s[0], s[1], &nx, &ny));

        pointer = {4, 4, 0.25f, 0.5f}; // mid-drag
        Snapshot before = takeSnapshot();
        motionCallback(100, 100);
        expectUnchanged(before, "motion");

        // A release still updates the mask and stops a spin, but is not
        // dispatched: no release decision and no pick.
        trackball.spinning = 1;
        mouseCallback(0, buttonReleased, 100, 100);
        EXPECT_EQ(pointer.heldButtons, 0u);
        EXPECT_EQ(pointer.lastButtons, 4u);
        EXPECT_EQ(trackball.spinning, 0);
        EXPECT_EQ(fakeWindow.depthReads, 0);
    }
}

TEST(Keyboard, ZoomKeysZoomAndLeaveASpinRunning) {
    struct Case {
        unsigned char key;
        double factor;
    } cases[] = {{'z', 0.8936}, {'Z', 1.1191}};
    for (const Case& c : cases) {
        prepareSpin();
        keyboardCallback(c.key, 10, 20);
        EXPECT_NEAR(camera.distance, 10 * c.factor, 1e-3) << c.key;
        EXPECT_NEAR(camera.eye.z, 10 * c.factor, 1e-3) << c.key;
        EXPECT_EQ(trackball.spinning, 1) << c.key;
        EXPECT_EQ(trackball.angularSpeed, 2.0f) << c.key;
        EXPECT_EQ(fakeWindow.redisplayRequests, 1) << c.key;
        // Keys neither dispatch nor pick.
        EXPECT_EQ(fakeWindow.depthReads, 0) << c.key;
        EXPECT_EQ(pointer.lastX, 0.25f) << c.key;
    }
}

TEST(Keyboard, SpaceReframesRedrawsAndStopsASpin) {
    prepareSpin();
    camera.eye = {3, -4, 2};
    camera.angle = 1.2f;
    camera.axis = {0, 1, 0};
    camera.distance = 0.7f;
    keyboardCallback(' ', 0, 0);
    expectVec(camera.eye, 0, 0, 10, 0.0);
    EXPECT_EQ(camera.angle, 0.0f);
    expectVec(camera.axis, 0, 0, 1, 0.0);
    EXPECT_EQ(camera.distance, 10.0f);
    EXPECT_EQ(trackball.spinning, 0);
    EXPECT_EQ(fakeWindow.redisplayRequests, 1);
    EXPECT_EQ(pointer.lastX, 0.25f);
}

TEST(Keyboard, OtherKeysChangeNothing) {
    for (int key : std::initializer_list<int>{'a', 'x', '0', 255, 0, 'w', 13, 127, 100, 101, 102,
                                              103, 'y', 'S'}) {
        prepareSpin();
        camera.eye = {1, 2, 13};
        Snapshot before = takeSnapshot();
        keyboardCallback((unsigned char)key, 5, 5);
        expectUnchanged(before, ("key " + std::to_string(key)).c_str());
    }
}

TEST(KeyboardDeathTest, QuitKeysExitWithStatusZero) {
    for (int k : std::initializer_list<int>{'q', 'Q', 27, 17}) {
        resetAllState();
        frameView();
        EXPECT_EXIT(keyboardCallback((unsigned char)k, 0, 0), ::testing::ExitedWithCode(0), "")
            << k;
    }
}
