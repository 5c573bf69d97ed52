// The GL 1.1 layer of the browser build against the system's GL (Mesa) on the
// same off-screen context: the same calls drawn through both must give the
// same pixels, since Mesa implements the GL 1.1 definitions that the layer
// follows (the state the overlays save shows in what is drawn after them). The rasteriser is the
// same on both sides, so what differs is only the layer's own work: transforms, lighting, mipmaps,
// the attribute stack.
//
// Main thread. Sizes in pixels.
#include "gl11/gl11.h"

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "platform/offscreen.h"

namespace {

constexpr int WIDTH = 160;
constexpr int HEIGHT = 120;

// One set of GL 1.1 and GLU calls: the system's or the layer's.
struct Api {
    void (*enable)(GLenum);
    void (*disable)(GLenum);
    void (*shadeModel)(GLenum);
    void (*clearColor)(GLclampf, GLclampf, GLclampf, GLclampf);
    void (*clear)(GLbitfield);
    void (*depthFunc)(GLenum);
    void (*cullFace)(GLenum);
    void (*blendFunc)(GLenum, GLenum);
    void (*viewport)(GLint, GLint, GLsizei, GLsizei);
    void (*matrixMode)(GLenum);
    void (*loadIdentity)();
    void (*pushMatrix)();
    void (*popMatrix)();
    void (*rotatef)(GLfloat, GLfloat, GLfloat, GLfloat);
    void (*translatef)(GLfloat, GLfloat, GLfloat);
    void (*ortho)(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble);
    void (*begin)(GLenum);
    void (*end)();
    void (*vertex3f)(GLfloat, GLfloat, GLfloat);
    void (*vertex2f)(GLfloat, GLfloat);
    void (*normal3f)(GLfloat, GLfloat, GLfloat);
    void (*color4f)(GLfloat, GLfloat, GLfloat, GLfloat);
    void (*texCoord2f)(GLfloat, GLfloat);
    void (*lightfv)(GLenum, GLenum, const GLfloat*);
    void (*genTextures)(GLsizei, GLuint*);
    void (*bindTexture)(GLenum, GLuint);
    void (*texParameteri)(GLenum, GLenum, GLint);
    void (*texImage2D)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum,
                       const GLvoid*);
    void (*pixelStorei)(GLenum, GLint);
    void (*pushAttrib)(GLbitfield);
    void (*popAttrib)();
    void (*perspective)(GLdouble, GLdouble, GLdouble, GLdouble);
    void (*lookAt)(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble,
                   GLdouble);
    GLint (*build2DMipmaps)(GLenum, GLint, GLint, GLint, GLenum, GLenum, const void*);
    void (*getTexLevelParameteriv)(GLenum, GLint, GLenum, GLint*);
    void (*texEnvi)(GLenum, GLenum, GLint);
};

const Api SYSTEM = {
    glEnable,       glDisable,       glShadeModel, glClearColor,      glClear,
    glDepthFunc,    glCullFace,      glBlendFunc,  glViewport,        glMatrixMode,
    glLoadIdentity, glPushMatrix,    glPopMatrix,  glRotatef,         glTranslatef,
    glOrtho,        glBegin,         glEnd,        glVertex3f,        glVertex2f,
    glNormal3f,     glColor4f,       glTexCoord2f, glLightfv,         glGenTextures,
    glBindTexture,  glTexParameteri, glTexImage2D, glPixelStorei,     glPushAttrib,
    glPopAttrib,    gluPerspective,  gluLookAt,    gluBuild2DMipmaps, glGetTexLevelParameteriv,
    glTexEnvi};

// clang-format off
const Api LAYER = {
    gl11::enable,                 gl11::disable,                gl11::shadeModel,
    gl11::clearColor,             gl11::clear,                  gl11::depthFunc,
    gl11::cullFace,               gl11::blendFunc,              gl11::viewport,
    gl11::matrixMode,             gl11::loadIdentity,           gl11::pushMatrix,
    gl11::popMatrix,              gl11::rotatef,                gl11::translatef,
    gl11::ortho,                  gl11::begin,                  gl11::end,
    gl11::vertex3f,               gl11::vertex2f,               gl11::normal3f,
    gl11::color4f,                gl11::texCoord2f,             gl11::lightfv,
    gl11::genTextures,            gl11::bindTexture,            gl11::texParameteri,
    gl11::texImage2D,             gl11::pixelStorei,            gl11::pushAttrib,
    gl11::popAttrib,              gl11::perspective,            gl11::lookAt,
    gl11::build2DMipmaps,         gl11::getTexLevelParameteriv, gl11::texEnvi};
// clang-format on

// The show's start-up state: perspective 45 degrees, depth test LEQUAL.
void showStart(const Api& gl) {
    gl.viewport(0, 0, WIDTH, HEIGHT);
    gl.clearColor(0, 0, 0, 0);
    gl.depthFunc(GL_LEQUAL);
    gl.enable(GL_DEPTH_TEST);
    gl.shadeModel(GL_SMOOTH);
    gl.matrixMode(GL_PROJECTION);
    gl.loadIdentity();
    gl.perspective(45.0, 640.0 / 480.0, 0.1f, 100.0);
    gl.matrixMode(GL_MODELVIEW);
    gl.loadIdentity();
    gl.clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// A picture of w x h samples of n components with a row padding to `align`:
// red grows to the right, green downward (so that every mipmap level differs
// from its neighbours), blue is noise.
std::vector<unsigned char> pattern(int w, int h, int n, int align) {
    const int stride = (w * n + align - 1) / align * align;
    std::vector<unsigned char> p(static_cast<size_t>(stride) * h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int rgb[3] = {255 * x / std::max(1, w - 1), 255 * y / std::max(1, h - 1),
                                (x * 37 + y * 91 + (x ^ y) * 13) & 0xFF};
            for (int c = 0; c < n; ++c)
                p[y * stride + x * n + c] = static_cast<unsigned char>(n == 1 ? rgb[2] : rgb[c]);
        }
    }
    return p;
}

GLuint texture(const Api& gl, int w, int h, GLenum format, int align) {
    const int n = format == GL_RGB ? 3 : 1;
    const std::vector<unsigned char> p = pattern(w, h, n, align);
    GLuint id = 0;
    gl.genTextures(1, &id);
    gl.bindTexture(GL_TEXTURE_2D, id);
    gl.texParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.texParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    gl.pixelStorei(GL_UNPACK_ALIGNMENT, align);
    gl.build2DMipmaps(GL_TEXTURE_2D, n, w, h, format, GL_UNSIGNED_BYTE, p.data());
    gl.pixelStorei(GL_UNPACK_ALIGNMENT, 4);
    return id;
}

// A screen quad as the overlays draw it, in a 0..1 square with y down; the
// texture repeated `repeat` times across it.
void overlay(const Api& gl, float x0, float y0, float x1, float y1, float alpha, bool additive,
             float repeat = 1.0f) {
    gl.pushAttrib(0xFFFFF);
    gl.disable(GL_LIGHTING);
    gl.disable(GL_DEPTH_TEST);
    gl.blendFunc(GL_SRC_ALPHA, additive ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA);
    gl.enable(GL_BLEND);
    gl.matrixMode(GL_PROJECTION);
    gl.pushMatrix();
    gl.loadIdentity();
    gl.ortho(0, 1, 1, 0, -1, 1);
    gl.matrixMode(GL_MODELVIEW);
    gl.pushMatrix();
    gl.loadIdentity();
    gl.begin(GL_QUADS);
    const float corners[4][4] = {{0, 0, x0, y0}, {0, 1, x0, y1}, {1, 1, x1, y1}, {1, 0, x1, y0}};
    for (const auto& c : corners) {
        gl.color4f(0.9f, 0.8f, 1.0f, alpha);
        gl.texCoord2f(c[0] * repeat, c[1] * repeat);
        gl.vertex2f(c[2], c[3]);
    }
    gl.end();
    gl.popMatrix();
    gl.matrixMode(GL_PROJECTION);
    gl.popMatrix();
    gl.matrixMode(GL_MODELVIEW);
    gl.popAttrib();
}

// A lit sphere with smooth normals under the show's positional light 1 and a
// camera from gluLookAt, turned about a slanted axis so that every element
// of the normal matrix counts.
void litSphere(const Api& gl, float angle) {
    const GLfloat ambient[] = {0.5f, 0.05f, 0.05f, 1.0f};
    const GLfloat diffuse[] = {1.0f, 1.0f, 0.85f, 1.0f};
    const GLfloat position[] = {0.0f, 1.0f, -1.0f, 1.0f};
    gl.lightfv(GL_LIGHT1, GL_AMBIENT, ambient);
    gl.lightfv(GL_LIGHT1, GL_DIFFUSE, diffuse);
    gl.lightfv(GL_LIGHT1, GL_POSITION, position);
    gl.enable(GL_LIGHT1);
    gl.enable(GL_LIGHTING);
    gl.enable(GL_CULL_FACE);
    gl.cullFace(GL_BACK);
    gl.loadIdentity();
    gl.lookAt(std::sin(angle) * 6.0, 1.5, std::cos(angle) * 6.0, 0, 0.3, 0, 0, 1, 0);
    gl.rotatef(-90.0f, 1, 0, 0);
    gl.rotatef(angle * 70.0f, 1.0f, 0.5f, 0.3f);
    gl.begin(GL_TRIANGLES);
    const int RINGS = 12, SEGMENTS = 24;
    auto corner = [&](int ring, int segment) {
        const float a = 3.1415927f * ring / RINGS, b = 6.2831853f * segment / SEGMENTS;
        const float n[3] = {std::sin(a) * std::cos(b), std::sin(a) * std::sin(b), std::cos(a)};
        gl.normal3f(n[0], n[1], n[2]);
        gl.color4f(1, 1, 1, 0.5f); // ignored while lit: the material's alpha is used
        gl.texCoord2f(2.0f * segment / SEGMENTS, 1.0f * ring / RINGS);
        gl.vertex3f(2.2f * n[0], 2.2f * n[1], 2.2f * n[2]);
    };
    for (int ring = 0; ring < RINGS; ++ring) {
        for (int segment = 0; segment < SEGMENTS; ++segment) {
            const int quad[6][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 0}, {1, 1}, {0, 1}};
            for (const auto& q : quad)
                corner(ring + q[0], segment + q[1]);
        }
    }
    gl.end();
}

struct Scene {
    const char* name;
    std::function<void(const Api&)> draw;
};

const Scene SCENES[] = {
    {"triangle after overlays: the colour and texture coordinate from before them",
     [](const Api& gl) {
         const GLuint picture = texture(gl, 32, 32, GL_RGB, 4);
         gl.enable(GL_TEXTURE_2D);
         gl.begin(GL_TRIANGLES);
         gl.texCoord2f(0.3f, 0.6f);
         gl.color4f(1, 1, 1, 1);
         gl.vertex3f(100, 100, -200);
         gl.end();
         gl.bindTexture(GL_TEXTURE_2D, 0);
         overlay(gl, 0.0f, 0.0f, 0.5f, 0.5f, 1.0f, false);
         gl.bindTexture(GL_TEXTURE_2D, picture);
         overlay(gl, 0.5f, 0.5f, 1.0f, 1.0f, 1.0f, false);
         gl.loadIdentity();
         gl.begin(GL_TRIANGLES);
         gl.vertex3f(-1, -1, -3);
         gl.vertex3f(1, -1, -3);
         gl.vertex3f(0, 1, -3);
         gl.end();
     }},
    {"lit untextured sphere, two views",
     [](const Api& gl) {
         litSphere(gl, 0.3f);
         gl.clear(GL_DEPTH_BUFFER_BIT);
         gl.viewport(0, 0, WIDTH / 2, HEIGHT / 2);
         litSphere(gl, 2.1f);
     }},
    {"lit textured sphere (mipmapped RGB), flat shading",
     [](const Api& gl) {
         texture(gl, 64, 64, GL_RGB, 4);
         gl.enable(GL_TEXTURE_2D);
         gl.shadeModel(GL_FLAT);
         litSphere(gl, 1.0f);
     }},
    {"overlays: alpha and additive, magnified and minified, texture 0 untextured",
     [](const Api& gl) {
         const GLuint picture = texture(gl, 32, 32, GL_RGB, 4);
         gl.enable(GL_TEXTURE_2D);
         gl.enable(GL_CULL_FACE);
         overlay(gl, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, false);
         overlay(gl, 0.1f, 0.2f, 0.3f, 0.35f, 0.6f, true);
         overlay(gl, 1.0f, 0.0f, 0.5f, 0.5f, 1.0f, false); // mirrored: culled
         gl.bindTexture(GL_TEXTURE_2D, 0);
         overlay(gl, 0.6f, 0.6f, 0.9f, 0.9f, 0.5f, false);
         gl.bindTexture(GL_TEXTURE_2D, picture);
         overlay(gl, -0.2f, 0.5f, 0.45f, 1.3f, 0.7f, false);
     }},
    {"alpha 0: blended away over a picture, yet writing depth with the depth test on",
     [](const Api& gl) {
         texture(gl, 32, 32, GL_RGB, 4);
         gl.enable(GL_TEXTURE_2D);
         overlay(gl, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, false);
         overlay(gl, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, false);
         overlay(gl, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, true);
         // An invisible quad in front over the left half, then a red
         // triangle behind it over the whole view: hidden on the left.
         gl.disable(GL_TEXTURE_2D);
         gl.enable(GL_BLEND);
         gl.blendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
         gl.loadIdentity();
         gl.begin(GL_QUADS);
         gl.color4f(0.0f, 1.0f, 0.0f, 0.0f);
         const float quad[4][2] = {{-5, -5}, {0, -5}, {0, 5}, {-5, 5}};
         for (const auto& q : quad)
             gl.vertex3f(q[0], q[1], -2.0f);
         gl.end();
         gl.disable(GL_BLEND);
         gl.begin(GL_TRIANGLES);
         gl.color4f(1.0f, 0.0f, 0.0f, 1.0f);
         gl.vertex3f(-20, -20, -4);
         gl.vertex3f(20, -20, -4);
         gl.vertex3f(0, 20, -4);
         gl.end();
     }},
    {"replacing texture environment on RGB and luminance, restored by the attribute pop",
     [](const Api& gl) {
         texture(gl, 32, 32, GL_RGB, 4);
         gl.enable(GL_TEXTURE_2D);
         gl.pushAttrib(GL_TEXTURE_BIT);
         gl.texEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
         overlay(gl, 0.0f, 0.0f, 0.5f, 1.0f, 1.0f, false);
         texture(gl, 16, 16, GL_LUMINANCE, 4);
         overlay(gl, 0.5f, 0.0f, 1.0f, 0.5f, 0.6f, true);
         gl.popAttrib();
         overlay(gl, 0.5f, 0.5f, 1.0f, 1.0f, 1.0f, false);
     }},
    {"rescaled sides that are not powers of two, luminance with padded rows",
     [](const Api& gl) {
         // Repeated many times across a small quad, a texture shows its
         // smallest levels, made from rows and columns of one texel.
         texture(gl, 48, 40, GL_RGB, 4);
         gl.enable(GL_TEXTURE_2D);
         overlay(gl, 0.0f, 0.0f, 0.5f, 0.8f, 1.0f, false);
         overlay(gl, 0.0f, 0.8f, 0.25f, 1.0f, 1.0f, false, 40.0f);
         texture(gl, 6, 20, GL_LUMINANCE, 4);
         overlay(gl, 0.5f, 0.0f, 1.0f, 0.5f, 1.0f, false);
         overlay(gl, 0.25f, 0.8f, 0.5f, 1.0f, 1.0f, false, 40.0f);
         texture(gl, 3, 3, GL_RGB, 1);
         overlay(gl, 0.5f, 0.6f, 0.7f, 1.0f, 1.0f, false);
     }},
};

class Gl11 : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(platform::openOffscreen(WIDTH, HEIGHT, &error)) << error;
    }
    void TearDown() override {
        gl11::destroyContext();
        platform::closeOffscreen();
    }
    // Runs f through the system's GL, then through the layer, each on a fresh
    // context, and returns both frames.
    std::vector<unsigned char> drawWith(const Api& gl, const std::function<void(const Api&)>& f) {
        if (&gl == &LAYER) {
            const char* error = nullptr;
            EXPECT_TRUE(gl11::createContext(WIDTH, HEIGHT, &error)) << error;
        }
        showStart(gl);
        f(gl);
        std::vector<unsigned char> frame = platform::readPixelsRGB();
        if (&gl == &LAYER) {
            EXPECT_EQ(gl11::getError(), static_cast<GLenum>(GL_NO_ERROR));
            gl11::destroyContext();
        }
        platform::closeOffscreen();
        std::string error;
        EXPECT_TRUE(platform::openOffscreen(WIDTH, HEIGHT, &error)) << error;
        return frame;
    }
};

TEST_F(Gl11, DrawsWhatTheSystemGlDraws) {
    for (const Scene& scene : SCENES) {
        SCOPED_TRACE(scene.name);
        const std::vector<unsigned char> expected = drawWith(SYSTEM, scene.draw);
        const std::vector<unsigned char> got = drawWith(LAYER, scene.draw);
        ASSERT_EQ(got.size(), expected.size());
        int worst = 0, lit = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            worst = std::max(worst, std::abs(got[i] - expected[i]));
            lit += expected[i] > 8;
        }
        // A scene that drew nothing would pass trivially.
        EXPECT_GT(lit, static_cast<int>(got.size() / 10));
        // The same rasteriser on both sides: only rounding of the vertex
        // arithmetic differs (seen: at most 2 of 255).
        EXPECT_LE(worst, 4);
    }
}

// After GLU has scaled a picture to powers of two, the layer reports each
// level's size as the system holds it (the overlays choose their sampling by
// it), and refuses a level outside the texture.
TEST_F(Gl11, ReportsTheLevelSizesTheSystemHolds) {
    auto sizes = [](const Api& gl, std::vector<GLint>* out) {
        for (const auto& [w, h] : {std::pair{512, 512}, {100, 60}, {3, 5}}) {
            texture(gl, w, h, GL_RGB, 1);
            for (GLint level : {0, 1})
                for (GLenum pname : {GL_TEXTURE_WIDTH, GL_TEXTURE_HEIGHT}) {
                    GLint value = -1;
                    gl.getTexLevelParameteriv(GL_TEXTURE_2D, level, pname, &value);
                    out->push_back(value);
                }
        }
    };
    std::vector<GLint> system, layer;
    drawWith(SYSTEM, [&](const Api& gl) { sizes(gl, &system); });
    drawWith(LAYER, [&](const Api& gl) {
        sizes(gl, &layer);
        GLint value = -1;
        gl11::getTexLevelParameteriv(GL_TEXTURE_2D, 13, GL_TEXTURE_WIDTH, &value);
        EXPECT_EQ(gl11::getError(), static_cast<GLenum>(GL_INVALID_VALUE));
        EXPECT_EQ(value, -1);
    });
    EXPECT_EQ(layer, system);
    ASSERT_EQ(system.size(), 12u);
    EXPECT_EQ((std::vector<GLint>(system.begin(), system.begin() + 4)),
              (std::vector<GLint>{512, 512, 256, 256}));
}

// Draws that cannot change a pixel (blended at alpha 0, depth test off) never
// reach the device; the same with blending off, or with depth to write, do.
TEST_F(Gl11, SkipsOnlyDrawsThatCannotChangeAPixel) {
    const char* error = nullptr;
    ASSERT_TRUE(gl11::createContext(WIDTH, HEIGHT, &error)) << error;
    showStart(LAYER);
    gl11::disable(GL_DEPTH_TEST);
    auto drawsFor = [](float alpha) {
        const unsigned long before = gl11::deviceDraws();
        gl11::begin(GL_TRIANGLES);
        gl11::color4f(1.0f, 1.0f, 1.0f, alpha);
        gl11::vertex3f(-1, -1, -3);
        gl11::vertex3f(1, -1, -3);
        gl11::vertex3f(0, 1, -3);
        gl11::end();
        return gl11::deviceDraws() - before;
    };
    EXPECT_EQ(drawsFor(0.0f), 1u); // blending off: alpha 0 is written like any colour
    gl11::enable(GL_BLEND);
    for (GLenum destination : {GL_ONE_MINUS_SRC_ALPHA, GL_ONE}) {
        gl11::blendFunc(GL_SRC_ALPHA, destination);
        EXPECT_EQ(drawsFor(0.0f), 0u) << destination;
        EXPECT_EQ(drawsFor(-0.5f), 0u) << destination; // clamped to 0
        EXPECT_EQ(drawsFor(0.01f), 1u) << destination;
    }
    gl11::blendFunc(GL_ONE, GL_ONE);
    EXPECT_EQ(drawsFor(0.0f), 1u);
    gl11::blendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    gl11::enable(GL_DEPTH_TEST);
    EXPECT_EQ(drawsFor(0.0f), 1u);
    EXPECT_EQ(gl11::getError(), static_cast<GLenum>(GL_NO_ERROR));
}

// The show never makes a call GL refuses, but a wrong one must not reach
// outside the layer's stacks: it records GL's error and changes nothing.
TEST_F(Gl11, RefusesStackUnderflowAndEndWithoutBegin) {
    const char* error = nullptr;
    ASSERT_TRUE(gl11::createContext(WIDTH, HEIGHT, &error)) << error;
    const std::pair<void (*)(), GLenum> cases[] = {{gl11::popMatrix, GL_STACK_UNDERFLOW},
                                                   {gl11::popAttrib, GL_STACK_UNDERFLOW},
                                                   {gl11::end, GL_INVALID_OPERATION}};
    for (const auto& c : cases) {
        gl11::loadIdentity();
        c.first();
        EXPECT_EQ(gl11::getError(), c.second);
        GLfloat m[16];
        gl11::getFloatv(GL_MODELVIEW_MATRIX, m);
        EXPECT_EQ(m[0] + m[5] + m[10] + m[15], 4.0f);
        EXPECT_EQ(gl11::getError(), static_cast<GLenum>(GL_NO_ERROR));
    }
}

} // namespace
