// The fixed GL state, the start projection and the window procedure's resize,
// checked in a real (off-screen) GL context.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cmath>
#include <string>

#include "app/shell.h"
#include "platform/offscreen.h"

namespace {

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

    // The viewport's size and a 45 degree perspective (near 0.1f, far 100)
    // at the given aspect.
    static void expectView(int width, int height, double aspect) {
        GLint vp[4];
        glGetIntegerv(GL_VIEWPORT, vp);
        EXPECT_EQ(vp[0], 0);
        EXPECT_EQ(vp[1], 0);
        EXPECT_EQ(vp[2], width);
        EXPECT_EQ(vp[3], height);
        const double focal = 1.0 / std::tan(22.5 * M_PI / 180.0), n = double(0.1f), f = 100.0;
        GLfloat m[16];
        glGetFloatv(GL_PROJECTION_MATRIX, m);
        EXPECT_NEAR(m[0], focal / aspect, 1e-5);
        EXPECT_NEAR(m[5], focal, 1e-5);
        EXPECT_NEAR(m[10], (f + n) / (n - f), 1e-5);
        EXPECT_NEAR(m[11], -1.0, 1e-6);
        EXPECT_NEAR(m[14], 2.0 * f * n / (n - f), 1e-6);
        EXPECT_EQ(m[15], 0.0f);
    }
    static GLint integer(GLenum name) {
        GLint value = 0;
        glGetIntegerv(name, &value);
        return value;
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
    EXPECT_EQ(integer(GL_DEPTH_FUNC), GL_LEQUAL);
    EXPECT_EQ(integer(GL_SHADE_MODEL), GL_SMOOTH);
    EXPECT_EQ(integer(GL_PERSPECTIVE_CORRECTION_HINT), GL_NICEST);
    EXPECT_EQ(integer(GL_MATRIX_MODE), GL_MODELVIEW);
    GLfloat clear[5];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    glGetFloatv(GL_DEPTH_CLEAR_VALUE, &clear[4]);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(clear[i], i == 4 ? 1.0f : 0.0f) << i;
    GLfloat mv[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    EXPECT_EQ(mv[12], 0.0f);
    // The aspect is that of the outer window size, whatever the surface; the
    // viewport is still the surface's.
    expectView(320, 200, 640.0 / 480.0);
}

TEST_F(GlState, ResizeFollowsTheClientExceptAtZeroHeightOrWithoutAContext) {
    initGl();
    glTranslatef(4.0f, 5.0f, 6.0f);
    glMatrixMode(GL_TEXTURE);
    windowProc({platform::Event::Resize, 200, 100});
    expectView(200, 100, 2.0);
    // The model-view matrix is selected again and left as it was.
    EXPECT_EQ(integer(GL_MATRIX_MODE), GL_MODELVIEW);
    GLfloat mv[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    EXPECT_EQ(mv[13], 5.0f);

    // A minimised window: nothing changes.
    windowProc({platform::Event::Resize, 300, 0});
    expectView(200, 100, 2.0);
    // A backend that reports no context: the resize must not reach GL.
    const platform::Backend* offscreen = platform::currentBackend();
    platform::Backend noContext = *offscreen;
    noContext.contextCurrent = [] { return false; };
    platform::setBackend(&noContext);
    resizeViewport(10, 40);
    platform::setBackend(offscreen);
    expectView(200, 100, 2.0);

    windowProc({platform::Event::Resize, 150, 300});
    expectView(150, 300, 0.5);
}

} // namespace
