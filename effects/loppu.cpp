// Scene "loppu efu", the closing: one full-screen picture that fades in from
// black and then stays until the show ends. No music synchronisation.
//
// Main thread, with the GL context current. Overlay rectangles in the
// 640 x 480 virtual screen, frameTime in milliseconds.
#include <GL/gl.h>

#include "effects/effects.h"
#include "effects/media_files.h"
#include "render/overlay.h"
#include "resources/texture.h"

namespace {

Texture* alttariTexture = nullptr; // "tavara\alttari.jpg"
float loppuFade = 1.0f; // alpha of the black overlay; no floor, a negative alpha darkens nothing

} // namespace

int loppuSetup() {
    alttariTexture = new Texture;
    return alttariTexture->load(tavara::ALTTARI_JPG);
}

void loppuRender(float frameTime) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawImage(alttariTexture, 0.0f, 0.0f, 640.0f, 480.0f, 1.0f, true);
    // Drawn before the decrement: the first frame is black.
    drawFade(0.0f, 0.0f, 0.0f, loppuFade);
    loppuFade = static_cast<float>(loppuFade - frameTime * 0.0009);
}
