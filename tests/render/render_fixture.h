// Shared set-up of the rendering tests: a 640 x 480 off-screen context, pixel
// reads in screen coordinates (top row 0) and textures built from pixels.
//
// Main thread; sizes and coordinates in pixels.
#pragma once

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/offscreen.h"
#include "resources/texture.h"

class RenderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(platform::openOffscreen(640, 480, &error)) << error;
    }
    void TearDown() override { platform::closeOffscreen(); }

    void clearTo(float red, float green, float blue) {
        glClearColor(red, green, blue, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }

    // Reads the frame once; pixel() then answers from that copy.
    void grab() { frame = platform::readPixelsRGB(); }
    std::array<int, 3> pixel(int x, int y) const {
        size_t at = (static_cast<size_t>(y) * platform::offscreenWidth() + x) * 3;
        return {frame[at], frame[at + 1], frame[at + 2]};
    }

    std::array<int, 3> centre() {
        grab();
        return pixel(320, 240);
    }

    // A width x height RGB texture whose first row is the first in the buffer;
    // a solid one when rgb holds a single colour.
    Texture* makeTexture(int width, int height, std::vector<unsigned char> rgb) {
        while (rgb.size() < static_cast<size_t>(width * height * 3)) {
            rgb.insert(rgb.end(), rgb.begin(), rgb.begin() + 3);
        }
        textures.emplace_back(new Texture());
        uploadTexturePixels(textures.back().get(), 3, width, height, rgb.data());
        return textures.back().get();
    }

    std::vector<unsigned char> frame;
    std::vector<std::unique_ptr<Texture>> textures;
};

// Colour components equal within a rounding tolerance.
inline ::testing::AssertionResult rgbNear(const std::array<int, 3>& got, int red, int green,
                                          int blue, int tolerance = 2) {
    if (std::abs(got[0] - red) <= tolerance && std::abs(got[1] - green) <= tolerance &&
        std::abs(got[2] - blue) <= tolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "got (" << got[0] << ", " << got[1] << ", " << got[2] << "), want (" << red << ", "
           << green << ", " << blue << ") within " << tolerance;
}

inline GLint glInt(GLenum query) {
    GLint value = -1;
    glGetIntegerv(query, &value);
    return value;
}
