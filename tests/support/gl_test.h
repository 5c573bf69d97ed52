// A fixture with an off-screen GL surface, skipped where no GL context can
// be had, and GL state read back.
//
// Test thread, with the surface's context current. Sizes in pixels.
#pragma once

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/offscreen.h"

class GlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        if (!platform::openOffscreen(640, 480, &error))
            GTEST_SKIP() << "no off-screen GL context: " << error;
    }
    void TearDown() override {
        if (platform::offscreenOpen())
            platform::closeOffscreen();
    }
};

inline GLint glInt(GLenum query) {
    GLint value[4] = {-1, -1, -1, -1};
    glGetIntegerv(query, value);
    return value[0];
}

// One parameter of light 1 (four values).
inline std::vector<float> light1(GLenum name) {
    std::vector<float> value(4, -1.0f);
    glGetLightfv(GL_LIGHT1, name, value.data());
    return value;
}
