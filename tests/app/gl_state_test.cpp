// The fixed GL state, the start projection and the window procedure's resize,
// checked in a real (off-screen) GL context.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cmath>
#include <string>

#include "app/shell.h"
#include "platform/offscreen.h"

namespace {

// Column-major gluPerspective terms for a 45 degree field of view, the near
// plane 0.1f and the far plane 100.
const double FOCAL = 1.0 / std::tan(22.5 * 3.14159265358979323846 / 180.0);
const double NEAR_PLANE = 0.100000001490116119384765625;
const double FAR_PLANE = 100.0;

class GlState : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        if (!platform::openOffscreen(320, 200, &error))
            GTEST_SKIP() << "no off-screen GL context: " << error;
        platform::clearPostedEvents();
    }
    void TearDown() override {
        if (platform::offscreenOpen())
            platform::closeOffscreen();
        platform::clearPostedEvents();
    }

    static void viewport(GLint out[4]) { glGetIntegerv(GL_VIEWPORT, out); }
    static void projection(GLfloat out[16]) { glGetFloatv(GL_PROJECTION_MATRIX, out); }

    static void expectPerspective(double aspect) {
        GLfloat m[16];
        projection(m);
        EXPECT_NEAR(m[0], FOCAL / aspect, 1e-5);
        EXPECT_NEAR(m[5], FOCAL, 1e-5);
        EXPECT_NEAR(m[10], (FAR_PLANE + NEAR_PLANE) / (NEAR_PLANE - FAR_PLANE), 1e-5);
        EXPECT_NEAR(m[11], -1.0, 1e-6);
        EXPECT_NEAR(m[14], 2.0 * FAR_PLANE * NEAR_PLANE / (NEAR_PLANE - FAR_PLANE), 1e-6);
        EXPECT_EQ(m[1], 0.0f);
        EXPECT_EQ(m[15], 0.0f);
    }
};

TEST_F(GlState, InitGlSetsTheFixedStateAndTheStartProjection) {
    // Dirty every value that initGl must set.
    glDisable(GL_DEPTH_TEST);
    glDepthFunc(GL_ALWAYS);
    glShadeModel(GL_FLAT);
    glClearColor(0.5f, 0.5f, 0.5f, 0.5f);
    glClearDepth(0.25);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(1.0f, 2.0f, 3.0f);

    initGl();

    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint value = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &value);
    EXPECT_EQ(value, GL_LEQUAL);
    glGetIntegerv(GL_SHADE_MODEL, &value);
    EXPECT_EQ(value, GL_SMOOTH);
    glGetIntegerv(GL_PERSPECTIVE_CORRECTION_HINT, &value);
    EXPECT_EQ(value, GL_NICEST);
    glGetIntegerv(GL_MATRIX_MODE, &value);
    EXPECT_EQ(value, GL_MODELVIEW);
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    for (float c : clear)
        EXPECT_EQ(c, 0.0f);
    GLfloat depth = 0.0f;
    glGetFloatv(GL_DEPTH_CLEAR_VALUE, &depth);
    EXPECT_EQ(depth, 1.0f);
    GLfloat mv[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    EXPECT_EQ(mv[12], 0.0f);
    EXPECT_EQ(mv[0], 1.0f);

    // The aspect is that of the outer window size, whatever the surface;
    // the viewport is still the surface's.
    expectPerspective(640.0 / 480.0);
    GLint vp[4];
    viewport(vp);
    EXPECT_EQ(vp[2], 320);
    EXPECT_EQ(vp[3], 200);
}

TEST_F(GlState, ZeroHeightKeepsViewportAndProjectionThenAspectFollowsTheClient) {
    initGl();
    windowProc({platform::Event::Resize, 200, 100});
    GLint vp[4];
    viewport(vp);
    EXPECT_EQ(vp[0], 0);
    EXPECT_EQ(vp[1], 0);
    EXPECT_EQ(vp[2], 200);
    EXPECT_EQ(vp[3], 100);
    expectPerspective(2.0);

    // A minimised window: nothing changes.
    windowProc({platform::Event::Resize, 300, 0});
    viewport(vp);
    EXPECT_EQ(vp[2], 200);
    EXPECT_EQ(vp[3], 100);
    expectPerspective(2.0);

    windowProc({platform::Event::Resize, 150, 300});
    viewport(vp);
    EXPECT_EQ(vp[2], 150);
    EXPECT_EQ(vp[3], 300);
    expectPerspective(0.5);
}

TEST_F(GlState, ResizeLeavesTheModelViewMatrixAndSelectsIt) {
    initGl();
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(4.0f, 5.0f, 6.0f);
    glMatrixMode(GL_TEXTURE);

    resizeViewport(64, 48);

    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLfloat mv[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    EXPECT_EQ(mv[12], 4.0f);
    EXPECT_EQ(mv[13], 5.0f);
    EXPECT_EQ(mv[14], 6.0f);
    expectPerspective(64.0 / 48.0);
}

TEST_F(GlState, ResizeWithoutACurrentContextChangesNothing) {
    initGl();
    resizeViewport(100, 50);
    // Another backend that reports no context: the resize must not reach GL.
    const platform::Backend* offscreen = platform::currentBackend();
    platform::Backend noContext = *offscreen;
    noContext.contextCurrent = [] { return false; };
    platform::setBackend(&noContext);
    resizeViewport(10, 40);
    platform::setBackend(offscreen);

    GLint vp[4];
    viewport(vp);
    EXPECT_EQ(vp[2], 100);
    EXPECT_EQ(vp[3], 50);
    expectPerspective(2.0);
}

} // namespace
