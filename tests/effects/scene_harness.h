// Shared fixture of the scene tests: an off-screen 640 x 480 GL context with
// the show's fixed GL state and projection, a scripted music position, and
// helpers to read and compare frames.
//
// Main thread. Each test case runs in its own process, from the build folder
// where tavara/ is generated, so every scene's state starts fresh.
#pragma once

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "app/shell.h"
#include "effects/demo_rand.h"
#include "effects/effects.h"
#include "music/music.h"
#include "platform/offscreen.h"
#include "render/overlay.h"
#include "resources/texture.h"

struct Rgb {
    int r, g, b;
};

// A frame as shown, top row first.
class Frame {
  public:
    std::vector<unsigned char> pixels;
    int width = 0;
    int height = 0;

    Rgb at(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return {pixels[i], pixels[i + 1], pixels[i + 2]};
    }
};

inline Frame grabFrame() {
    Frame frame;
    frame.pixels = platform::readPixelsRGB();
    frame.width = platform::offscreenWidth();
    frame.height = platform::offscreenHeight();
    return frame;
}

// Largest difference of any channel of any pixel.
inline int maxDifference(const Frame& a, const Frame& b) {
    if (a.pixels.size() != b.pixels.size())
        return 256;
    int worst = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        worst = std::max(worst, std::abs(int(a.pixels[i]) - int(b.pixels[i])));
    return worst;
}

// Largest distance of any pixel from one colour.
inline int maxDistanceFrom(const Frame& frame, Rgb colour) {
    int worst = 0;
    for (size_t i = 0; i + 2 < frame.pixels.size(); i += 3) {
        worst = std::max(worst, std::abs(frame.pixels[i] - colour.r));
        worst = std::max(worst, std::abs(frame.pixels[i + 1] - colour.g));
        worst = std::max(worst, std::abs(frame.pixels[i + 2] - colour.b));
    }
    return worst;
}

// Number of channel values that differ by more than the tolerance.
inline int countDifferences(const Frame& a, const Frame& b, int tolerance) {
    int count = 0;
    for (size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        count += std::abs(int(a.pixels[i]) - int(b.pixels[i])) > tolerance;
    return count;
}

inline std::vector<float> lightVector(GLenum name) {
    std::vector<float> value(4, -1.0f);
    glGetLightfv(GL_LIGHT1, name, value.data());
    return value;
}

inline void expectLight(GLenum name, std::vector<float> want) {
    const std::vector<float> got = lightVector(name);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(got[i], want[i], 1e-6) << "component " << i;
}

// A texture of our own for drawing reference frames. Like the show's own
// textures it lives until the process ends, held where leak checks can see it.
inline Texture* loadPicture(const char* path) {
    static std::vector<Texture*>* const kept = new std::vector<Texture*>;
    Texture* texture = new Texture;
    texture->load(path);
    kept->push_back(texture);
    return texture;
}

inline void clearFrame() {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

class SceneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        if (!platform::openOffscreen(640, 480, &error))
            GTEST_SKIP() << "no off-screen GL context: " << error;
        struct stat info;
        ASSERT_EQ(stat("tavara", &info), 0) << "tests run from the build folder with tavara/";
        // The fixed state and projection that start-up sets before the setups.
        glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClearDepth(1.0);
        glDepthFunc(GL_LEQUAL);
        glEnable(GL_DEPTH_TEST);
        glShadeModel(GL_SMOOTH);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45.0, 640.0 / 480.0, 0.1f, 100.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        musicScriptPosition(0, 0);
        demoSeedRand(1);
    }

    void TearDown() override {
        if (platform::offscreenOpen())
            platform::closeOffscreen();
    }
};

// The mix alpha * a + (1 - alpha) * b of two colours, as an 8-bit frame shows it.
inline Rgb mix(Rgb a, Rgb b, double alpha) {
    auto channel = [alpha](int x, int y) { return int(alpha * x + (1.0 - alpha) * y + 0.5); };
    return {channel(a.r, b.r), channel(a.g, b.g), channel(a.b, b.b)};
}

inline int distance(Rgb a, Rgb b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}
