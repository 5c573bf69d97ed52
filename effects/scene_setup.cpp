// The lit scenes' shared setup steps (see scene_setup.h).
//
// Main thread, with the GL context current.
#include "effects/scene_setup.h"

#include <GL/gl.h>

#include "effects/media_files.h"
#include "resources/model.h"
#include "resources/texture.h"

void setSceneLight(const float ambient[4], const float diffuse[4], const float position[4]) {
    glLightfv(GL_LIGHT1, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT1, GL_POSITION, position);
    glEnable(GL_LIGHT1);
    glEnable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_CULL_FACE);
}

Model* loadSceneModel(const SceneFile& mesh) {
    Model* model = new Model;
    model->load(mesh.path);
    if (mesh.textured)
        model->loadTextures();
    for (int i = 0; i < model->meshCount; ++i)
        computeNormals(model->meshes[i]);
    return model;
}

void loadTextureOnce(Texture*& texture, const char* path) {
    if (texture)
        return;
    texture = new Texture;
    texture->load(path);
}
