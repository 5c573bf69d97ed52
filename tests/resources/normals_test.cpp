// Tests of the vector operations and of the smooth vertex normals.
//
// Test thread; no GL. Positions in arbitrary units.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "resources/model.h"

namespace {

// A mesh over caller-owned arrays.
struct TestMesh {
    std::vector<MeshVertex> vertices;
    std::vector<Face> faces;
    Mesh mesh;

    TestMesh(std::vector<Vec3> positions, std::vector<Face> corners) : faces(std::move(corners)) {
        for (const Vec3& p : positions) {
            MeshVertex v;
            v.position = p;
            vertices.push_back(v);
        }
        mesh.vertices = vertices.data();
        mesh.vertexCount = mesh.vertexCapacity = static_cast<int>(vertices.size());
        mesh.faces = faces.data();
        mesh.faceCount = static_cast<int>(faces.size());
    }
    const Vec3& normal(int i) const { return vertices[i].normal; }
};

Face face(int a, int b, int c) {
    Face f;
    f.a = static_cast<uint16_t>(a);
    f.b = static_cast<uint16_t>(b);
    f.c = static_cast<uint16_t>(c);
    return f;
}

void expectVec(const Vec3& v, float x, float y, float z) {
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
}

} // namespace

TEST(Vec3Math, CrossLengthNormalizeAdd) {
    Vec3 r;
    r.cross(Vec3(1, 0, 0), Vec3(0, 1, 0));
    expectVec(r, 0, 0, 1);
    r.cross(Vec3(0, 1, 0), Vec3(1, 0, 0));
    expectVec(r, 0, 0, -1);
    r.cross(Vec3(2, 3, 4), Vec3(5, 6, 7));
    expectVec(r, -3, 6, -3);

    EXPECT_EQ(Vec3(3, 0, 4).length(), 5.0);
    Vec3 n(3, 0, 4);
    n.normalize();
    expectVec(n, 0.6f, 0.0f, 0.8f);
    Vec3 zero;
    zero.normalize();
    expectVec(zero, 0, 0, 0);
    Vec3 nan(std::numeric_limits<float>::quiet_NaN(), 0, 0);
    nan.normalize();
    EXPECT_TRUE(std::isnan(nan.x));
    EXPECT_EQ(nan.y, 0.0f);

    Vec3 sum(1, 2, 3);
    Vec3 result = (sum += Vec3(0.5f, -2, 1));
    expectVec(sum, 1.5f, 0, 4);
    expectVec(result, 1.5f, 0, 4);
}

TEST(Normals, WindingGivesTheSide) {
    TestMesh ccw({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {face(0, 1, 2)});
    computeNormals(&ccw.mesh);
    for (int i = 0; i < 3; i++) {
        expectVec(ccw.normal(i), 0, 0, 1);
    }
    TestMesh cw({{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}, {face(0, 1, 2)});
    computeNormals(&cw.mesh);
    for (int i = 0; i < 3; i++) {
        expectVec(cw.normal(i), 0, 0, -1);
    }
}

TEST(Normals, SharedEdgeAveragesUnitFaceNormals) {
    // Face 0 in z = 0 (normal +z), face 1 in x = 0 (normal +x); vertices 0 and 1
    // are shared along the y axis.
    TestMesh mesh({{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}}, {face(0, 2, 1), face(0, 1, 3)});
    computeNormals(&mesh.mesh);
    expectVec(mesh.normal(0), 0.70710677f, 0, 0.70710677f);
    expectVec(mesh.normal(1), 0.70710677f, 0, 0.70710677f);
    expectVec(mesh.normal(2), 0, 0, 1);
    expectVec(mesh.normal(3), 1, 0, 0);

    // A second call gives the same directions.
    computeNormals(&mesh.mesh);
    EXPECT_FLOAT_EQ(mesh.normal(0).x, 0.70710677f);
    EXPECT_FLOAT_EQ(mesh.normal(0).z, 0.70710677f);
}

TEST(Normals, AreaDoesNotWeigh) {
    // A large triangle in z = 0 and a tiny one in x = 0 meet at vertex 0.
    TestMesh mesh({{0, 0, 0}, {100, 0, 0}, {0, 100, 0}, {0, 0.01f, 0}, {0, 0, 0.01f}},
                  {face(0, 1, 2), face(0, 3, 4)});
    computeNormals(&mesh.mesh);
    EXPECT_FLOAT_EQ(mesh.normal(0).x, 0.70710677f);
    EXPECT_FLOAT_EQ(mesh.normal(0).z, 0.70710677f);
    EXPECT_EQ(mesh.normal(0).y, 0.0f);
}

TEST(Normals, DegenerateUnusedAndBrokenFaces) {
    float huge = 3e38f;
    TestMesh mesh({{0, 0, 0},
                   {1, 0, 0},
                   {0, 1, 0},
                   {5, 5, 5},
                   {7, 7, 7},
                   {2, 2, 2},
                   {huge, 0, 0},
                   {0, huge, 0},
                   {-huge, -huge, 0}},
                  {face(0, 1, 2), face(4, 4, 4), face(0, 3, 1), face(0, 1, 40), face(6, 7, 8)});
    // Face 3 names vertex 40 of 9 and is left out.
    computeNormals(&mesh.mesh);
    expectVec(mesh.normal(4), 0, 0, 0); // only a one-point face
    expectVec(mesh.normal(5), 0, 0, 0); // unused
    for (int i = 6; i < 9; i++) {       // an overflowing face adds nothing
        EXPECT_TRUE(std::isfinite(mesh.normal(i).x) && std::isfinite(mesh.normal(i).z));
        expectVec(mesh.normal(i), 0, 0, 0);
    }
    expectVec(mesh.normal(2), 0, 0, 1);

    Mesh empty;
    computeNormals(&empty); // no vertices, no faces: nothing to touch
    EXPECT_EQ(empty.vertexCount, 0);
}
