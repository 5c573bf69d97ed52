// Scene "neljas efu": one textured, lit model seen by a camera that circles it
// at radius 20 while bobbing slowly up and down. No music synchronisation.
//
// Main thread, with the GL context current. Angles in degrees, world units,
// frameTime in milliseconds.
#include <GL/gl.h>

#include <cmath>

#include "effects/effects.h"
#include "effects/media_files.h"
#include "effects/scene_setup.h"
#include "render/camera.h"
#include "resources/model.h"

namespace {

int firstFrame = 1;
Model* neljasModel = nullptr; // "tavara\fps2.3ds"
Camera neljasCamera;
float neljasAngle = 0.0f; // orbit angle, degrees, never wrapped

const double DEGREES_TO_RADIANS = 0.01745277777777778; // 3.1415 / 180
const double BOB_RATE = 0.008267105263157895;          // 3.1415 / 380

} // namespace

void neljasSetup() {
    const GLfloat ambient[4] = {0.5f, 0.5f, 0.5f, 1.0f};
    const GLfloat diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    const GLfloat position[4] = {0.0f, 1.0f, -1.0f, 1.0f};
    setSceneLight(ambient, diffuse, position);
    glEnable(GL_DEPTH_TEST);
    glCullFace(GL_BACK);

    if (!neljasModel)
        neljasModel = loadSceneModel(tavara::FPS2_3DS);
}

void neljasRender(float frameTime) {
    glLoadIdentity();
    if (firstFrame == 1) {
        // Earlier scenes changed light 1 and the capabilities; the light is
        // placed with the identity modelview, fixed to the viewer.
        neljasSetup();
        firstFrame = 0;
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();

    const double a = neljasAngle;
    neljasCamera.eye = Vec3(static_cast<float>(std::sin(a * DEGREES_TO_RADIANS) * 20.0),
                            static_cast<float>(std::sin(a * BOB_RATE) * 5.0),
                            static_cast<float>(std::cos(a * DEGREES_TO_RADIANS) * 20.0));
    neljasCamera.target = Vec3(0.0f, 0.0f, 0.0f);
    neljasCamera.apply();
    glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
    glEnable(GL_DEPTH_TEST);
    neljasModel->draw();

    neljasAngle = static_cast<float>(neljasAngle + frameTime * 0.025);
}
