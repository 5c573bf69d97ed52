// Geometry helpers of the mesh generator.
//
// Build time, one thread. File units, +Z up; faces counter-clockwise from the
// front.
#include "media/mesh_builder.h"

#include <cmath>

namespace {

const float TWO_PI = 6.28318530718f;

// Two unit vectors that make a right-handed frame (e1, e2, axis).
void frameFor(TdsPoint axis, TdsPoint* e1, TdsPoint* e2) {
    const TdsPoint helper =
        std::fabs(axis.z) < 0.9f ? TdsPoint{0.0f, 0.0f, 1.0f} : TdsPoint{1.0f, 0.0f, 0.0f};
    if (std::fabs(axis.z) >= 0.9f && axis.z > 0.0f) {
        // The common case, a vertical axis: keep x and y as they are.
        *e1 = {1.0f, 0.0f, 0.0f};
        *e2 = {0.0f, 1.0f, 0.0f};
        return;
    }
    *e1 = normalized(cross(helper, axis));
    *e2 = cross(axis, *e1);
}

} // namespace

TdsPoint cross(TdsPoint a, TdsPoint b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float dot(TdsPoint a, TdsPoint b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

float length(TdsPoint a) {
    return std::sqrt(dot(a, a));
}

TdsPoint normalized(TdsPoint a) {
    const float len = length(a);
    return len > 0.0f ? a * (1.0f / len) : a;
}

int MeshBuilder::vertex(TdsPoint p, float u, float v) {
    mesh.positions.push_back(p);
    mesh.uvs.push_back({u, v});
    return static_cast<int>(mesh.positions.size()) - 1;
}

void MeshBuilder::triangle(int a, int b, int c, int material) {
    mesh.faces.push_back(
        {static_cast<uint16_t>(a), static_cast<uint16_t>(b), static_cast<uint16_t>(c), material});
}

void MeshBuilder::quad(TdsPoint p0, TdsPoint p1, TdsPoint p2, TdsPoint p3, int material,
                       float uvPerUnit) {
    const float U = length(p1 - p0) * uvPerUnit;
    const float V = length(p3 - p0) * uvPerUnit;
    const int a = vertex(p0, 0.0f, 0.0f);
    const int b = vertex(p1, U, 0.0f);
    const int c = vertex(p2, U, V);
    const int d = vertex(p3, 0.0f, V);
    triangle(a, b, c, material);
    triangle(a, c, d, material);
}

void MeshBuilder::box(TdsPoint lo, TdsPoint hi, int material, float uvPerUnit, bool inward,
                      unsigned faces) {
    const float x0 = lo.x, y0 = lo.y, z0 = lo.z;
    const float x1 = hi.x, y1 = hi.y, z1 = hi.z;
    // Each face's corners counter-clockwise seen from outside the box.
    const TdsPoint corners[6][4] = {
        {{x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}, {x1, y0, z1}}, // +X
        {{x0, y1, z0}, {x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}}, // -X
        {{x1, y1, z0}, {x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}}, // +Y
        {{x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}, {x0, y0, z1}}, // -Y
        {{x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}}, // top
        {{x1, y0, z0}, {x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}}, // bottom
    };
    for (int f = 0; f < 6; ++f) {
        if ((faces & (1u << f)) == 0)
            continue;
        const TdsPoint* c = corners[f];
        if (inward)
            quad(c[1], c[0], c[3], c[2], material, uvPerUnit);
        else
            quad(c[0], c[1], c[2], c[3], material, uvPerUnit);
    }
}

void MeshBuilder::lathe(const std::vector<ProfilePoint>& profile, int sides, TdsPoint base,
                        TdsPoint axis, int material, bool faceted, float uRepeat, bool caps) {
    if (profile.size() < 2 || sides < 3)
        return;
    axis = normalized(axis);
    TdsPoint e1, e2;
    frameFor(axis, &e1, &e2);

    // Texture v follows the profile's length, 0 at the bottom, 1 at the top.
    std::vector<float> arc(profile.size(), 0.0f);
    for (size_t i = 1; i < profile.size(); ++i) {
        const float dr = profile[i].r - profile[i - 1].r;
        const float dz = profile[i].z - profile[i - 1].z;
        arc[i] = arc[i - 1] + std::sqrt(dr * dr + dz * dz);
    }
    const float total = arc.back() > 0.0f ? arc.back() : 1.0f;

    auto point = [&](size_t i, int k) {
        const float angle = TWO_PI * static_cast<float>(k) / static_cast<float>(sides);
        const float lift = (k % 2 == 0) ? profile[i].cornerLift : 0.0f;
        const TdsPoint radial = e1 * std::cos(angle) + e2 * std::sin(angle);
        return base + axis * (profile[i].z + lift) + radial * profile[i].r;
    };
    auto uAt = [&](int k) { return uRepeat * static_cast<float>(k) / static_cast<float>(sides); };

    if (faceted) {
        for (size_t i = 0; i + 1 < profile.size(); ++i) {
            for (int k = 0; k < sides; ++k) {
                const int a = vertex(point(i, k), uAt(k), arc[i] / total);
                const int b = vertex(point(i, k + 1), uAt(k + 1), arc[i] / total);
                const int c = vertex(point(i + 1, k + 1), uAt(k + 1), arc[i + 1] / total);
                const int d = vertex(point(i + 1, k), uAt(k), arc[i + 1] / total);
                if (profile[i].r > 0.0f)
                    triangle(a, b, c, material);
                if (profile[i + 1].r > 0.0f)
                    triangle(a, c, d, material);
            }
        }
    } else {
        const int first = static_cast<int>(mesh.positions.size());
        const int stride = sides + 1; // the seam column is doubled for the texture
        for (size_t i = 0; i < profile.size(); ++i)
            for (int k = 0; k <= sides; ++k)
                vertex(point(i, k), uAt(k), arc[i] / total);
        for (size_t i = 0; i + 1 < profile.size(); ++i) {
            for (int k = 0; k < sides; ++k) {
                const int a = first + static_cast<int>(i) * stride + k;
                const int d = a + stride;
                if (profile[i].r > 0.0f)
                    triangle(a, a + 1, d + 1, material);
                if (profile[i + 1].r > 0.0f)
                    triangle(a, d + 1, d, material);
            }
        }
    }

    // Caps: a fan around the centre of each open end.
    if (!caps)
        return;
    const ProfilePoint& bottom = profile.front();
    if (bottom.r > 0.0f) {
        const int centre = vertex(base + axis * bottom.z, 0.5f, 0.5f);
        for (int k = 0; k < sides; ++k) {
            const int a = vertex(point(0, k), 0.5f, 0.5f);
            const int b = vertex(point(0, k + 1), 0.5f, 0.5f);
            triangle(centre, b, a, material); // facing down the axis
        }
    }
    const ProfilePoint& top = profile.back();
    if (top.r > 0.0f) {
        const size_t last = profile.size() - 1;
        const int centre = vertex(base + axis * top.z, 0.5f, 0.5f);
        for (int k = 0; k < sides; ++k) {
            const int a = vertex(point(last, k), 0.5f, 0.5f);
            const int b = vertex(point(last, k + 1), 0.5f, 0.5f);
            triangle(centre, a, b, material); // facing up the axis
        }
    }
}

void MeshBuilder::sphere(TdsPoint centre, float radius, int slices, int stacks, int material) {
    std::vector<ProfilePoint> profile;
    for (int i = 0; i <= stacks; ++i) {
        const float phi = 3.14159265f * static_cast<float>(i) / static_cast<float>(stacks);
        // Exact zeros at the poles, so the lathe closes them with single triangles.
        const float r = (i == 0 || i == stacks) ? 0.0f : radius * std::sin(phi);
        profile.push_back({r, -radius * std::cos(phi), 0.0f});
    }
    lathe(profile, slices, centre, {0.0f, 0.0f, 1.0f}, material, false);
}

void MeshBuilder::tube(TdsPoint a, TdsPoint b, float radiusA, float radiusB, int sides,
                       int material) {
    const float len = length(b - a);
    if (len <= 0.0f)
        return;
    lathe({{radiusA, 0.0f, 0.0f}, {radiusB, len, 0.0f}}, sides, a, b - a, material, false);
}
