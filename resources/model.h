// A 3D Studio (.3ds) mesh file held in memory: meshes, faces, face groups by
// material, materials with their texture maps. The chunk reader that fills it
// is private to model.cpp; Model::load and Model::loadFromMemory start it.
//
// Main thread. Positions are in the file's units; drawing scales them by
// MODEL_SCALE. Records are created once and never freed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "resources/texture.h"
#include "resources/vec3.h"

constexpr int NAME_SIZE = 80;
constexpr int MAX_MESHES = 1000;
constexpr int MAX_MATERIALS = 1000;
constexpr int MAX_FACE_GROUPS = 100;
constexpr unsigned int MATERIAL_HAS_TEXTURE = 1;
constexpr double MODEL_SCALE = 0.09;

class Face {
  public:
    uint16_t a = 0;
    uint16_t b = 0;
    uint16_t c = 0;
};

class MeshVertex {
  public:
    Vec3 position;
    Vec3 normal;
    float u = 0.0f;
    float v = 0.0f;
};

class FaceGroup {
  public:
    int materialIndex = 0;
    int faceCount = 0;
    Face* faces = nullptr;
};

class Mesh {
  public:
    char name[NAME_SIZE] = {};
    int faceCount = 0;
    int vertexCount = 0;
    int groupCount = 0;
    Face* faces = nullptr;
    MeshVertex* vertices = nullptr;
    FaceGroup* groups[MAX_FACE_GROUPS] = {};
    // Entries allocated in vertices, all read from the file. Kept beside
    // vertexCount for memory safety: a mapping chunk overwrites vertexCount,
    // so only this length can bound face corners; vertexCount never exceeds it.
    int vertexCapacity = 0;
};

class Material {
  public:
    unsigned int flags = 0;
    char name[NAME_SIZE] = {};
    float ambient[3] = {};
    float diffuse[3] = {};
    float specular[3] = {};
    float opacity = 1.0f;
    unsigned char additive = 0;
    char mapName[NAME_SIZE] = {};
    Texture texture;

    // Loads the texture map when the material has one.
    void loadTexture();
};

class Model {
  public:
    Mesh* meshes[MAX_MESHES] = {};
    // The mesh that vertex, face, face-material and mapping chunks fill.
    Mesh* currentMesh = nullptr;
    Material* materials[MAX_MATERIALS] = {};
    // The material that material sub-chunks fill.
    Material* currentMaterial = nullptr;
    // The buffer the next map-file-name chunk fills.
    char* mapNameTarget = nullptr;
    int meshCount = 0;
    int materialCount = 0;
    // The file itself is not kept here: the reader in model.cpp holds the
    // bytes, its read position and the chunk bounds only while it runs.

    // Name of the object chunk read last; copied into each mesh made inside it.
    char objectName[NAME_SIZE] = {};
    // The colour and percentage read last, for the chunk that holds them.
    float colorScratch[3] = {};
    float percentScratch = 0.0f;

    // Reads the file into the model. 0 when it cannot be opened, else 1.
    int load(const char* path);
    // Reads a file held in memory (what load does after reading the file), so
    // that tests and fuzz targets parse exactly what the show parses; never
    // reads outside [data, data + size).
    int loadFromMemory(const unsigned char* data, size_t size);
    // Loads the texture of every material in order (needs the GL context).
    void loadTextures();

    // Drawing is the rendering subsystem's: both are defined in
    // render/model_draw.cpp, which links GL, and are declared here only
    // because they are members of Model.
    // Textured, per face group, with each material's opacity.
    void draw();
    // Every face of every mesh, white, no materials.
    void drawUntextured();
};

// True when every corner of the face names an entry of the mesh's vertex
// array. The array's length bounds a corner, not vertexCount: a mapping chunk
// with fewer coordinates than vertices lowers vertexCount, yet its faces are
// still drawn whole.
bool faceInVertexArray(const Mesh& mesh, const Face& face);

// The most bytes that loading a file of fileBytes bytes from memory allocates
// (loadFromMemory; load reads the file into memory first): 4 per file byte
// for arrays, plus the records that many chunks can create. Published so that
// the fuzz target can hold the reader to it: a small hostile file must not
// make the reader allocate what its counts only claim.
size_t modelReadBudget(size_t fileBytes);

// Frees every record that loading created (meshes, arrays, groups, materials
// and their texture name copies) and empties the model. The show never frees
// a model; tools, tests and fuzz targets do, so that leak checkers see only
// real leaks. GL texture objects are left alone.
void freeModelRecords(Model* model);
