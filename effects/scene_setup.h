// What the setups of the lit scenes share: light 1 with the capabilities every
// lit scene needs, a model loaded once with its textures and normals, and a
// texture loaded once.
//
// Main thread, with the GL context current. Light positions are in the
// coordinates of the modelview matrix current at the call.
#pragma once

class Model;
class Texture;
struct SceneFile;

// Sets light 1's ambient and diffuse colours and its position, then enables
// light 1, lighting, 2D texturing and face culling, in that order.
void setSceneLight(const float ambient[4], const float diffuse[4], const float position[4]);

// A new model read from the mesh file; when the file is drawn textured its
// materials' textures are loaded (needs the GL context); then the normals of
// every mesh, in order. A missing file gives an empty model, which draws
// nothing.
Model* loadSceneModel(const SceneFile& mesh);

// Creates and loads the texture only while the pointer is still null, so a
// setup that runs again on a scene's first frame loads nothing twice.
void loadTextureOnce(Texture*& texture, const char* path);
