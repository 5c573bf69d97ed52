// Scene "joku efu": a textured model under a dim red light whose red flashes
// to full when the music reaches an even row. In rows 0 to 31 the camera
// circles and climbs on a widening path; in rows 32 to 63 it stands and turns
// its view. Orders 24 to 29 add a picture in a quarter of the screen (first
// half of each pattern), and from order 32 one of three letters by row.
//
// Main thread, with the GL context current. Angles in degrees, world units,
// overlay rectangles in the 640 x 480 virtual screen, frameTime in ms.
#include <GL/gl.h>

#include <cmath>

#include "effects/effects.h"
#include "effects/media_files.h"
#include "effects/scene_setup.h"
#include "music/music.h"
#include "render/camera.h"
#include "render/overlay.h"
#include "resources/model.h"
#include "resources/texture.h"

namespace {

int firstFrame = 1;
Model* jokuModel = nullptr;   // "tavara\fps.3ds"
Texture* jokuImages[6] = {};  // "tavara\c1.jpg" to "tavara\c6.jpg"
Texture* jokuLetters[3] = {}; // "tavara\letter1.jpg" to "tavara\letter3.jpg"
Camera jokuOrbitCamera;       // rows 0 to 31
Camera jokuPanCamera;         // rows 32 to 63
float jokuOrbitAngle = 0.0f;  // degrees
float jokuOrbitHeight = 1.9f; // eye height of the orbit
float jokuOrbitRadius = 1.0f;
float jokuPanAngle = 0.0f; // view direction of the pan camera, degrees
float jokuFlash = 0.0f;    // red of light 1's diffuse colour, 0 to 1

const double DEGREES_TO_RADIANS = 0.01745277777777778; // 3.1415 / 180

// Where each order from 24 on lays its picture; the fourth stops 20 units
// short of the right edge.
struct QuarterPicture {
    int order;
    float x0, y0, x1, y1;
};
const QuarterPicture QUARTER_PICTURES[6] = {
    {24, 0.0f, 240.0f, 320.0f, 480.0f}, {25, 320.0f, 0.0f, 640.0f, 240.0f},
    {26, 0.0f, 0.0f, 320.0f, 240.0f},   {27, 320.0f, 240.0f, 620.0f, 480.0f},
    {28, 0.0f, 240.0f, 320.0f, 480.0f}, {29, 320.0f, 0.0f, 640.0f, 240.0f},
};

} // namespace

void jokuSetup() {
    const GLfloat ambient[4] = {0.5f, 0.05f, 0.05f, 1.0f};
    const GLfloat diffuse[4] = {1.0f, 0.05f, 0.05f, 1.0f};
    const GLfloat position[4] = {0.0f, 0.0f, -1.0f, 1.0f};
    setSceneLight(ambient, diffuse, position);
    glCullFace(GL_BACK);
    glEnable(GL_DEPTH_TEST);

    if (!jokuModel)
        jokuModel = loadSceneModel(tavara::FPS_3DS);
    for (int i = 0; i < 6; ++i)
        loadTextureOnce(jokuImages[i], tavara::C_JPG[i]);
    for (int i = 0; i < 3; ++i)
        loadTextureOnce(jokuLetters[i], tavara::LETTER_JPG[i]);
}

void jokuRender(float frameTime) {
    glLoadIdentity();
    if (firstFrame == 1) {
        firstFrame = 0;
        jokuSetup();
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    // Set with the identity modelview, so the light sits in eye space four
    // units below the viewer. The flash is last frame's value.
    const GLfloat ambient[4] = {0.5f, 0.05f, 0.05f, 1.0f};
    const GLfloat diffuse[4] = {jokuFlash, 0.1f, 0.1f, 1.0f};
    const GLfloat position[4] = {0.0f, -4.0f, 0.0f, 1.0f};
    glLightfv(GL_LIGHT1, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT1, GL_POSITION, position);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse);

    glLoadIdentity();
    glTranslatef(0.0f, -3.0f, -5.0f);

    if (musicRow() < 32) {
        const double a = jokuOrbitAngle * DEGREES_TO_RADIANS;
        jokuOrbitCamera.target = Vec3(0.0f, 1.5f, 0.0f);
        jokuOrbitCamera.eye =
            Vec3(static_cast<float>(std::sin(a) * jokuOrbitRadius), jokuOrbitHeight,
                 static_cast<float>(std::cos(a) * jokuOrbitRadius));
        jokuOrbitCamera.apply();
        jokuOrbitAngle = static_cast<float>(jokuOrbitAngle + frameTime * 0.05);
        const double d = frameTime * 0.0005;
        jokuOrbitHeight = static_cast<float>(jokuOrbitHeight + d);
        jokuOrbitRadius = static_cast<float>(jokuOrbitRadius + d);
    }
    if (musicRow() >= 32 && musicRow() <= 63) {
        const double a = jokuPanAngle * DEGREES_TO_RADIANS;
        jokuPanCamera.eye = Vec3(6.0f, 0.5f, 6.0f);
        jokuPanCamera.target = Vec3(static_cast<float>(std::sin(a) + 6.0), 0.5f,
                                    static_cast<float>(std::cos(a) + 6.0));
        jokuPanCamera.apply();
        jokuPanAngle = static_cast<float>(jokuPanAngle + frameTime * 0.02);
    }
    glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);

    // Any change of position onto an even row flashes, a change of order too.
    const int changedRow = musicRowChanged();
    if (changedRow != -1 && changedRow % 2 == 0)
        jokuFlash = 1.0f;

    jokuModel->draw();

    if (musicRow() < 32) {
        for (int i = 0; i < 6; ++i) {
            const QuarterPicture& q = QUARTER_PICTURES[i];
            if (musicOrder() == q.order)
                drawImage(jokuImages[i], q.x0, q.y0, q.x1, q.y1, 0.5f, true);
        }
    }
    if (musicOrder() >= 32) {
        for (int i = 0; i < 3; ++i) {
            if (musicRow() % 3 == i)
                drawImage(jokuLetters[i], 192.0f, 112.0f, 448.0f, 368.0f, 0.5f, true);
        }
    }

    jokuFlash = static_cast<float>(jokuFlash - frameTime * 0.007);
    if (jokuFlash < 0.0f)
        jokuFlash = 0.0f;
}
