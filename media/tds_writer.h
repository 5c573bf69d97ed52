// Writer of 3D Studio mesh files (.3ds): the main chunk, the editor chunk,
// material entries (name, ambient/diffuse/specular colours, transparency,
// additive flag, texture map with its file name) and named objects holding a
// triangle mesh (vertices, faces, face-material groups, mapping coordinates).
//
// Build time, one thread. Positions are in file units (the show draws them
// scaled by 0.09, with file +Z up); colours are 8-bit; transparency is a
// percentage.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Limits of the format as the show reads it.
constexpr int TDS_MAX_COUNT = 32767; // vertices, faces, mapping coordinates per mesh
constexpr int TDS_MAX_NAME = 79;     // characters in a name or map file name
constexpr int TDS_MAX_GROUPS = 100;  // face-material groups per mesh
constexpr int TDS_MAX_MATERIALS = 1000;
constexpr int TDS_MAX_MESHES = 1000;

// Chunk ids.
constexpr uint16_t TDS_MAIN = 0x4D4D;
constexpr uint16_t TDS_VERSION = 0x0002;
constexpr uint16_t TDS_EDITOR = 0x3D3D;
constexpr uint16_t TDS_MESH_VERSION = 0x3D3E;
constexpr uint16_t TDS_COLOR_24 = 0x0011;
constexpr uint16_t TDS_INT_PERCENTAGE = 0x0030;
constexpr uint16_t TDS_NAMED_OBJECT = 0x4000;
constexpr uint16_t TDS_TRI_MESH = 0x4100;
constexpr uint16_t TDS_VERTICES = 0x4110;
constexpr uint16_t TDS_FACES = 0x4120;
constexpr uint16_t TDS_FACE_MATERIAL = 0x4130;
constexpr uint16_t TDS_MAPPING = 0x4140;
constexpr uint16_t TDS_MAT_NAME = 0xA000;
constexpr uint16_t TDS_MAT_AMBIENT = 0xA010;
constexpr uint16_t TDS_MAT_DIFFUSE = 0xA020;
constexpr uint16_t TDS_MAT_SPECULAR = 0xA030;
constexpr uint16_t TDS_MAT_TRANSPARENCY = 0xA050;
constexpr uint16_t TDS_MAT_ADDITIVE = 0xA083;
constexpr uint16_t TDS_MAT_TEXMAP = 0xA200;
constexpr uint16_t TDS_MAT_MAPNAME = 0xA300;
constexpr uint16_t TDS_MAT_ENTRY = 0xAFFF;

struct TdsColor {
    uint8_t r = 255;
    uint8_t g = 255;
    uint8_t b = 255;
};

struct TdsMaterial {
    std::string name;
    TdsColor ambient;
    TdsColor diffuse;
    TdsColor specular;
    int transparencyPercent = 0; // 0..100; 0 writes no transparency chunk
    bool additive = false;
    std::string mapName; // empty: no texture map
};

struct TdsPoint {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

struct TdsUv {
    float u = 0.0f;
    float v = 0.0f; // 3D Studio convention: v = 1 is the top row of the picture
};

// Corners counter-clockwise seen from the front; material indexes the
// material list given to writeTds.
struct TdsFace {
    uint16_t a = 0;
    uint16_t b = 0;
    uint16_t c = 0;
    int material = 0;
};

struct TdsMesh {
    std::string name;
    std::vector<TdsPoint> positions;
    std::vector<TdsUv> uvs; // empty, or one per position
    std::vector<TdsFace> faces;
};

// Serialises the materials and meshes. Every face goes into the face-material
// group of its material (groups in material order). False with a reason in
// *error when anything breaks the format's limits or would not read back as
// written: counts over TDS_MAX_COUNT, names empty or longer than TDS_MAX_NAME,
// a material whose name an earlier material's name begins with, duplicates
// included (the reader gives a group the first material whose name begins
// with the group's name, so that material would take its faces), face
// corners or materials out of range, a uv list of the wrong length, more
// than TDS_MAX_GROUPS materials in one mesh, a transparency outside 0..100.
bool writeTds(const std::vector<TdsMaterial>& materials, const std::vector<TdsMesh>& meshes,
              std::vector<unsigned char>* out, std::string* error);
