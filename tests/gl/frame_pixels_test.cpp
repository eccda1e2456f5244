// Real frames in a real GLUT window: what renderFrame leaves in the back buffer
// is read back and compared with what the camera arithmetic says must be
// there, and the depth pick is run against the depth buffer of a drawn frame.
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera_state.h"
#include "camera/depth_pick.h"
#include "model/voxel_model.h"
#include "render/voxel_geometry.h"
#include "render/window_frame.h"

namespace {

struct Rgb {
    uint8_t r, g, b;
};

bool operator==(Rgb a, Rgb b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

std::ostream& operator<<(std::ostream& out, Rgb c) {
    return out << "(" << int(c.r) << ", " << int(c.g) << ", " << int(c.b) << ")";
}

constexpr Rgb black = {0, 0, 0};

struct Voxel {
    float x, y, z;
    Rgb color;
};

// A model the test owns, shaped like one the loader returns.
struct OwnedModel {
    std::vector<float> positions;
    std::vector<uint8_t> colors;
    VoxelModel model;
};

// The colour buffer of one frame; rows count from the bottom, as GL's do.
struct Image {
    int width, height;
    std::vector<uint8_t> rgb;
};

Rgb pixelAt(const Image& image, int x, int y) {
    const uint8_t* p = &image.rgb[3 * (size_t(y) * image.width + x)];
    return {p[0], p[1], p[2]};
}

int countPixels(const Image& image, Rgb color) {
    int n = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            n += pixelAt(image, x, y) == color;
    return n;
}

// Inclusive pixel bounds of every pixel of one colour; left > right when none.
struct PixelBounds {
    int left, right, bottom, top;
};

PixelBounds boundsOf(const Image& image, Rgb color) {
    PixelBounds b = {image.width, -1, image.height, -1};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (pixelAt(image, x, y) == color) {
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.bottom = std::min(b.bottom, y);
                b.top = std::max(b.top, y);
            }
    return b;
}

// True when a clear reaches the window's top right pixel: the back buffer then
// spans the whole window. A read outside the buffer leaves the sentinel alone.
bool backBufferCoversWindow(int w, int h) {
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glFinish();
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    uint8_t corner[3] = {7, 7, 7};
    glReadPixels(w - 1, h - 1, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, corner);
    return corner[0] == 255 && corner[1] == 255 && corner[2] == 255;
}

// glutReshapeWindow only asks; the new size arrives with a later event, and
// GLUT's default reshape handling then sets the viewport. The GL driver may
// take the window's new size for its buffers only at a buffer swap, and then
// hand out new colour and depth buffers: a frame drawn before that swap is cut
// to the old size, and its depth is gone after it. So one swap follows every
// size change before the buffers are trusted to cover the window.
testing::AssertionResult resizeWindow(int w, int h) {
    glutReshapeWindow(w, h);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        glutMainLoopEvent();
        GLint viewport[4] = {0, 0, 0, 0};
        glGetIntegerv(GL_VIEWPORT, viewport);
        int gotW = glutGet(GLUT_WINDOW_WIDTH), gotH = glutGet(GLUT_WINDOW_HEIGHT);
        bool sized = gotW == w && gotH == h && viewport[0] == 0 && viewport[1] == 0 &&
                     viewport[2] == w && viewport[3] == h;
        if (sized) {
            glutSwapBuffers();
            if (backBufferCoversWindow(w, h))
                return testing::AssertionSuccess();
        }
        if (std::chrono::steady_clock::now() > deadline)
            return testing::AssertionFailure()
                   << "window " << gotW << "x" << gotH << ", viewport " << viewport[0] << " "
                   << viewport[1] << " " << viewport[2] << " " << viewport[3]
                   << (sized ? ", back buffer smaller than the window" : "") << " after asking for "
                   << w << "x" << h;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

Image readBackBuffer() {
    glFinish();
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    Image image = {glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT), {}};
    image.rgb.resize(size_t(image.width) * image.height * 3);
    glReadPixels(0, 0, image.width, image.height, GL_RGB, GL_UNSIGNED_BYTE, image.rgb.data());
    return image;
}

// Draws one frame from the current camera without showing it and returns it.
Image drawFrame() {
    EXPECT_TRUE(renderFrame());
    return readBackBuffer();
}

// The drawing arrays and list 1 belong to one model; a new model needs them
// built again on its first frame.
void forgetDrawing() {
    freeVoxelArrays();
    listCompiled = false;
}

// Makes `m` the model and frames it as start-up does.
void showModel(VoxelModel* m) {
    forgetDrawing();
    model = m;
    camera = {};
    resetCamera();
}

// Half the side, in pixels, of a square face of half-width `halfSize` seen
// straight on `depthAhead` in front of the eye, from the frustum of a w x h
// window at pivot distance `distance`.
double predictedHalfPixels(double halfSize, double depthAhead, int w, int h, double distance) {
    double nearPlane = distance / 20.0;
    double diag = std::sqrt(double(w) * w + double(h) * h);
    double right = (w / diag) * 0.5 * 0.70710677 * nearPlane;
    return halfSize / depthAhead * nearPlane / right * (w / 2.0);
}

// The pixels whose centres fall within [middle - half, middle + half].
int firstCovered(double middle, double half) {
    return int(std::ceil(middle - half - 0.5));
}
int lastCovered(double middle, double half) {
    return int(std::floor(middle + half - 0.5));
}

float length(double x, double y, double z) {
    return float(std::sqrt(x * x + y * y + z * z));
}

struct FrameTest : testing::Test {
    OwnedModel owned = {};
    VoxelModel* loaded = nullptr;

    void SetUp() override {
        ASSERT_TRUE(resizeWindow(400, 400));
    }

    void TearDown() override {
        // A test may have left the context in a state a failing frame does not
        // reset; the next test starts from GL's defaults again.
        glDisable(GL_LIGHTING);
        glDisable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ZERO);
        forgetDrawing();
        model = nullptr;
        if (loaded) {
            freeVoxelModel(loaded);
        }
    }

    void showVoxels(const std::vector<Voxel>& voxels, float voxelSize) {
        forgetDrawing();
        owned.positions.clear();
        owned.colors.clear();
        for (const Voxel& v : voxels) {
            owned.positions.insert(owned.positions.end(), {v.x, v.y, v.z});
            owned.colors.insert(owned.colors.end(), {v.color.r, v.color.g, v.color.b});
        }
        owned.model = {int32_t(voxels.size()), owned.positions.data(), owned.colors.data(),
                       voxelSize};
        showModel(&owned.model);
    }

    // Loads `text` through the file loader, as start-up does, and frames it.
    void showFile(const std::string& text) {
        std::string path = testing::TempDir() + "gl_tests_" +
                           testing::UnitTest::GetInstance()->current_test_info()->name() + ".vxl";
        FILE* file = fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr) << path;
        fputs(text.c_str(), file);
        fclose(file);
        loaded = loadVoxels(path.c_str());
        remove(path.c_str());
        ASSERT_NE(loaded, nullptr) << text;
        showModel(loaded);
    }
};

constexpr Rgb orange = {200, 100, 50};

// Checks that the only thing drawn is a solid square of `color`, centred in
// the window, whose half side is `half` pixels, to within a pixel.
void expectCenteredSquare(const Image& image, Rgb color, double half, const std::string& what) {
    const int w = image.width, h = image.height;
    PixelBounds want = {firstCovered(w / 2.0, half), lastCovered(w / 2.0, half),
                        firstCovered(h / 2.0, half), lastCovered(h / 2.0, half)};
    PixelBounds got = boundsOf(image, color);
    std::printf("%s in %dx%d: predicted half %.3f px, columns %d..%d, rows %d..%d; "
                "drawn columns %d..%d, rows %d..%d\n",
                what.c_str(), w, h, half, want.left, want.right, want.bottom, want.top, got.left,
                got.right, got.bottom, got.top);
    SCOPED_TRACE(what);

    EXPECT_NEAR(got.left, want.left, 1);
    EXPECT_NEAR(got.right, want.right, 1);
    EXPECT_NEAR(got.bottom, want.bottom, 1);
    EXPECT_NEAR(got.top, want.top, 1);
    // Centred: as many columns (rows) left of the square as right of it.
    EXPECT_LE(std::abs(got.left + got.right - (w - 1)), 1);
    EXPECT_LE(std::abs(got.bottom + got.top - (h - 1)), 1);
    // Square pixels whatever the window's shape.
    EXPECT_LE(std::abs((got.right - got.left) - (got.top - got.bottom)), 1);

    // A solid square of the one colour on black, nothing else anywhere.
    int area = (got.right - got.left + 1) * (got.top - got.bottom + 1);
    EXPECT_EQ(countPixels(image, color), area);
    EXPECT_EQ(countPixels(image, black), w * h - area);

    // Probes a few pixels either side of each predicted edge, on the centre lines.
    const int cx = w / 2, cy = h / 2, m = 3;
    EXPECT_EQ(pixelAt(image, want.left + m, cy), color);
    EXPECT_EQ(pixelAt(image, want.right - m, cy), color);
    EXPECT_EQ(pixelAt(image, cx, want.bottom + m), color);
    EXPECT_EQ(pixelAt(image, cx, want.top - m), color);
    EXPECT_EQ(pixelAt(image, want.left - m, cy), black);
    EXPECT_EQ(pixelAt(image, want.right + m, cy), black);
    EXPECT_EQ(pixelAt(image, cx, want.bottom - m), black);
    EXPECT_EQ(pixelAt(image, cx, want.top + m), black);
}

// A unit voxel at the origin, framed: only its front face (z = 0.5) faces the
// eye, 2 x extent - 0.5 ahead of it, and it must come out as a filled square
// of the predicted size in the middle of a w x h window.
void checkFrontFaceSquare(FrameTest& test, int w, int h) {
    ASSERT_TRUE(resizeWindow(w, h));
    test.showVoxels({{0, 0, 0, orange}}, 1.0f);
    ASSERT_FLOAT_EQ(camera.eye.z, 2.0f * 2.828f);
    Image image = drawFrame();
    double half = predictedHalfPixels(0.5, camera.eye.z - 0.5, w, h, camera.distance);
    expectCenteredSquare(image, orange, half, "front face");
}

TEST_F(FrameTest, FramedVoxelFrontFaceIsCenteredSquareOfPredictedSize) {
    checkFrontFaceSquare(*this, 400, 400);
}

TEST_F(FrameTest, WideWindowKeepsFaceSquareAtPredictedSize) {
    checkFrontFaceSquare(*this, 800, 400);
}

TEST_F(FrameTest, TallWindowKeepsFaceSquareAtPredictedSize) {
    checkFrontFaceSquare(*this, 300, 500);
}

// Every face seen straight on from outside is drawn as the same full square:
// a face wound the wrong way would be culled, and from outside the cube's
// other faces are all seen from behind, so nothing would be drawn there.
TEST_F(FrameTest, EveryFaceSeenFromOutsideIsDrawn) {
    showVoxels({{0, 0, 0, orange}}, 1.0f);
    const float d = camera.distance;
    const double half = predictedHalfPixels(0.5, d - 0.5, 400, 400, d);
    const struct {
        const char* name;
        Vec3 outward;
    } faces[] = {{"top", {0, 1, 0}},   {"right", {1, 0, 0}}, {"bottom", {0, -1, 0}},
                 {"left", {-1, 0, 0}}, {"front", {0, 0, 1}}, {"back", {0, 0, -1}}};
    for (const auto& face : faces) {
        // Eye on the face's outward axis; the view rotation turns that axis
        // onto +z, about outward x (0, 0, 1), or about x when they are parallel.
        const Vec3 n = face.outward;
        camera.eye = {d * n.x, d * n.y, d * n.z};
        camera.angle = float(std::acos(double(n.z)));
        camera.axis = n.z != 0.0f ? Vec3{1, 0, 0} : Vec3{n.y, -n.x, 0};
        expectCenteredSquare(drawFrame(), orange, half, std::string(face.name) + " face");
    }
}

// Two voxels on the line of sight: the one nearer the eye (larger z) covers the
// other completely, in whichever order the file lists them. Drawing the far
// one last shows that the depth test decides, not the order.
TEST_F(FrameTest, NearerVoxelWinsWhateverTheOrder) {
    constexpr Rgb farColor = {255, 0, 0}, nearColor = {0, 255, 0};
    const Voxel farVoxel = {0, 0, 0, farColor}, nearVoxel = {0, 0, 2, nearColor};
    for (auto voxels : {std::vector<Voxel>{farVoxel, nearVoxel}, {nearVoxel, farVoxel}}) {
        showVoxels(voxels, 1.0f);
        Image image = drawFrame();
        EXPECT_EQ(pixelAt(image, 200, 200), nearColor);
        EXPECT_GT(countPixels(image, nearColor), 0);
        EXPECT_EQ(countPixels(image, farColor), 0) << "the far voxel shows through";
    }
}

// A big model goes into the list in several draw calls (the driver cannot
// take millions of voxels in one); the calls keep the order of the voxels,
// so the frame is the one a single call draws, where equal depths let the
// first drawn win. Overlapping voxels of many colours show any change of
// order or a voxel left out or drawn twice at a boundary.
TEST_F(FrameTest, ModelDrawnInSeveralCallsShowsTheFrameOfOneCall) {
    std::vector<Voxel> voxels;
    for (int i = 0; i < 200; ++i)
        voxels.push_back({float(i % 7) * 0.5f,
                          float(i % 5) * 0.5f,
                          float(i % 3) * 0.5f,
                          {uint8_t(40 * i), uint8_t(255 - 3 * i), uint8_t(7 * i)}});
    const size_t saved = voxelsPerDrawCall;
    voxelsPerDrawCall = voxels.size();
    showVoxels(voxels, 1.0f);
    Image oneCall = drawFrame();
    for (size_t perCall : {size_t(1), size_t(3), size_t(64), voxels.size() - 1}) {
        SCOPED_TRACE(perCall);
        voxelsPerDrawCall = perCall;
        showVoxels(voxels, 1.0f);
        Image several = drawFrame();
        EXPECT_EQ(several.rgb, oneCall.rgb);
    }
    voxelsPerDrawCall = saved;
    EXPECT_GT(countPixels(oneCall, black), 0);
    EXPECT_LT(countPixels(oneCall, black), oneCall.width * oneCall.height);
}

// From inside a voxel every one of its faces is seen from behind and culled,
// while the next voxel along the line of sight, facing the eye, is drawn. The
// enclosing voxel's faces are nearer, so drawn they would hide it.
TEST_F(FrameTest, BackFacesAreCulledFromInsideAVoxel) {
    constexpr Rgb shell = {10, 20, 200}, ahead = {250, 250, 0};
    showVoxels({{0, 0, 0, shell}, {0, 0, -10, ahead}}, 2.0f);

    // From the framed view outside, the nearer voxel hides the farther one.
    Image outside = drawFrame();
    EXPECT_EQ(pixelAt(outside, 200, 200), shell);
    EXPECT_EQ(countPixels(outside, ahead), 0);

    camera.eye = {0, 0, 0};
    camera.distance = 1.0f;
    Image inside = drawFrame();
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    GLint cullMode = 0, frontFace = 0;
    glGetIntegerv(GL_CULL_FACE_MODE, &cullMode);
    glGetIntegerv(GL_FRONT_FACE, &frontFace);
    EXPECT_EQ(cullMode, GL_BACK);
    EXPECT_EQ(frontFace, GL_CCW);

    EXPECT_EQ(pixelAt(inside, 200, 200), ahead);
    EXPECT_EQ(countPixels(inside, shell), 0) << "an inward face of the enclosing voxel is drawn";
    EXPECT_EQ(pixelAt(inside, 5, 5), black);
    EXPECT_EQ(countPixels(inside, ahead) + countPixels(inside, black), 400 * 400);
}

// Colour values keep their low eight bits on loading, and the frame shows
// exactly those bytes.
TEST_F(FrameTest, WrappedFileColorsDrawAsWrapped) {
    showFile("1 1\n0 0 0 256 -1 300\n");
    Image image = drawFrame();
    const Rgb wrapped = {0, 255, 44};
    EXPECT_EQ(pixelAt(image, 200, 200), wrapped);
    EXPECT_EQ(countPixels(image, wrapped) + countPixels(image, black), 400 * 400);
}

// No voxels: the empty list draws nothing, on the compiling frame and after,
// and a pick finds only background.
TEST_F(FrameTest, EmptyModelDrawsBlackFrames) {
    showFile("0 1\n");
    ASSERT_EQ(loaded->count, 0);
    for (int frame = 0; frame < 2; ++frame) {
        Image image = drawFrame();
        EXPECT_EQ(countPixels(image, black), 400 * 400) << "frame " << frame;
    }
    float before = camera.distance;
    pickPivotDistance();
    EXPECT_EQ(camera.distance, before);
}

// Whatever lighting and blending the context was left with, faces come out in
// their voxel's exact colour, every pixel alike: the frame resets them first.
TEST_F(FrameTest, FacesAreUnlitAndFlatWhateverStateWasLeft) {
    showVoxels({{0, 0, 0, orange}}, 1.0f);
    glEnable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ZERO, GL_ONE); // would keep the black background everywhere
    Image image = drawFrame();
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    PixelBounds b = boundsOf(image, orange);
    ASSERT_LE(b.left, b.right) << "the voxel is not drawn in its colour";
    int area = (b.right - b.left + 1) * (b.top - b.bottom + 1);
    EXPECT_EQ(countPixels(image, orange), area);
    EXPECT_EQ(countPixels(image, black), 400 * 400 - area);
}

// The depth pick reads the depth buffer of the frame just shown, unprojects the
// window centre and puts the pivot a little beyond the surface found there,
// capped at the box centre. The tolerance allows for the 24-bit depth buffer.
struct DepthPickTest : FrameTest {};

constexpr Rgb grey = {128, 128, 128}, teal = {0, 128, 128};

TEST_F(DepthPickTest, NearSurfaceSetsPivotJustBeyondIt) {
    // Box centre (0, 0, 2); the front face of the near voxel is at z = 4.5.
    showVoxels({{0, 0, 0, grey}, {0, 0, 4, teal}}, 1.0f);
    ASSERT_FLOAT_EQ(camera.eye.z, 2.0f + 2.0f * (4.0f + 2.828f));
    ASSERT_TRUE(renderFrame());
    ASSERT_EQ(pixelAt(readBackBuffer(), 200, 200), teal);
    display();

    const Vec3 eye = camera.eye;
    float toSurface = camera.eye.z - 4.5f;
    float toCenter = camera.eye.z - 2.0f;
    ASSERT_LT(pivotBeyondSurface * toSurface, toCenter);
    pickPivotDistance();
    EXPECT_NEAR(camera.distance, pivotBeyondSurface * toSurface, 1e-3 * toSurface);
    EXPECT_EQ(camera.eye.x, eye.x);
    EXPECT_EQ(camera.eye.y, eye.y);
    EXPECT_EQ(camera.eye.z, eye.z);
}

TEST_F(DepthPickTest, TurnedViewUnprojectsThroughTheFrameTransforms) {
    // Looking along +x from x = -10 at the -x face (x = -0.5) of the first
    // voxel; the box centre is (2, 0, 0).
    showVoxels({{0, 0, 0, grey}, {4, 0, 0, teal}}, 1.0f);
    camera.eye = {-10.0f, 0.0f, 0.0f};
    camera.angle = float(std::acos(0.0)); // a quarter turn
    camera.axis = {0.0f, 1.0f, 0.0f};
    camera.distance = 12.0f;
    ASSERT_TRUE(renderFrame());
    ASSERT_EQ(pixelAt(readBackBuffer(), 200, 200), grey);
    display();

    float toSurface = 9.5f;
    pickPivotDistance();
    EXPECT_NEAR(camera.distance, pivotBeyondSurface * toSurface, 1e-3 * toSurface);
}

TEST_F(DepthPickTest, FarSurfaceCapsPivotAtBoxCenter) {
    // Eye backed off to z = 8 from the unit voxel's face at 0.5: 1.14 x 7.5 is
    // beyond the box centre at 8, so the pivot goes to the centre.
    showVoxels({{0, 0, 0, grey}}, 1.0f);
    camera.eye.z = 8.0f;
    ASSERT_TRUE(renderFrame());
    ASSERT_EQ(pixelAt(readBackBuffer(), 200, 200), grey);
    display();
    ASSERT_GE(pivotBeyondSurface * 7.5f, 8.0f);
    pickPivotDistance();
    EXPECT_FLOAT_EQ(camera.distance,
                    length(camera.center.x - camera.eye.x, camera.center.y - camera.eye.y,
                           camera.center.z - camera.eye.z));
    EXPECT_FLOAT_EQ(camera.distance, 8.0f);
}

TEST_F(DepthPickTest, BackgroundAtCenterKeepsPivotDistance) {
    // The gap between two voxels is at the window centre. The eye is backed
    // off so that the box centre's distance differs from the pivot distance in
    // use, and a pick that took the background for a surface would show.
    showVoxels({{-3, 0, 0, grey}, {3, 0, 0, teal}}, 1.0f);
    camera.eye.z += camera.extent;
    ASSERT_TRUE(renderFrame());
    Image image = readBackBuffer();
    ASSERT_EQ(pixelAt(image, 200, 200), black);
    ASSERT_GT(countPixels(image, grey), 0);
    display();
    const float before = camera.distance;
    pickPivotDistance();
    EXPECT_EQ(camera.distance, before);
}

TEST_F(DepthPickTest, PickInWideWindowReadsItsCenter) {
    // In an 801 x 401 window the centre pixel is (400, 200); the voxel's face
    // fills it, so the pick must find the surface rather than background.
    ASSERT_TRUE(resizeWindow(801, 401));
    showVoxels({{0, 0, 0, grey}, {0, 0, 4, teal}}, 1.0f);
    ASSERT_TRUE(renderFrame());
    ASSERT_EQ(pixelAt(readBackBuffer(), 400, 200), teal);
    display();
    float toSurface = camera.eye.z - 4.5f;
    pickPivotDistance();
    EXPECT_NEAR(camera.distance, pivotBeyondSurface * toSurface, 1e-3 * toSurface);
}

} // namespace
