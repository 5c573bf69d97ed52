// Scene "toka efu": a lit, textured ball turning in front of the picture that
// "eka efu" loaded. In orders 10 to 14 the level layer lies underneath, the
// picture is tinted green and added, the ball is added under a green light and
// green fades cover the start; orders 14 and 15 grow four copies of a picture
// on rows 8, 12, 16 and 20; the ball turns on chosen rows of each pattern.
//
// Main thread, with the GL context current. Angles in degrees, overlay
// rectangles in the 640 x 480 virtual screen, frameTime in milliseconds.
#include <GL/gl.h>

#include "effects/effects.h"
#include "effects/media_files.h"
#include "effects/picture_pulse.h"
#include "effects/scene_setup.h"
#include "music/music.h"
#include "render/overlay.h"
#include "resources/model.h"
#include "resources/texture.h"

namespace {

int firstFrame = 1;
Model* tokaBall = nullptr;                     // "tavara\pallo.3ds"
float tokaYaw = 0.0f;                          // turn of the ball about Y, degrees
float tokaPitch = 0.0f;                        // turn of the ball about X, degrees
float tokaWhiteFade = 1.0f;                    // alpha of the white fade
float tokaGreenFade = 1.0f;                    // alpha of the green fade of orders 10 to 14
float tokaPulse[4] = {0.0f, 0.0f, 0.0f, 0.0f}; // growth of the copies, 0 to 100

// Asked afresh at every test: a late test may see a later position.
bool inGreenOrders() {
    return musicOrder() >= 10 && musicOrder() < 15;
}

} // namespace

// Shared with "kaka efu", which draws it as its background.
Texture* titleTexture = nullptr; // "tavara\vtdemo.jpg"

void tokaSetup() {
    const GLfloat ambient[4] = {0.5f, 0.5f, 1.0f, 1.0f};
    const GLfloat diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    const GLfloat position[4] = {0.0f, 1.0f, -1.0f, 1.0f};
    setSceneLight(ambient, diffuse, position);
    glCullFace(GL_BACK);

    if (!tokaBall)
        tokaBall = loadSceneModel(tavara::PALLO_3DS);
    loadTextureOnce(titleTexture, tavara::VTDEMO_JPG);
}

void tokaRender(float frameTime) {
    glLoadIdentity();
    if (firstFrame == 1) {
        tokaSetup();
        firstFrame = 0;
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);

    if (inGreenOrders())
        levelRender(frameTime);

    if (inGreenOrders()) {
        const GLfloat green[4] = {0.0f, 1.0f, 0.0f, 1.0f};
        glLightfv(GL_LIGHT1, GL_DIFFUSE, green);
        drawTintedImage(ekaPulseTexture, 0.0f, 0.0f, 640.0f, 480.0f, 0.0f, 1.0f, 0.0f, 1.0f, true);
        tokaGreenFade = static_cast<float>(tokaGreenFade - frameTime * 0.0003);
        if (tokaGreenFade < 0.0f)
            tokaGreenFade = 0.0f;
    } else {
        drawTintedImage(ekaPulseTexture, 0.0f, 0.0f, 640.0f, 480.0f, 1.0f, 1.0f, 1.0f, 1.0f, false);
    }

    glLoadIdentity();
    glTranslatef(-3.0f, -2.0f, -12.0f);
    glRotatef(-90.0f, 0.0f, 1.0f, 0.0f);
    glRotatef(tokaYaw, 0.0f, 1.0f, 0.0f);
    glRotatef(tokaPitch, 1.0f, 0.0f, 0.0f);

    if (musicOrder() < 15) {
        if (musicOrder() >= 10) {
            glEnable(GL_BLEND);
            glBlendFunc(GL_ONE, GL_ONE);
        }
        tokaBall->draw();
        glDisable(GL_BLEND);
    }

    Texture* picture = nullptr;
    if (musicOrder() == 14)
        picture = ekaPulseTexture;
    else if (musicOrder() == 15)
        picture = titleTexture;
    if (picture) {
        if (musicRow() == 0) {
            for (float& pulse : tokaPulse)
                pulse = 0.0f;
        }
        drawPicturePulse(picture, tokaPulse, frameTime);
    }

    // The green fade lies both under and over the white one.
    if (inGreenOrders())
        drawFade(0.0f, 1.0f, 0.0f, tokaGreenFade);
    drawFade(1.0f, 1.0f, 1.0f, tokaWhiteFade);
    if (inGreenOrders())
        drawFade(0.0f, 1.0f, 0.0f, tokaGreenFade);

    if ((musicRow() + 8) % 16 == 0)
        tokaYaw = static_cast<float>(tokaYaw + frameTime * 0.5);
    if (musicRow() % 16 == 0)
        tokaYaw = static_cast<float>(tokaYaw - frameTime * 0.2);
    if ((musicRow() + 18) % 32 == 0)
        tokaYaw = static_cast<float>(tokaYaw + frameTime * 0.2);
    if ((musicRow() + 19) % 32 == 0)
        tokaYaw = static_cast<float>(tokaYaw - frameTime * 0.2);

    tokaPitch = static_cast<float>(tokaPitch + frameTime * 0.1);
    tokaWhiteFade = static_cast<float>(tokaWhiteFade - frameTime * 0.0006);
    if (tokaWhiteFade < 0.0f)
        tokaWhiteFade = 0.0f;
}
