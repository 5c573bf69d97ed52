// Tests of Camera::apply against a look-at matrix computed here, read back
// from the modelview matrix.
//
// Main thread; world units.
#include "render/camera.h"

#include <cmath>

#include "render_fixture.h"

namespace {

using Matrix = std::array<double, 16>; // column-major, as GL stores it

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix m{};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            for (int k = 0; k < 4; ++k) {
                m[column * 4 + row] += a[k * 4 + row] * b[column * 4 + k];
            }
        }
    }
    return m;
}

// The viewing matrix of an eye at e looking at c with up +Y.
Matrix lookAt(double ex, double ey, double ez, double cx, double cy, double cz) {
    double f[3] = {cx - ex, cy - ey, cz - ez};
    double fl = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
    for (double& v : f) {
        v /= fl;
    }
    // side = forward x up(0, 1, 0); true up = side x forward.
    double s[3] = {-f[2], 0.0, f[0]};
    double sl = std::sqrt(s[0] * s[0] + s[2] * s[2]);
    s[0] /= sl;
    s[2] /= sl;
    double u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2], s[0] * f[1] - s[1] * f[0]};
    Matrix rotation = {s[0], u[0], -f[0], 0, s[1], u[1], -f[1], 0,
                       s[2], u[2], -f[2], 0, 0,    0,    0,     1};
    Matrix translation = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -ex, -ey, -ez, 1};
    return multiply(rotation, translation);
}

Matrix readMatrix(GLenum which) {
    Matrix m{};
    glGetDoublev(which, m.data());
    return m;
}

void expectMatrixNear(const Matrix& actual, const Matrix& expected, double tolerance) {
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
    }
}

class CameraApply : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }
};

TEST_F(CameraApply, StartsAtTheOriginAndAbsolute) {
    Camera camera;
    EXPECT_EQ(camera.eye.x, 0.0f);
    EXPECT_EQ(camera.eye.y, 0.0f);
    EXPECT_EQ(camera.eye.z, 0.0f);
    EXPECT_EQ(camera.target.x, 0.0f);
    EXPECT_EQ(camera.target.y, 0.0f);
    EXPECT_EQ(camera.target.z, 0.0f);
    EXPECT_FALSE(camera.relative);
}

TEST_F(CameraApply, AbsoluteTargetIsTheLookAtPoint) {
    Camera camera;
    camera.eye = Vec3(20, 0, 0);
    camera.apply();
    Matrix expected = lookAt(20, 0, 0, 0, 0, 0);
    expectMatrixNear(readMatrix(GL_MODELVIEW_MATRIX), expected, 1e-5);
    // The eye moves to the origin of eye space; world -X becomes the view axis.
    EXPECT_NEAR(expected[14], -20.0, 1e-12);
    EXPECT_NEAR(expected[2], 1.0, 1e-12);

    glLoadIdentity();
    camera.eye = Vec3(3, 4, 5);
    camera.target = Vec3(-1, 0.5f, 2);
    camera.apply();
    expectMatrixNear(readMatrix(GL_MODELVIEW_MATRIX), lookAt(3, 4, 5, -1, 0.5, 2), 1e-5);
}

TEST_F(CameraApply, RelativeTargetIsAnOffsetFromTheEye) {
    Camera camera;
    camera.eye = Vec3(1, 2, 3);
    camera.target = Vec3(0, 0, -1);
    camera.relative = true;
    camera.apply();
    expectMatrixNear(readMatrix(GL_MODELVIEW_MATRIX), lookAt(1, 2, 3, 1, 2, 2), 1e-5);

    // The sum is taken in single precision: 2^24 + 1 rounds back to 2^24, so
    // the view looks straight down -Z instead of turning by 45 degrees.
    glLoadIdentity();
    camera.eye = Vec3(16777216.0f, 0, 0);
    camera.target = Vec3(1, 0, -1);
    camera.apply();
    Matrix m = readMatrix(GL_MODELVIEW_MATRIX);
    EXPECT_NEAR(m[0], 1.0, 1e-6);
    EXPECT_NEAR(m[2], 0.0, 1e-6);
    EXPECT_NEAR(m[10], 1.0, 1e-6);
}

TEST_F(CameraApply, MultipliesTheCurrentMatrixWithoutResettingIt) {
    glTranslatef(0, -3, -5);
    Camera camera;
    camera.eye = Vec3(0, 10, 10);
    camera.apply();
    Matrix view = lookAt(0, 10, 10, 0, 0, 0);
    Matrix translation = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -3, -5, 1};
    expectMatrixNear(readMatrix(GL_MODELVIEW_MATRIX), multiply(translation, view), 1e-5);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);

    // Applied twice, the viewing transform is applied twice.
    glLoadIdentity();
    camera.apply();
    camera.apply();
    expectMatrixNear(readMatrix(GL_MODELVIEW_MATRIX), multiply(view, view), 1e-4);
}

} // namespace
