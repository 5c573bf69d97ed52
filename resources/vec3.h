// Three-float vector used for vertex positions and normals, and the normal
// computation of a loaded mesh.
//
// Load time only, main thread. Units are those of the mesh file.
#pragma once

class Mesh;

class Vec3 {
  public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    Vec3() = default;
    Vec3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    Vec3 operator+=(const Vec3& other);
    // Sets this vector to a x b.
    void cross(const Vec3& a, const Vec3& b);
    // sqrt(x*x + y*y + z*z) in double precision.
    double length() const;
    // Scales to unit length; a zero (or NaN) length leaves the vector unchanged.
    void normalize();
};

// Gives every vertex of the mesh the normalised sum of the unit normals of the
// faces that use it. Normals are expected to start at (0, 0, 0).
void computeNormals(Mesh* mesh);
