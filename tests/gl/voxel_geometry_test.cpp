// Packing the index array down to the faces that may face the eye changes no
// pixel: the same frames, drawn in the viewer's own window with every face
// and with the packed faces, are compared byte for byte.
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "camera/camera_state.h"
#include "camera/iso_view.h"
#include "camera/pivot_turn.h"
#include "model/voxel_model.h"
#include "render/frame_drawing.h"
#include "render/voxel_geometry.h"

namespace {

std::vector<uint8_t> drawnPixels(int w, int h) {
    EXPECT_TRUE(drawFrame(w, h, 1.0f, drawVoxelArrays));
    glFinish();
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    std::vector<uint8_t> rgb(size_t(w) * size_t(h) * 3);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return rgb;
}

// A cloud of overlapping cubes (where depth ties and near ties are many) and
// a solid block, each seen from the framed view, the iso view and eyes moved
// about, inside the box too.
TEST(KeepFacesTowards, PacksWithoutChangingAPixel) {
    const int w = glutGet(GLUT_WINDOW_WIDTH), h = glutGet(GLUT_WINDOW_HEIGHT);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coordinate(-6.0f, 6.0f);
    std::vector<float> cloud, block;
    for (int i = 0; i < 4000; ++i)
        for (int c = 0; c < 3; ++c)
            cloud.push_back(coordinate(random));
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 5; ++y)
            for (int z = 0; z < 6; ++z)
                block.insert(block.end(), {float(x), float(y), float(z)});
    for (auto* positions : {&cloud, &block}) {
        SCOPED_TRACE(positions == &cloud ? "cloud" : "block");
        std::vector<uint8_t> colors(positions->size());
        for (auto& c : colors)
            c = uint8_t(random());
        VoxelModel m = {int32_t(positions->size() / 3), positions->data(), colors.data(), 0.9f};
        model = &m;
        camera = {};
        for (int view = 0; view < 4; ++view) {
            SCOPED_TRACE(view);
            if (view == 0)
                resetCamera();
            else if (view == 1)
                frameIsoView();
            else if (view == 2) {
                resetCamera();
                turnAboutPivot(quaternionFromAngleAxis(2.2, {0.3f, 1.0f, -0.4f}));
            } else {
                resetCamera();
                camera.eye = {camera.center.x + 0.3f, camera.center.y, camera.center.z + 1.0f};
            }
            ASSERT_TRUE(buildVoxelArrays(&m));
            std::vector<uint8_t> every = drawnPixels(w, h);
            size_t packed = keepFacesTowards(camera.eye);
            EXPECT_LT(packed, size_t(m.count) * 36 * 2 / 3) << "about half the faces go";
            EXPECT_GT(packed, 0u);
            std::vector<uint8_t> fewer = drawnPixels(w, h);
            EXPECT_TRUE(every == fewer) << "packing changed the picture";
            size_t lit = 0;
            for (size_t i = 0; i < every.size(); i += 3)
                lit += every[i] || every[i + 1] || every[i + 2];
            EXPECT_GT(lit, every.size() / 3 / 20) << "the model is in view";
            freeVoxelArrays();
        }
        model = nullptr;
    }
}

} // namespace
