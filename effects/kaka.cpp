// Scene "kaka efu": six flickering, jittered copies of a fire picture over the
// title picture, and over them a lit, untextured model seen from straight
// ahead that turns in jerks on chosen rows of each pattern; a white fade
// covers the start and the flicker fades in across the whole scene.
//
// Main thread, with the GL context current. Angles in degrees, overlay
// rectangles in the 640 x 480 virtual screen, frameTime in milliseconds.
#include <GL/gl.h>

#include "effects/demo_rand.h"
#include "effects/effects.h"
#include "effects/media_files.h"
#include "effects/scene_setup.h"
#include "music/music.h"
#include "render/overlay.h"
#include "resources/model.h"
#include "resources/texture.h"

namespace {

int firstFrame = 1;
Model* kakaModel = nullptr;          // "tavara\kiina.3ds", drawn untextured
Texture* kakaLayerTexture = nullptr; // "tavara\tulimeri.jpg"
float kakaSpin = 0.0f;               // turn of the model, degrees
float kakaFade = 1.0f;               // alpha of the white fade
float kakaLayerAlpha = 0.0f;         // scales the random alpha of the layers, 0 to 1

const int LAYER_COUNT = 6;

} // namespace

void kakaSetup() {
    const GLfloat ambient[4] = {0.5f, 0.5f, 1.0f, 1.0f};
    const GLfloat diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    const GLfloat position[4] = {0.0f, 1.0f, -1.0f, 1.0f};
    setSceneLight(ambient, diffuse, position);
    glCullFace(GL_BACK);

    // No textures: the model is only ever drawn untextured.
    if (!kakaModel)
        kakaModel = loadSceneModel(tavara::KIINA_3DS);
    loadTextureOnce(kakaLayerTexture, tavara::TULIMERI_JPG);
}

void kakaRender(float frameTime) {
    glLoadIdentity();
    if (firstFrame == 1) {
        kakaSetup();
        firstFrame = 0;
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawImage(titleTexture, 0.0f, 0.0f, 640.0f, 480.0f, 0.75f, false);

    for (int layer = 0; layer < LAYER_COUNT; ++layer) {
        // Five draws in a fixed order: the jitter must not depend on the
        // compiler's order of evaluating arguments.
        const int alphaDraw = demoRand() % 1000;
        const float alpha = static_cast<float>(static_cast<double>(alphaDraw) * kakaLayerAlpha *
                                               static_cast<double>(0.001f));
        const float y1 = static_cast<float>(480 + demoRand() % 6);
        const float x1 = static_cast<float>(640 + demoRand() % 6);
        const float y0 = static_cast<float>(-(demoRand() % 6));
        const float x0 = static_cast<float>(-(demoRand() % 6));
        drawImage(kakaLayerTexture, x0, y0, x1, y1, alpha, true);
    }

    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -80.0f);
    glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
    glRotatef(kakaSpin, 0.0f, 0.0f, 1.0f);
    glEnable(GL_DEPTH_TEST);
    kakaModel->drawUntextured();

    drawFade(1.0f, 1.0f, 1.0f, kakaFade);

    if ((musicRow() + 8) % 16 == 0)
        kakaSpin = static_cast<float>(kakaSpin + frameTime * 0.5);
    if (musicRow() % 16 == 0)
        kakaSpin = static_cast<float>(kakaSpin - frameTime * 0.3);
    if ((musicRow() + 18) % 32 == 0)
        kakaSpin = static_cast<float>(kakaSpin + frameTime * 0.3);
    if ((musicRow() + 19) % 32 == 0)
        kakaSpin = static_cast<float>(kakaSpin - frameTime * 0.3);

    kakaFade = static_cast<float>(kakaFade - frameTime * 0.0006);
    if (kakaFade < 0.0f)
        kakaFade = 0.0f;
    kakaLayerAlpha = static_cast<float>(kakaLayerAlpha + frameTime * 0.00005);
    if (kakaLayerAlpha > 1.0f)
        kakaLayerAlpha = 1.0f;
}
