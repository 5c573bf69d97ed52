// Tests of the vector operations and of the smooth vertex normals.
//
// Test thread; no GL. Positions in arbitrary units.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "resources/model.h"

namespace {

const float R = 0.70710677f; // 1 / sqrt(2)

// A mesh over owned arrays; faces as flat corner triples.
struct TestMesh {
    std::vector<MeshVertex> vertices;
    std::vector<Face> faces;
    Mesh mesh;

    TestMesh(const std::vector<Vec3>& positions, const std::vector<int>& corners) {
        vertices.resize(positions.size());
        for (size_t i = 0; i < positions.size(); i++) {
            vertices[i].position = positions[i];
        }
        for (size_t i = 0; i + 2 < corners.size(); i += 3) {
            faces.push_back(
                Face{uint16_t(corners[i]), uint16_t(corners[i + 1]), uint16_t(corners[i + 2])});
        }
        mesh.vertices = vertices.data();
        mesh.vertexCount = mesh.vertexCapacity = static_cast<int>(vertices.size());
        mesh.faces = faces.data();
        mesh.faceCount = static_cast<int>(faces.size());
        computeNormals(&mesh);
    }
    const Vec3& normal(int i) const { return vertices[i].normal; }
};

void expectVec(const Vec3& v, float x, float y, float z) {
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
}

} // namespace

TEST(Vec3Math, CrossLengthNormalizeAdd) {
    Vec3 r;
    r.cross(Vec3(1, 0, 0), Vec3(0, 1, 0));
    expectVec(r, 0, 0, 1);
    r.cross(Vec3(2, 3, 4), Vec3(5, 6, 7));
    expectVec(r, -3, 6, -3);
    EXPECT_EQ(Vec3(3, 0, 4).length(), 5.0);
    Vec3 n(3, 0, 4);
    n.normalize();
    expectVec(n, 0.6f, 0.0f, 0.8f);
    Vec3 zero; // a zero vector stays zero instead of turning into NaN
    zero.normalize();
    expectVec(zero, 0, 0, 0);
    Vec3 sum(1, 2, 3);
    Vec3 result = (sum += Vec3(0.5f, -2, 1));
    expectVec(sum, 1.5f, 0, 4);
    expectVec(result, 1.5f, 0, 4);
}

TEST(Normals, WindingSharingAndArea) {
    // Winding gives the side.
    TestMesh ccw({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    TestMesh cw({{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}, {0, 1, 2});
    for (int i = 0; i < 3; i++) {
        expectVec(ccw.normal(i), 0, 0, 1);
        expectVec(cw.normal(i), 0, 0, -1);
    }
    // Face 0 in z = 0 (normal +z), face 1 in x = 0 (normal +x), sharing the
    // vertices 0 and 1 along the y axis: unit face normals are averaged.
    TestMesh shared({{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}}, {0, 2, 1, 0, 1, 3});
    expectVec(shared.normal(0), R, 0, R);
    expectVec(shared.normal(1), R, 0, R);
    expectVec(shared.normal(2), 0, 0, 1);
    expectVec(shared.normal(3), 1, 0, 0);
    // A second call gives the same directions.
    computeNormals(&shared.mesh);
    expectVec(shared.normal(0), R, 0, R);

    // Area does not weigh: a large triangle in z = 0 and a tiny one in x = 0.
    TestMesh area({{0, 0, 0}, {100, 0, 0}, {0, 100, 0}, {0, 0.01f, 0}, {0, 0, 0.01f}},
                  {0, 1, 2, 0, 3, 4});
    expectVec(area.normal(0), R, 0, R);
}

TEST(Normals, DegenerateUnusedAndBrokenFaces) {
    float huge = 3e38f;
    // Face 3 names vertex 40 of 9 and is left out; face 4 overflows.
    TestMesh mesh({{0, 0, 0},
                   {1, 0, 0},
                   {0, 1, 0},
                   {5, 5, 5},
                   {7, 7, 7},
                   {2, 2, 2},
                   {huge, 0, 0},
                   {0, huge, 0},
                   {-huge, -huge, 0}},
                  {0, 1, 2, 4, 4, 4, 0, 3, 1, 0, 1, 40, 6, 7, 8});
    expectVec(mesh.normal(4), 0, 0, 0); // only a one-point face
    expectVec(mesh.normal(5), 0, 0, 0); // unused
    for (int i = 6; i < 9; i++) {       // an overflowing face adds nothing
        expectVec(mesh.normal(i), 0, 0, 0);
    }
    expectVec(mesh.normal(2), 0, 0, 1);

    Mesh empty;
    computeNormals(&empty); // no vertices, no faces: nothing to touch
    EXPECT_EQ(empty.vertexCount, 0);
}
