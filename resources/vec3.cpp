// Vector operations and the smooth vertex normals of a loaded mesh.
//
// Main thread, at load time only. Positions are in the mesh file's units;
// normals are unit vectors, or (0, 0, 0) where no face gives a direction.
#include "resources/vec3.h"

#include <cmath>

#include "resources/model.h"

Vec3 Vec3::operator+=(const Vec3& other) {
    x += other.x;
    y += other.y;
    z += other.z;
    return *this;
}

void Vec3::cross(const Vec3& a, const Vec3& b) {
    x = a.y * b.z - a.z * b.y;
    y = a.z * b.x - a.x * b.z;
    z = a.x * b.y - a.y * b.x;
}

double Vec3::length() const {
    double dx = x;
    double dy = y;
    double dz = z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

void Vec3::normalize() {
    double len = length();
    // A zero or NaN length has no direction to keep; the vector stays as it is.
    if (len == 0.0 || std::isnan(len)) {
        return;
    }
    double reciprocal = 1.0 / len;
    x = static_cast<float>(x * reciprocal);
    y = static_cast<float>(y * reciprocal);
    z = static_cast<float>(z * reciprocal);
}

void computeNormals(Mesh* mesh) {
    if (!mesh || !mesh->vertices) {
        return;
    }
    // Faces are checked against the vertex array again here, because a mesh's
    // counts may change between loading and its normals.
    for (int i = 0; i < mesh->faceCount && mesh->faces; i++) {
        const Face& face = mesh->faces[i];
        if (!faceInVertexArray(*mesh, face)) {
            continue;
        }
        const Vec3& pa = mesh->vertices[face.a].position;
        const Vec3& pb = mesh->vertices[face.b].position;
        const Vec3& pc = mesh->vertices[face.c].position;
        Vec3 e1(pb.x - pa.x, pb.y - pa.y, pb.z - pa.z);
        Vec3 e2(pc.x - pa.x, pc.y - pa.y, pc.z - pa.z);
        Vec3 n;
        n.cross(e1, e2);
        n.normalize();
        // Positions so large (or NaN) that the cross product overflowed give no
        // usable direction: such a face contributes nothing, like a degenerate one.
        if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z)) {
            continue;
        }
        mesh->vertices[face.a].normal += n;
        mesh->vertices[face.b].normal += n;
        mesh->vertices[face.c].normal += n;
    }
    // Every vertex a face may use, also those past a count that a short
    // mapping chunk lowered: they are drawn too.
    for (int i = 0; i < mesh->vertexCapacity; i++) {
        mesh->vertices[i].normal.normalize();
    }
}
