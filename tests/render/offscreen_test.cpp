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

int swapHookCalls = 0;
void countSwap() {
    ++swapHookCalls;
}

class Offscreen : public ::testing::Test {
  protected:
    void TearDown() override { platform::closeOffscreen(); }
};

TEST_F(Offscreen, MakesACompatibilityContextWithDepthAndAFullViewport) {
    std::string error;
    ASSERT_TRUE(platform::openOffscreen(640, 480, &error)) << error;
    EXPECT_TRUE(platform::offscreenOpen());
    EXPECT_EQ(platform::offscreenWidth(), 640);
    EXPECT_EQ(platform::offscreenHeight(), 480);
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    ASSERT_NE(renderer, nullptr);
    EXPECT_GT(std::string(renderer).size(), 0u);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 0);
    EXPECT_EQ(viewport[1], 0);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    EXPECT_GE(depthBits, 24);
    GLint redBits = 0;
    glGetIntegerv(GL_RED_BITS, &redBits);
    EXPECT_EQ(redBits, 8);
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
    EXPECT_EQ(pixels[0], 0);
    EXPECT_EQ(pixels[1], 255);
    EXPECT_EQ(pixels[2], 0);
}

TEST_F(Offscreen, ReadsTheTopRowFirstWithTightRowsAtOddWidths) {
    ASSERT_TRUE(platform::openOffscreen(33, 17, nullptr));
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    // GL windows count rows from the bottom: y = 16 is the top row.
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 16, 33, 1);
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glScissor(32, 0, 1, 1);
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glPixelStorei(GL_PACK_ALIGNMENT, 8);
    std::vector<unsigned char> pixels = platform::readPixelsRGB();
    ASSERT_EQ(pixels.size(), 33u * 17u * 3u);
    auto at = [&](int x, int y, int c) { return pixels[(y * 33 + x) * 3 + c]; };
    for (int x = 0; x < 33; ++x) {
        EXPECT_EQ(at(x, 0, 0), 255) << x;
        EXPECT_EQ(at(x, 0, 2), 0) << x;
        EXPECT_EQ(at(x, 1, 2), 255) << x;
    }
    EXPECT_EQ(at(32, 16, 1), 255);
    EXPECT_EQ(at(32, 16, 2), 0);
    EXPECT_EQ(at(31, 16, 2), 255);
    // The caller's pack alignment survives the read.
    GLint alignment = 0;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);
}

TEST_F(Offscreen, InstallsABackendWithAVirtualClockAndNoInput) {
    ASSERT_TRUE(platform::openOffscreen(64, 48, nullptr));
    ASSERT_NE(platform::currentBackend(), nullptr);
    EXPECT_EQ(platform::tickCount(), 0u);
    platform::setVirtualTicks(0xFFFFFFF0u);
    EXPECT_EQ(platform::tickCount(), 0xFFFFFFF0u);
    EXPECT_EQ(platform::virtualTicks(), 0xFFFFFFF0u);
    EXPECT_FALSE(platform::escapeHeld());
    platform::Event event;
    EXPECT_FALSE(platform::currentBackend()->takeEvent(&event));
    swapHookCalls = 0;
    platform::setSwapHook(countSwap);
    platform::swapBuffers();
    platform::swapBuffers();
    EXPECT_EQ(swapHookCalls, 2);
    platform::setSwapHook(nullptr);
    platform::swapBuffers();
    EXPECT_EQ(swapHookCalls, 2);
    // The clock moves only when told to.
    EXPECT_EQ(platform::tickCount(), 0xFFFFFFF0u);
}

TEST_F(Offscreen, ReleasingTheContextLeavesNoneCurrentAndIsSafeToRepeat) {
    ASSERT_TRUE(platform::openOffscreen(64, 48, nullptr));
    EXPECT_TRUE(platform::contextCurrent());
    platform::releaseContext();
    EXPECT_FALSE(platform::contextCurrent());
    EXPECT_FALSE(platform::offscreenOpen());
    EXPECT_TRUE(platform::readPixelsRGB().empty());
    platform::releaseContext();
    EXPECT_FALSE(platform::contextCurrent());
    // A swap after the release must not touch GL.
    platform::swapBuffers();
    platform::closeOffscreen();
    EXPECT_EQ(platform::currentBackend(), nullptr);
}

TEST_F(Offscreen, ReopensAtAnotherSizeAndRejectsAnEmptyOne) {
    ASSERT_TRUE(platform::openOffscreen(64, 48, nullptr));
    ASSERT_TRUE(platform::openOffscreen(320, 200, nullptr));
    EXPECT_EQ(platform::offscreenWidth(), 320);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 320);
    EXPECT_EQ(viewport[3], 200);
    EXPECT_EQ(platform::readPixelsRGB().size(), 320u * 200u * 3u);
    std::string error;
    EXPECT_FALSE(platform::openOffscreen(0, 480, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(platform::offscreenOpen());
    EXPECT_EQ(platform::currentBackend(), nullptr);
}

} // namespace
