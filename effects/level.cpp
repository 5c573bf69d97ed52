// The level layer drawn under "toka efu" in orders 10 to 14: a textured model
// whose first two meshes carry tiled textures that scroll by a fixed step per
// call, shaken by a small random turn about the vertical every call.
//
// Main thread, with the GL context current. Texture coordinates in repeats,
// angles in degrees; the motion is per call, not per millisecond.
#include <GL/gl.h>

#include <algorithm>

#include "effects/demo_rand.h"
#include "effects/effects.h"
#include "effects/media_files.h"
#include "effects/scene_setup.h"
#include "resources/model.h"

namespace {

Model* levelModel = nullptr; // "tavara\level.3ds"

// The file supplies two such meshes; a shorter file simply has fewer.
const int SCROLLED_MESHES = 2;
const int SCROLLED_VERTICES = 121;

Mesh* scrolledMesh(int index) {
    if (!levelModel || index >= levelModel->meshCount)
        return nullptr;
    Mesh* mesh = levelModel->meshes[index];
    return mesh && mesh->vertices ? mesh : nullptr;
}

// One step of the scroll; a coordinate past 10 starts again at 0.
float scrollCoordinate(float value) {
    value = static_cast<float>(value + 0.01);
    return value > 10.0f ? 0.0f : value;
}

} // namespace

void levelSetup() {
    const GLfloat ambient[4] = {0.5f, 0.05f, 0.05f, 1.0f};
    const GLfloat diffuse[4] = {1.0f, 1.0f, 0.85f, 1.0f};
    const GLfloat position[4] = {0.0f, 1.0f, -1.0f, 1.0f};
    setSceneLight(ambient, diffuse, position);
    glCullFace(GL_BACK);

    if (!levelModel) {
        levelModel = loadSceneModel(tavara::LEVEL_3DS);
        // Each texture repeats ten times across the grid.
        for (int m = 0; m < SCROLLED_MESHES; ++m) {
            Mesh* mesh = scrolledMesh(m);
            if (!mesh)
                continue;
            for (int i = 0; i < mesh->vertexCount; ++i) {
                mesh->vertices[i].u *= 10.0f;
                mesh->vertices[i].v *= 10.0f;
            }
        }
    }
}

void levelRender(float frameTime) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glDisable(GL_CULL_FACE);
    glTranslatef(0.0f, -0.18f, 0.0f);

    // r is -50 to 449, so the turn is -35 degrees for almost a third of the
    // calls and -31 for a tenth.
    const int r = demoRand() % 500 - 50;
    const int j = static_cast<int>(r * static_cast<double>(0.01f));
    glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
    glRotatef(static_cast<float>(j - 35), 0.0f, 1.0f, 0.0f);

    if (!levelModel)
        return; // levelSetup never ran: nothing to draw or scroll
    levelModel->draw();

    for (int m = 0; m < SCROLLED_MESHES; ++m) {
        Mesh* mesh = scrolledMesh(m);
        if (!mesh)
            continue;
        const int count = std::min(SCROLLED_VERTICES, mesh->vertexCount);
        for (int i = 0; i < count; ++i) {
            mesh->vertices[i].u = scrollCoordinate(mesh->vertices[i].u);
            mesh->vertices[i].v = scrollCoordinate(mesh->vertices[i].v);
        }
    }
}

Model* levelLoadedModel() {
    return levelModel;
}
