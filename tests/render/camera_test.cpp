// Tests of Camera::apply by where the modelview matrix it leaves sends chosen
// world points: the eye to the origin, the look-at point onto the -Z axis, and
// up (+Y) into the Y-Z plane.
//
// Main thread; world units.
#include "render/camera.h"

#include <cmath>

#include "render_fixture.h"

namespace {

// The eye-space position of a world point under the current modelview matrix.
std::array<double, 3> toEye(double x, double y, double z) {
    double m[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, m);
    return {m[0] * x + m[4] * y + m[8] * z + m[12], m[1] * x + m[5] * y + m[9] * z + m[13],
            m[2] * x + m[6] * y + m[10] * z + m[14]};
}

void expectNear(const std::array<double, 3>& got, double x, double y, double z) {
    EXPECT_NEAR(got[0], x, 1e-4);
    EXPECT_NEAR(got[1], y, 1e-4);
    EXPECT_NEAR(got[2], z, 1e-4);
}

using CameraApply = RenderTest;

TEST_F(CameraApply, LooksFromTheEyeAtTheTargetOrAtTheEyePlusTarget) {
    Camera fresh;
    EXPECT_EQ(fresh.eye.x + fresh.eye.y + fresh.eye.z, 0.0f);
    EXPECT_EQ(fresh.target.x + fresh.target.y + fresh.target.z, 0.0f);
    EXPECT_FALSE(fresh.relative);

    struct Case {
        Vec3 eye, target;
        bool relative;
        Vec3 lookAt;
    };
    const Case cases[] = {{Vec3(20, 0, 0), Vec3(0, 0, 0), false, Vec3(0, 0, 0)},
                          {Vec3(3, 4, 5), Vec3(-1, 0.5f, 2), false, Vec3(-1, 0.5f, 2)},
                          {Vec3(1, 2, 3), Vec3(0, 0, -1), true, Vec3(1, 2, 2)},
                          {Vec3(1, 2, 3), Vec3(4, -2, 1), true, Vec3(5, 0, 4)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "eye " << c.eye.x << "," << c.eye.y << "," << c.eye.z
                                          << (c.relative ? " relative" : " absolute"));
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        Camera camera;
        camera.eye = c.eye;
        camera.target = c.target;
        camera.relative = c.relative;
        camera.apply();
        double dx = c.lookAt.x - c.eye.x, dy = c.lookAt.y - c.eye.y, dz = c.lookAt.z - c.eye.z;
        expectNear(toEye(c.eye.x, c.eye.y, c.eye.z), 0, 0, 0);
        expectNear(toEye(c.lookAt.x, c.lookAt.y, c.lookAt.z), 0, 0,
                   -std::sqrt(dx * dx + dy * dy + dz * dz));
        std::array<double, 3> up = toEye(c.eye.x, c.eye.y + 1, c.eye.z);
        EXPECT_NEAR(up[0], 0.0, 1e-4);
        EXPECT_GT(up[1], 0.0);
    }

    // The relative sum is taken in single precision: 2^24 + 1 rounds back to
    // 2^24, so the view looks straight down -Z instead of turning by 45 degrees.
    glLoadIdentity();
    Camera far;
    far.eye = Vec3(16777216.0f, 0, 0);
    far.target = Vec3(1, 0, -1);
    far.relative = true;
    far.apply();
    double m[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, m);
    EXPECT_NEAR(m[0], 1.0, 1e-6);
    EXPECT_NEAR(m[2], 0.0, 1e-6);
    EXPECT_NEAR(m[10], 1.0, 1e-6);
}

TEST_F(CameraApply, MultipliesTheCurrentMatrixWithoutResettingIt) {
    Camera camera;
    camera.eye = Vec3(0, 10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0, -3, -5);
    camera.apply();
    EXPECT_EQ(glInt(GL_MATRIX_MODE), GL_MODELVIEW);
    expectNear(toEye(0, 10, 10), 0, -3, -5);

    // Applied twice, the eye lands where one view sends the world origin.
    glLoadIdentity();
    camera.apply();
    std::array<double, 3> origin = toEye(0, 0, 0);
    camera.apply();
    expectNear(toEye(0, 10, 10), origin[0], origin[1], origin[2]);
}

} // namespace
