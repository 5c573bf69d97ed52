// Scene "eka efu", the opening: a full-screen photograph with eight swaying
// additive copies of itself, and from order 4 a centre picture whose four
// copies grow to full screen, each started on a later row of the pattern.
//
// Main thread, with the GL context current. Angles in degrees, overlay
// rectangles in the 640 x 480 virtual screen, frameTime in milliseconds.
#include <GL/gl.h>

#include <cmath>

#include "effects/effects.h"
#include "effects/media_files.h"
#include "effects/picture_pulse.h"
#include "music/music.h"
#include "render/overlay.h"
#include "resources/texture.h"

namespace {

Texture* ekaBackgroundTexture = nullptr;      // "tavara\image8.jpg"
float ekaAngle = 0.0f;                        // phase of the sway and opacity sines
float ekaSpread = 0.1f;                       // step between the layers, virtual units
float ekaPulse[4] = {0.0f, 0.0f, 0.0f, 0.0f}; // growth of the four copies, 0 to 100

} // namespace

// Shared with "toka efu", which draws it as its background.
Texture* ekaPulseTexture = nullptr; // "tavara\gay.jpg"

int ekaSetup() {
    ekaBackgroundTexture = new Texture;
    ekaBackgroundTexture->load(tavara::IMAGE8_JPG);
    ekaPulseTexture = new Texture;
    return ekaPulseTexture->load(tavara::GAY_JPG);
}

void ekaRender(float frameTime) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawImage(ekaBackgroundTexture, 0.0f, 0.0f, 640.0f, 480.0f, 1.0f, false);

    const float s = static_cast<float>(std::sin(ekaAngle * 0.017452777777777779));
    const float a = static_cast<float>(std::fabs(std::sin(ekaAngle * 0.007305813953488372) * 0.7));
    for (int i = 0; i < 8; ++i) {
        // Layer i overhangs the screen by k at top and bottom and sways sideways
        // with s: it never uncovers the screen's edges.
        const double k = i * static_cast<double>(ekaSpread);
        drawImage(ekaBackgroundTexture, static_cast<float>(k * (s - 1.0)), static_cast<float>(-k),
                  static_cast<float>(640.0 + k * (s + 1.0)), static_cast<float>(480.0 + k), a,
                  true);
    }
    // Takes effect from the next frame: the first frame still uses 0.1.
    ekaSpread = static_cast<float>(std::fabs(std::sin(ekaAngle * 0.005743144424131628)) * 10.0);

    if (musicOrder() >= 4)
        drawPicturePulse(ekaPulseTexture, ekaPulse, frameTime);

    ekaAngle = static_cast<float>(ekaAngle + frameTime * 0.025);
}
