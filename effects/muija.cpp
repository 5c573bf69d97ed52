// Scene "muija efu": a textured model under a red light over a background
// picture, seen by a camera that circles it at radius 20 while rising from far
// below to far above; a second picture is added over the frame and a dark-red
// fade clears in the first 1.7 seconds. No music synchronisation.
//
// Main thread, with the GL context current. Angles in degrees, world units,
// frameTime in milliseconds.
#include <GL/gl.h>

#include <cmath>

#include "effects/effects.h"
#include "effects/media_files.h"
#include "effects/scene_setup.h"
#include "render/camera.h"
#include "render/overlay.h"
#include "resources/model.h"
#include "resources/texture.h"

namespace {

int firstFrame = 1;
Model* muijaModel = nullptr;        // "tavara\nainen.3ds"
Texture* muijaOverlay = nullptr;    // "tavara\pimee.jpg"
Texture* muijaBackground = nullptr; // "tavara\neito.jpg"
Camera muijaCamera;
float muijaAngle = 0.0f;       // orbit angle, degrees
float muijaEyeHeight = -30.0f; // height of the eye, world units
float muijaFade = 1.0f;        // alpha of the red fade

// Degrees to radians as the show has always turned them (3.1415 / 180).
const double DEGREES_TO_RADIANS = 0.01745277777777778;

} // namespace

void muijaSetup() {
    const GLfloat ambient[4] = {0.5f, 0.05f, 0.05f, 1.0f};
    const GLfloat diffuse[4] = {1.0f, 0.05f, 0.05f, 1.0f};
    const GLfloat position[4] = {0.0f, 1.0f, -1.0f, 1.0f};
    setSceneLight(ambient, diffuse, position);
    glEnable(GL_DEPTH_TEST);
    glCullFace(GL_BACK);

    if (!muijaModel) {
        muijaModel = loadSceneModel(tavara::NAINEN_3DS);
        // The first material is drawn opaque whatever the file says; a model
        // that failed to load has no material to change.
        if (muijaModel->materialCount > 0 && muijaModel->materials[0])
            muijaModel->materials[0]->opacity = 1.0f;
    }
    loadTextureOnce(muijaOverlay, tavara::PIMEE_JPG);
    loadTextureOnce(muijaBackground, tavara::NEITO_JPG);
}

void muijaRender(float frameTime) {
    glLoadIdentity();
    if (firstFrame == 1) {
        // Earlier scenes and later setups changed light 1 and the capabilities.
        muijaSetup();
        firstFrame = 0;
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawImage(muijaBackground, 0.0f, 0.0f, 640.0f, 480.0f, 1.0f, false);

    glLoadIdentity();
    const double a = muijaAngle * DEGREES_TO_RADIANS;
    muijaCamera.eye = Vec3(static_cast<float>(std::sin(a) * 20.0), muijaEyeHeight,
                           static_cast<float>(std::cos(a) * 20.0));
    muijaCamera.target = Vec3(0.0f, 3.0f, 0.0f);
    muijaCamera.apply();
    glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
    glEnable(GL_DEPTH_TEST);
    muijaModel->draw();

    drawImage(muijaOverlay, 0.0f, 0.0f, 640.0f, 480.0f, 0.25f, true);
    drawFade(0.5f, 0.0f, 0.0f, muijaFade);

    muijaFade = static_cast<float>(muijaFade - frameTime * 0.0006);
    if (muijaFade < 0.0f)
        muijaFade = 0.0f;
    muijaEyeHeight = static_cast<float>(muijaEyeHeight + frameTime * 0.005);
    muijaAngle = static_cast<float>(muijaAngle + frameTime * 0.025);
}
