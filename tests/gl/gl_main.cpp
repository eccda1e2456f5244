// Runs the GL tests inside one GLUT window, created before any test so that
// every test draws with a current context of the viewer's own pixel format.
#include <GL/glut.h>
#include <gtest/gtest.h>

// GLUT wants a display callback for the window; the tests draw explicitly and
// read the back buffer themselves, so whatever GLUT asks to repaint is ignored.
static void ignoreRepaint() {}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(400, 400);
    glutCreateWindow("gl_tests");
    glutDisplayFunc(ignoreRepaint);
    return RUN_ALL_TESTS();
}
