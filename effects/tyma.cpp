// Scene "tyma efu": two full-screen pictures added together, each shaken by
// its own random offset every frame; while the music plays order 45 a black
// overlay lies over them that starts opaque and fades away.
//
// Main thread, with the GL context current. Overlay rectangles in the
// 640 x 480 virtual screen, frameTime in milliseconds.
#include <GL/gl.h>

#include "effects/demo_rand.h"
#include "effects/effects.h"
#include "effects/media_files.h"
#include "music/music.h"
#include "render/overlay.h"
#include "resources/texture.h"

namespace {

Texture* huutoTexture = nullptr;  // "tavara\huuto.jpg"
Texture* pleaseTexture = nullptr; // "tavara\please.jpg"
float tymaFade = 1.0f; // alpha of the black overlay; no floor, a negative alpha darkens nothing

// Both offsets are -5 to 4 units; x is drawn before y.
void drawShaken(Texture* texture) {
    const float dx = static_cast<float>(demoRand() % 10 - 5);
    const float dy = static_cast<float>(demoRand() % 10 - 5);
    drawImage(texture, dx, dy, dx + 640.0f, dy + 480.0f, 1.0f, true);
}

} // namespace

int tymaSetup() {
    huutoTexture = new Texture;
    huutoTexture->load(tavara::HUUTO_JPG);
    pleaseTexture = new Texture;
    return pleaseTexture->load(tavara::PLEASE_JPG);
}

void tymaRender(float frameTime) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawShaken(huutoTexture);
    drawShaken(pleaseTexture);
    if (musicOrder() == 45) {
        // Drawn before the decrement: the first frame of order 45 is black.
        drawFade(0.0f, 0.0f, 0.0f, tymaFade);
        tymaFade = static_cast<float>(tymaFade - frameTime * 0.0006);
    }
}
