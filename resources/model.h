// A 3D Studio (.3ds) mesh file held in memory: meshes, faces, face groups by
// material, materials with their texture maps; the chunk reader that fills it.
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
    // Entries allocated in vertices, all read from the file; vertexCount never
    // exceeds it, and face corners are bounded by it.
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
    Mesh* currentMesh = nullptr;
    Material* materials[MAX_MATERIALS] = {};
    Material* currentMaterial = nullptr;
    char* mapNameTarget = nullptr;
    int meshCount = 0;
    int materialCount = 0;
    // The file being read: a bounded byte span and a read position in it.
    const unsigned char* fileData = nullptr;
    size_t fileSize = 0;
    size_t filePos = 0;
    char objectName[NAME_SIZE] = {};
    float colorScratch[3] = {};
    float percentScratch = 0.0f;
    // End of the chunk being handled: no read goes past it.
    size_t chunkEnd = 0;
    // Nesting depth of chunk runs being read (bounded against hostile files).
    int depth = 0;

    // Reads the file into the model. 0 when it cannot be opened, else 1.
    int load(const char* path);
    // Reads a file held in memory (what load does after reading the file).
    int loadFromMemory(const unsigned char* data, size_t size);
    // Loads the texture of every material in order (needs the GL context).
    void loadTextures();

    // The chunk reader. Every read stays inside the chunk being handled.
    void readString(char* dest);
    // False when fewer than 6 bytes are left in the enclosing chunk.
    bool readChunkHeader(int* id, int* length);
    void readChunks(int byteCount);
    void handleChunk(int id, int contentLength);

    // Chunk handlers, one per id of the dispatch table.
    void readColorF(int id, int contentLength);
    void readColor24(int id, int contentLength);
    void readIntPercentage(int id, int contentLength);
    void readFloatPercentage(int id, int contentLength);
    void readEditor(int id, int contentLength);
    void readObject(int id, int contentLength);
    void readTriMesh(int id, int contentLength);
    void readVertices(int id, int contentLength);
    void readFaces(int id, int contentLength);
    void readFaceMaterial(int id, int contentLength);
    void readMapping(int id, int contentLength);
    void readMaterialName(int id, int contentLength);
    void readAmbient(int id, int contentLength);
    void readDiffuse(int id, int contentLength);
    void readSpecular(int id, int contentLength);
    void readTransparency(int id, int contentLength);
    void readAdditive(int id, int contentLength);
    void readTextureMap(int id, int contentLength);
    void readMapName(int id, int contentLength);
    void readMaterial(int id, int contentLength);

    // Textured, per face group, with each material's opacity (render/).
    void draw();
    // Every face of every mesh, white, no materials (render/).
    void drawUntextured();
};

// True when every corner of the face names an entry of the mesh's vertex
// array. The array's length bounds a corner, not vertexCount: a mapping chunk
// with fewer coordinates than vertices lowers vertexCount, yet its faces are
// still drawn whole.
bool faceInVertexArray(const Mesh& mesh, const Face& face);

// The most bytes that loading a file of fileBytes bytes from memory allocates
// (loadFromMemory; load reads the file into memory first): 4 per file byte
// for arrays, plus the records that many chunks can create.
size_t modelReadBudget(size_t fileBytes);

// Frees every record that loading created (meshes, arrays, groups, materials
// and their texture name copies) and empties the model. The show never frees
// a model; tools, tests and fuzz targets do, so that leak checkers see only
// real leaks. GL texture objects are left alone.
void freeModelRecords(Model* model);
