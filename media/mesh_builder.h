// Building blocks for the show's meshes: quads, boxes and surfaces of
// revolution (lathes) added to one 3D Studio mesh, with texture coordinates.
//
// Build time, one thread. Positions in file units with +Z up (the show turns
// file +Z to its vertical). Every face is counter-clockwise seen from the side
// it faces (its front), so normals follow the right-hand rule.
#pragma once

#include <string>
#include <vector>

#include "media/tds_writer.h"

inline TdsPoint operator+(TdsPoint a, TdsPoint b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline TdsPoint operator-(TdsPoint a, TdsPoint b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline TdsPoint operator*(TdsPoint a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
TdsPoint cross(TdsPoint a, TdsPoint b);
float dot(TdsPoint a, TdsPoint b);
float length(TdsPoint a);
TdsPoint normalized(TdsPoint a);

// Faces of a box, for MeshBuilder::box.
enum BoxFace : unsigned {
    BOX_POS_X = 1,
    BOX_NEG_X = 2,
    BOX_POS_Y = 4,
    BOX_NEG_Y = 8,
    BOX_TOP = 16,
    BOX_BOTTOM = 32,
    BOX_SIDES = 15,
    BOX_ALL = 63
};

// One point of a lathe profile: radius from the axis and height along it.
// `cornerLift` raises the point along the axis on every other side (the
// corners of a lathe with an even number of sides), for upturned eaves.
struct ProfilePoint {
    float r = 0.0f;
    float z = 0.0f;
    float cornerLift = 0.0f;
};

class MeshBuilder {
  public:
    TdsMesh mesh;

    explicit MeshBuilder(const std::string& name) { mesh.name = name; }

    // Adds a vertex; returns its index.
    int vertex(TdsPoint p, float u, float v);
    void triangle(int a, int b, int c, int material);
    // A quad with four vertices of its own, corners p0..p3 counter-clockwise
    // seen from the front. Texture: (0, 0) at p0, (U, 0) at p1, (U, V) at p2,
    // (0, V) at p3, with U and V the edge lengths p0-p1 and p0-p3 times
    // uvPerUnit (so the texture keeps its scale across quads of any size).
    void quad(TdsPoint p0, TdsPoint p1, TdsPoint p2, TdsPoint p3, int material, float uvPerUnit);
    // The chosen faces of the axis-aligned box lo..hi, facing out, or into the
    // box when `inward` (rooms are boxes seen from inside).
    void box(TdsPoint lo, TdsPoint hi, int material, float uvPerUnit, bool inward,
             unsigned faces = BOX_ALL);
    // A surface of revolution of the profile (bottom to top, outer side
    // facing out) about the axis through `base` along `axis`, with `sides`
    // sides. Faceted: each side flat with vertices of its own; otherwise
    // smooth, with shared vertices. With `caps`, ends whose radius is not 0
    // are closed by flat caps (a closed profile, such as a ring's cross
    // section, needs none). Texture u runs once around (times uRepeat), v up
    // the profile.
    void lathe(const std::vector<ProfilePoint>& profile, int sides, TdsPoint base, TdsPoint axis,
               int material, bool faceted, float uRepeat = 1.0f, bool caps = true);
    // A smooth sphere (a lathe of a half circle).
    void sphere(TdsPoint centre, float radius, int slices, int stacks, int material);
    // A cylinder from a to b (smooth sides, capped ends); radii at both ends.
    void tube(TdsPoint a, TdsPoint b, float radiusA, float radiusB, int sides, int material);
};
