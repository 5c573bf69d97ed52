// The three GLU calls of the show over the layer's GL 1.1 calls:
// gluPerspective, gluLookAt and gluBuild2DMipmaps, computed as the GLU
// library computes them (matrices built in double or single precision as
// noted, mipmaps by 2 x 2 box averages after a box-filter rescale of sides
// that are not powers of two).
//
// Thread of the context. Angles in degrees; images are 8-bit samples.
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "gl11/gl11.h"

namespace gl11 {
namespace {

constexpr double PI = 3.14159265358979323846;

void normalize(float v[3]) {
    const float length = static_cast<float>(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
    if (length == 0.0f)
        return;
    for (int i = 0; i < 3; ++i)
        v[i] /= length;
}

void cross(const float a[3], const float b[3], float out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// The power of two nearest to value, a tie going up (6 becomes 8, 5 becomes 4).
int nearestPowerOfTwo(int value) {
    int power = 1;
    while (power * 2 <= value)
        power *= 2;
    return value * 2 >= power * 3 ? power * 2 : power;
}

// Halves an image with 2 x 2 averages, rounded; a side of 1 stays 1 and the
// other is halved with pair averages, truncated.
std::vector<unsigned char> halve(const std::vector<unsigned char>& in, int width, int height,
                                 int components) {
    const int outWidth = std::max(1, width / 2);
    const int outHeight = std::max(1, height / 2);
    std::vector<unsigned char> out(static_cast<size_t>(outWidth) * outHeight * components);
    auto at = [&](int x, int y, int c) {
        return in[(static_cast<size_t>(y) * width + x) * components + c];
    };
    unsigned char* dst = out.data();
    for (int y = 0; y < outHeight; ++y) {
        for (int x = 0; x < outWidth; ++x) {
            for (int c = 0; c < components; ++c) {
                int value;
                if (width == 1)
                    value = (at(0, 2 * y, c) + at(0, 2 * y + 1, c)) / 2;
                else if (height == 1)
                    value = (at(2 * x, 0, c) + at(2 * x + 1, 0, c)) / 2;
                else
                    value = (at(2 * x, 2 * y, c) + at(2 * x + 1, 2 * y, c) +
                             at(2 * x, 2 * y + 1, c) + at(2 * x + 1, 2 * y + 1, c) + 2) /
                            4;
                *dst++ = static_cast<unsigned char>(value);
            }
        }
    }
    return out;
}

// Resamples an image with a box filter: each output texel is the mean of the
// input area it covers, every input texel weighted by its overlap, truncated.
std::vector<unsigned char> rescale(const std::vector<unsigned char>& in, int width, int height,
                                   int outWidth, int outHeight, int components) {
    std::vector<unsigned char> out(static_cast<size_t>(outWidth) * outHeight * components);
    const double sx = static_cast<double>(width) / outWidth;
    const double sy = static_cast<double>(height) / outHeight;
    std::vector<double> total(components);
    unsigned char* dst = out.data();
    for (int oy = 0; oy < outHeight; ++oy) {
        const double y0 = oy * sy, y1 = (oy + 1) * sy;
        for (int ox = 0; ox < outWidth; ++ox) {
            const double x0 = ox * sx, x1 = (ox + 1) * sx;
            std::fill(total.begin(), total.end(), 0.0);
            for (int iy = static_cast<int>(y0); iy < height && iy < y1; ++iy) {
                const double wy = std::min(y1, iy + 1.0) - std::max(y0, static_cast<double>(iy));
                for (int ix = static_cast<int>(x0); ix < width && ix < x1; ++ix) {
                    const double w =
                        wy * (std::min(x1, ix + 1.0) - std::max(x0, static_cast<double>(ix)));
                    const unsigned char* texel =
                        &in[(static_cast<size_t>(iy) * width + ix) * components];
                    for (int c = 0; c < components; ++c)
                        total[c] += texel[c] * w;
                }
            }
            for (int c = 0; c < components; ++c)
                *dst++ = static_cast<unsigned char>(std::min(255.0, total[c] / (sx * sy)));
        }
    }
    return out;
}

} // namespace

void perspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
    const double radians = fovy / 2.0 * PI / 180.0;
    const double depth = zFar - zNear;
    const double sine = std::sin(radians);
    // Degenerate requests leave the matrix as it is.
    if (depth == 0.0 || sine == 0.0 || aspect == 0.0)
        return;
    const double cotangent = std::cos(radians) / sine;
    double m[16] = {};
    m[0] = cotangent / aspect;
    m[5] = cotangent;
    m[10] = -(zFar + zNear) / depth;
    m[11] = -1.0;
    m[14] = -2.0 * zNear * zFar / depth;
    GLfloat f[16];
    for (int i = 0; i < 16; ++i)
        f[i] = static_cast<GLfloat>(m[i]);
    multMatrixf(f);
}

void lookAt(GLdouble eyeX, GLdouble eyeY, GLdouble eyeZ, GLdouble centerX, GLdouble centerY,
            GLdouble centerZ, GLdouble upX, GLdouble upY, GLdouble upZ) {
    // In single precision, as GLU builds it.
    float forward[3] = {static_cast<float>(centerX - eyeX), static_cast<float>(centerY - eyeY),
                        static_cast<float>(centerZ - eyeZ)};
    float up[3] = {static_cast<float>(upX), static_cast<float>(upY), static_cast<float>(upZ)};
    float side[3];
    normalize(forward);
    cross(forward, up, side);
    normalize(side);
    cross(side, forward, up);
    GLfloat m[16] = {side[0], up[0], -forward[0], 0, side[1], up[1], -forward[1], 0,
                     side[2], up[2], -forward[2], 0, 0,       0,     0,           1};
    multMatrixf(m);
    translatef(static_cast<GLfloat>(-eyeX), static_cast<GLfloat>(-eyeY),
               static_cast<GLfloat>(-eyeZ));
}

GLint build2DMipmaps(GLenum target, GLint components, GLint width, GLint height, GLenum format,
                     GLenum type, const void* data) {
    if (target != GL_TEXTURE_2D || (format != GL_RGB && format != GL_LUMINANCE) ||
        type != GL_UNSIGNED_BYTE)
        return GLU_INVALID_ENUM;
    if (width < 1 || height < 1 || !data)
        return GLU_INVALID_VALUE;
    int newWidth = nearestPowerOfTwo(width);
    int newHeight = nearestPowerOfTwo(height);
    GLint maxSize = 0;
    getIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    while (newWidth > maxSize || newHeight > maxSize) {
        newWidth = std::max(1, newWidth / 2);
        newHeight = std::max(1, newHeight / 2);
    }

    // The caller's image, read with the unpack alignment in force.
    const int samples = format == GL_RGB ? 3 : 1;
    GLint alignment = 4;
    getIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    const size_t rowBytes = static_cast<size_t>(width) * samples;
    const size_t stride = (rowBytes + alignment - 1) / alignment * alignment;
    std::vector<unsigned char> image(rowBytes * height);
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = static_cast<const unsigned char*>(data) + y * stride;
        std::copy(row, row + rowBytes, image.begin() + y * rowBytes);
    }
    if (newWidth != width || newHeight != height) {
        if (newWidth * 2 == width && newHeight * 2 == height)
            image = halve(image, width, height, samples);
        else
            image = rescale(image, width, height, newWidth, newHeight, samples);
    }

    pixelStorei(GL_UNPACK_ALIGNMENT, 1);
    int level = 0;
    texImage2D(target, level, components, newWidth, newHeight, 0, format, type, image.data());
    while (newWidth > 1 || newHeight > 1) {
        image = halve(image, newWidth, newHeight, samples);
        newWidth = std::max(1, newWidth / 2);
        newHeight = std::max(1, newHeight / 2);
        texImage2D(target, ++level, components, newWidth, newHeight, 0, format, type, image.data());
    }
    pixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    return 0;
}

} // namespace gl11
