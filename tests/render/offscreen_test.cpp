// Tests of the headless GL harness: the surface it makes, the pixels it reads
// back and the off-screen backend it installs.
//
// Main thread; sizes in pixels, times in milliseconds.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/offscreen.h"
#include "platform/platform.h"

namespace {

class Offscreen : public ::testing::Test {
  protected:
    void TearDown() override { platform::closeOffscreen(); }
};

GLint glInt(GLenum query) {
    GLint value[4] = {-1, -1, -1, -1};
    glGetIntegerv(query, value);
    return query == GL_VIEWPORT ? value[2] * 10000 + value[3] : value[0];
}

TEST_F(Offscreen, MakesACompatibilityContextAndReadsTheTopRowFirst) {
    std::string error;
    ASSERT_TRUE(platform::openOffscreen(640, 480, &error)) << error;
    EXPECT_EQ(glInt(GL_VIEWPORT), 640 * 10000 + 480);
    EXPECT_GE(glInt(GL_DEPTH_BITS), 24);
    EXPECT_EQ(glInt(GL_RED_BITS), 8);
    // Immediate mode must work: a compatibility profile, not a core one.
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glBegin(GL_TRIANGLES);
    glColor3f(0, 1, 0);
    glVertex2f(-1, -1);
    glVertex2f(3, -1);
    glVertex2f(-1, 3);
    glEnd();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    std::vector<unsigned char> pixels = platform::readPixelsRGB();
    ASSERT_EQ(pixels.size(), 640u * 480u * 3u);
    EXPECT_EQ(pixels[0] + pixels[1] * 1000 + pixels[2], 255 * 1000);

    // An odd width at the caller's pack alignment of 8: rows stay tight, and
    // GL's top row (y = 16) comes first.
    ASSERT_TRUE(platform::openOffscreen(33, 17, nullptr));
    EXPECT_EQ(glInt(GL_VIEWPORT), 33 * 10000 + 17);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 16, 33, 1);
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glScissor(32, 0, 1, 1);
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glPixelStorei(GL_PACK_ALIGNMENT, 8);
    pixels = platform::readPixelsRGB();
    ASSERT_EQ(pixels.size(), 33u * 17u * 3u);
    auto at = [&](int x, int y, int c) { return pixels[(y * 33 + x) * 3 + c]; };
    for (int x = 0; x < 33; ++x) {
        EXPECT_EQ(at(x, 0, 0) - at(x, 0, 2), 255) << x;
        EXPECT_EQ(at(x, 1, 2), 255) << x;
    }
    EXPECT_EQ(at(32, 16, 1) - at(32, 16, 2), 255);
    EXPECT_EQ(at(31, 16, 2), 255);
    EXPECT_EQ(glInt(GL_PACK_ALIGNMENT), 8);

    std::string empty;
    EXPECT_FALSE(platform::openOffscreen(0, 480, &empty));
    EXPECT_FALSE(empty.empty());
    EXPECT_FALSE(platform::offscreenOpen());
    EXPECT_EQ(platform::currentBackend(), nullptr);
}

TEST_F(Offscreen, InstallsABackendWithAVirtualClockAndNoInput) {
    ASSERT_TRUE(platform::openOffscreen(64, 48, nullptr));
    ASSERT_NE(platform::currentBackend(), nullptr);
    EXPECT_EQ(platform::tickCount(), 0u);
    platform::setVirtualTicks(0xFFFFFFF0u);
    EXPECT_EQ(platform::virtualTicks(), 0xFFFFFFF0u);
    EXPECT_FALSE(platform::escapeHeld());
    platform::Event event;
    EXPECT_FALSE(platform::currentBackend()->takeEvent(&event));
    int swapHookCalls = 0;
    platform::setSwapHook([](void* calls) { ++*static_cast<int*>(calls); }, &swapHookCalls);
    platform::swapBuffers();
    platform::swapBuffers();
    platform::setSwapHook(nullptr, nullptr);
    platform::swapBuffers();
    EXPECT_EQ(swapHookCalls, 2);
    // The clock moves only when told to.
    EXPECT_EQ(platform::tickCount(), 0xFFFFFFF0u);

    EXPECT_TRUE(platform::contextCurrent());
    // Releasing leaves no context current, repeats safely, and a swap after
    // it must not touch GL.
    platform::releaseContext();
    platform::releaseContext();
    EXPECT_FALSE(platform::contextCurrent());
    EXPECT_FALSE(platform::offscreenOpen());
    EXPECT_TRUE(platform::readPixelsRGB().empty());
    platform::swapBuffers();
    platform::closeOffscreen();
    EXPECT_EQ(platform::currentBackend(), nullptr);
}

} // namespace
