// The drawing layer on edge cases the show's own frames never reach: the
// off-screen surface and its read-back, the GL state overlays hand back,
// blending and tints, models with damaged records or odd opacities, and a
// camera's relative target.
//
// Main thread, off-screen GL. Screen positions in pixels (top row 0), model
// positions in mesh-file units.
#include <GL/glu.h>

#include <cmath>
#include <limits>
#include <memory>

#include "platform/platform.h"
#include "render/camera.h"
#include "render/overlay.h"
#include "resources/model.h"
#include "resources/texture.h"
#include "tests/support/gl_test.h"
#include "tests/support/kit.h"

using namespace kit;

namespace {

class Render : public GlTest {
  protected:
    void clearTo(float red, float green, float blue) {
        glClearColor(red, green, blue, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    Rgb centre() { return grabFrame().at(320, 240); }
    // A solid 4 x 4 texture, kept until the test ends.
    Texture* solid(int r, int g, int b) {
        textures.emplace_back(new Texture);
        const Bytes rgb = {uint8_t(r), uint8_t(g), uint8_t(b)};
        Bytes texels;
        for (int i = 0; i < 16; ++i)
            texels.insert(texels.end(), rgb.begin(), rgb.end());
        uploadTexturePixels(textures.back().get(), 3, 4, 4, texels.data());
        return textures.back().get();
    }
    std::vector<std::unique_ptr<Texture>> textures;
};

} // namespace

TEST_F(Render, SurfaceReadsBackTopRowFirstAtAnyWidthAndReleasesCleanly) {
    // An odd width at the caller's pack alignment of 8: rows stay tight, and
    // GL's top row (y = 16) comes first.
    ASSERT_TRUE(platform::openOffscreen(33, 17, nullptr));
    EXPECT_GE(glInt(GL_DEPTH_BITS), 24);
    clearTo(0, 0, 1);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 16, 33, 1);
    clearTo(1, 0, 0);
    glScissor(32, 0, 1, 1);
    clearTo(0, 1, 0);
    glDisable(GL_SCISSOR_TEST);
    glPixelStorei(GL_PACK_ALIGNMENT, 8);
    const Picture frame = grabFrame();
    ASSERT_EQ(frame.rgb.size(), 33u * 17u * 3u);
    for (int x = 0; x < 33; ++x) {
        EXPECT_EQ(frame.at(x, 0), (Rgb{255, 0, 0})) << x;
        EXPECT_EQ(frame.at(x, 1), (Rgb{0, 0, 255})) << x;
    }
    EXPECT_EQ(frame.at(32, 16), (Rgb{0, 255, 0}));
    EXPECT_EQ(glInt(GL_PACK_ALIGNMENT), 8);
    // The backend: a virtual clock that moves only when told, a swap hook.
    int swaps = 0;
    platform::setVirtualTicks(0xFFFFFFF0u);
    platform::setSwapHook([](void* count) { ++*static_cast<int*>(count); }, &swaps);
    platform::swapBuffers();
    platform::setSwapHook(nullptr, nullptr);
    platform::swapBuffers();
    EXPECT_EQ(swaps, 1);
    EXPECT_EQ(platform::tickCount(), 0xFFFFFFF0u);
    // Released, nothing reads or swaps GL any more; a size of 0 opens nothing.
    platform::releaseContext();
    EXPECT_FALSE(platform::contextCurrent() || platform::offscreenOpen());
    EXPECT_TRUE(platform::readPixelsRGB().empty());
    platform::swapBuffers();
    std::string error;
    EXPECT_FALSE(platform::openOffscreen(0, 480, &error));
    EXPECT_NE(error, "");
    EXPECT_EQ(platform::currentBackend(), nullptr);
}

TEST_F(Render, OverlaysWithoutAPictureOrWithoutAlphaAndTheFadeOverABoundTexture) {
    Texture* picture = solid(200, 100, 40);
    // Alpha 0 changes nothing in either mode.
    clearTo(0.2f, 0.4f, 0.6f);
    drawImage(picture, 0, 0, 640, 480, 0.0f, false);
    drawImage(picture, 0, 0, 640, 480, 0.0f, true);
    EXPECT_EQ(centre(), (Rgb{51, 102, 153}));
    // A picture never loaded, and none at all, draw their plain colour.
    Texture never;
    clearTo(0, 0, 0);
    drawTintedImage(&never, 320, 240, 640, 480, 0.0f, 1.0f, 0.0f, 1.0f, false);
    drawImage(nullptr, 0, 0, 100, 100, 1.0f, false);
    const Picture frame = grabFrame();
    EXPECT_EQ(frame.at(500, 400), (Rgb{0, 255, 0}));
    EXPECT_EQ(frame.at(50, 50), (Rgb{255, 255, 255}));
    EXPECT_EQ(frame.at(200, 240), (Rgb{0, 0, 0}));
    // Coordinates generated for a model (sphere mapping left on) do not reach
    // an overlay: a picture of four colour quarters keeps them in place.
    textures.emplace_back(new Texture);
    const Bytes quarters = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};
    uploadTexturePixels(textures.back().get(), 3, 2, 2, quarters.data());
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glEnable(GL_TEXTURE_GEN_S);
    glEnable(GL_TEXTURE_GEN_T);
    drawImage(textures.back().get(), 0, 0, 640, 480, 1.0f, false);
    const Picture split = grabFrame();
    EXPECT_LE(distance(split.at(160, 120), {255, 0, 0}), 1);
    EXPECT_LE(distance(split.at(480, 120), {0, 255, 0}), 1);
    EXPECT_LE(distance(split.at(160, 360), {0, 0, 255}), 1);
    EXPECT_LE(distance(split.at(480, 360), {255, 255, 0}), 1);
    // The fade is plain colour over a bound texture.
    picture->bind();
    clearTo(0, 0, 1);
    drawFade(1.0f, 0.0f, 0.0f, 0.5f);
    EXPECT_LE(distance(centre(), {128, 0, 127}), 1);
}

TEST_F(Render, OverlaysHandBackTheCallersStateAndLeaveDepthAlone) {
    const GLenum capabilities[] = {GL_LIGHTING,      GL_DEPTH_TEST,    GL_BLEND,    GL_TEXTURE_2D,
                                   GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_CULL_FACE};
    auto state = [&] {
        std::vector<double> values;
        for (GLenum capability : capabilities)
            values.push_back(glIsEnabled(capability));
        for (GLenum query : {GL_BLEND_SRC, GL_BLEND_DST, GL_TEXTURE_BINDING_2D, GL_MATRIX_MODE,
                             GL_MODELVIEW_STACK_DEPTH, GL_PROJECTION_STACK_DEPTH})
            values.push_back(glInt(query));
        GLint environment = 0;
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &environment);
        values.push_back(environment);
        GLfloat m[16];
        for (GLenum query : {GL_MODELVIEW_MATRIX, GL_PROJECTION_MATRIX, GL_CURRENT_COLOR}) {
            glGetFloatv(query, m);
            values.insert(values.end(), m, m + (query == GL_CURRENT_COLOR ? 4 : 16));
        }
        return values;
    };
    Texture* picture = solid(10, 20, 30);
    for (bool enabled : {true, false}) {
        for (GLenum capability : capabilities)
            enabled ? glEnable(capability) : glDisable(capability);
        glBlendFunc(GL_DST_COLOR, GL_SRC_COLOR);
        glBindTexture(GL_TEXTURE_2D, enabled ? solid(1, 2, 3)->textureId : 0);
        glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
        glMatrixMode(GL_PROJECTION);
        gluPerspective(45.0, 640.0 / 480.0, 0.1, 100.0);
        glMatrixMode(GL_MODELVIEW);
        glTranslatef(1.0f, -3.0f, -5.0f);
        for (GLenum mode : {GL_MODELVIEW, GL_PROJECTION}) {
            glMatrixMode(mode);
            const std::vector<double> before = state();
            drawImage(picture, 10, 10, 100, 100, 0.5f, true);
            EXPECT_EQ(state(), before) << "drawImage " << enabled;
            drawTintedImage(picture, 10, 10, 100, 100, 1, 0, 0, 0.5f, false);
            EXPECT_EQ(state(), before) << "drawTintedImage " << enabled;
            drawFade(0, 0, 0, 0.3f);
            EXPECT_EQ(state(), before) << "drawFade " << enabled;
            // Opaque ones draw without blending.
            drawImage(picture, 10, 10, 100, 100, 1.0f, false);
            drawFade(0, 0, 0, 1.0f);
            EXPECT_EQ(state(), before) << "opaque overlays " << enabled;
        }
    }
    // Overlays neither test nor write depth: every fragment would fail a
    // depth test against 0.
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glClearDepth(0.0);
    clearTo(0, 0, 1);
    drawImage(solid(255, 0, 0), 0, 0, 640, 480, 1.0f, false);
    EXPECT_EQ(centre(), (Rgb{255, 0, 0}));
    GLfloat depth = -1.0f;
    glReadPixels(320, 240, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    EXPECT_EQ(depth, 0.0f);
}

// A picture drawn about its texture's size or larger samples level 0 alone,
// without the mipmapped filter's choice at every pixel: it must give the
// pixels the mipmapped texture gives, at sizes on both sides of the switch
// and at any viewport, and leave the texture's own filter as it was.
TEST_F(Render, PicturesSampleTheMipmapLevelTheirSizeCallsFor) {
    // Checks of one texel: level 0 is black and white, level 1 plain grey.
    Bytes checks;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            checks.insert(checks.end(), 3, ((x + y) & 1) ? 255 : 0);
    textures.emplace_back(new Texture);
    Texture* picture = textures.back().get();
    uploadTexturePixels(picture, 3, 64, 64, checks.data());
    EXPECT_EQ(picture->levelWidth * 1000 + picture->levelHeight, 64064);
    // The same texture object without its recorded size: the overlay never
    // takes it off its mipmaps.
    Texture mipmapped = *picture;
    mipmapped.levelWidth = mipmapped.levelHeight = 0;
    // Drawn sizes in pixels: 48 is 4/3 texels to a pixel, the last size
    // sampled from level 0; 44 and below take level 1.
    for (const int scale : {1, 2}) {
        glViewport(0, 0, 640 / scale, 480 / scale);
        for (const int pixels : {96, 64, 48, 44, 40, 32}) {
            const float x0 = 100.5f, y0 = 60.25f;
            const float x1 = x0 + float(pixels * scale), y1 = y0 + float(pixels * scale);
            clearTo(0, 0, 1);
            drawImage(picture, x0, y0, x1, y1, 1.0f, false);
            const Picture overlay = grabFrame();
            clearTo(0, 0, 1);
            drawImage(&mipmapped, x0, y0, x1, y1, 1.0f, false);
            EXPECT_TRUE(overlay.rgb == grabFrame().rgb) << pixels << " pixels at 1/" << scale;
        }
    }
    GLint filter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
    EXPECT_EQ(filter, GL_LINEAR_MIPMAP_NEAREST);
}

namespace {

// One mesh of two triangles at z = -20 file units (-1.8 drawn), facing the
// viewer; face 0 covers the screen centre, face 1 reaches (10, 0, -20).
struct TestModel {
    Model model;
    Mesh mesh;
    MeshVertex vertices[4];
    Face faces[2] = {Face{0, 1, 2}, Face{0, 1, 3}};
    FaceGroup groups[2];
    Material materials[2];
    TestModel() {
        const float positions[4][3] = {{-5, -5, -20}, {5, -5, -20}, {0, 5, -20}, {10, 0, -20}};
        for (int i = 0; i < 4; ++i) {
            vertices[i].position = Vec3(positions[i][0], positions[i][1], positions[i][2]);
            vertices[i].normal = Vec3(0, 0, 1);
        }
        mesh.vertices = vertices;
        // Three mapping coordinates for four vertices: face 1 is drawn all the same.
        mesh.vertexCount = 3;
        mesh.vertexCapacity = 4;
        mesh.faces = groups[0].faces = faces;
        mesh.faceCount = groups[0].faceCount = 1;
        mesh.groups[0] = &groups[0];
        mesh.groupCount = 1;
        model.meshes[0] = &mesh;
        model.meshCount = 1;
        model.materials[0] = &materials[0];
        model.materials[1] = &materials[1];
        model.materialCount = 1;
    }
};

class ModelDraw : public Render {
  protected:
    void SetUp() override {
        Render::SetUp();
        glMatrixMode(GL_PROJECTION);
        gluPerspective(45.0, 640.0 / 480.0, 0.1, 100.0);
        glMatrixMode(GL_MODELVIEW);
        // One white light from the viewer and the vertex colour as the
        // material, so a lit face shows exactly its vertex colour.
        const GLfloat black[] = {0, 0, 0, 1}, white[] = {1, 1, 1, 1}, front[] = {0, 0, 1, 0};
        glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
        glLightfv(GL_LIGHT1, GL_AMBIENT, black);
        glLightfv(GL_LIGHT1, GL_DIFFUSE, white);
        glLightfv(GL_LIGHT1, GL_POSITION, front);
        glEnable(GL_LIGHT1);
        glEnable(GL_COLOR_MATERIAL);
        glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    }
    // How many vertices the call sends to be drawn (after culling and clipping).
    template <typename Draw> int verticesSent(Draw draw) {
        std::vector<GLfloat> buffer(4096);
        glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D, buffer.data());
        glRenderMode(GL_FEEDBACK);
        draw();
        const GLint used = glRenderMode(GL_RENDER);
        int count = 0;
        for (GLint i = 0; i < used; i += 2 + 3 * static_cast<int>(buffer[i + 1]))
            count += static_cast<int>(buffer[i + 1]);
        return count;
    }
    template <typename Draw> Rgb centreAfter(Draw draw, float blue = 0) {
        clearTo(0, 0, blue);
        draw();
        return centre();
    }
    TestModel t;
};

} // namespace

TEST_F(ModelDraw, OpacityBelowOneSetsTheBlendFunctionAndOneLeavesItAlone) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float opacity : {0.5f, nan, 1.0f, 1.5f}) {
        const bool translucent = !(opacity >= 1.0f);
        t.materials[0].opacity = opacity;
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        const Rgb blended = centreAfter([&] { t.model.draw(); }, 1);
        EXPECT_EQ(glInt(GL_BLEND_SRC), translucent ? GL_SRC_ALPHA : GL_ONE) << opacity;
        EXPECT_EQ(glInt(GL_BLEND_DST), translucent ? GL_ONE_MINUS_SRC_ALPHA : GL_ONE) << opacity;
        EXPECT_TRUE(glIsEnabled(GL_LIGHTING) && glIsEnabled(GL_TEXTURE_2D));
        if (opacity == 0.5f) {
            EXPECT_LE(distance(blended, {128, 128, 255}), 1);
        }
        if (!translucent) {
            EXPECT_EQ(blended, (Rgb{255, 255, 255})) << opacity;
            glDisable(GL_BLEND); // without the caller's blending, opaque too
            EXPECT_EQ(centreAfter([&] { t.model.draw(); }, 0.4f), (Rgb{255, 255, 255}));
        }
    }
}

TEST_F(ModelDraw, GroupsChooseMaterialAndFacesAndDamagedRecordsDrawNothingWrong) {
    uploadTexturePixels(&t.materials[0].texture, 3, 4, 4, Bytes(48, 0x50).data());
    glDisable(GL_TEXTURE_2D);
    EXPECT_LE(distance(centreAfter([&] { t.model.draw(); }), {0x50, 0x50, 0x50}), 1);
    EXPECT_EQ(static_cast<GLuint>(glInt(GL_TEXTURE_BINDING_2D)), t.materials[0].texture.textureId);
    // An index outside the loaded materials (the slot past them holds a
    // translucent black one) draws opaque and untextured.
    t.materials[1].opacity = 0.25f;
    uploadTexturePixels(&t.materials[1].texture, 3, 4, 4, Bytes(48, 0).data());
    for (int index : {1, -1, MAX_MATERIALS + 5}) {
        t.groups[0].materialIndex = index;
        solid(255, 0, 0)->bind();
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        EXPECT_EQ(centreAfter([&] { t.model.draw(); }), (Rgb{255, 255, 255})) << index;
        EXPECT_EQ(glInt(GL_BLEND_SRC), GL_ONE) << index;
        EXPECT_EQ(glInt(GL_TEXTURE_BINDING_2D), 0) << index;
    }
    t.groups[0].materialIndex = 0;
    t.model.materialCount = MAX_MATERIALS + 10; // does not widen the range
    EXPECT_EQ(verticesSent([&] { t.model.draw(); }), 3);

    // Two groups list one face, a corrupt face names a missing vertex: the
    // textured path draws groups, the untextured one the mesh's faces.
    Face listed[2] = {Face{0, 1, 4}, t.faces[0]};
    t.groups[0].faces = listed;
    t.groups[0].faceCount = 2;
    t.groups[1].faces = t.faces;
    t.groups[1].faceCount = 1;
    t.mesh.groups[1] = &t.groups[1];
    t.mesh.groupCount = 2;
    EXPECT_EQ(verticesSent([&] { t.model.draw(); }), 6);
    t.mesh.groupCount = 0;
    t.mesh.faceCount = 2;
    t.mesh.faces = listed;
    EXPECT_EQ(verticesSent([&] { t.model.draw(); }), 0);
    EXPECT_EQ(verticesSent([&] { t.model.drawUntextured(); }), 3);
}

TEST_F(ModelDraw, UntexturedPathIsOpaqueWhiteAndLeavesLightingOnBlendingOff) {
    t.materials[0].opacity = 0.1f;
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    EXPECT_EQ(centreAfter([&] { t.model.drawUntextured(); }, 0.5f), (Rgb{255, 255, 255}));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    // White, untinted and opaque: under a half light, mid grey.
    const GLfloat half[] = {0.5f, 0.5f, 0.5f, 1.0f};
    glLightfv(GL_LIGHT1, GL_DIFFUSE, half);
    EXPECT_LE(distance(centreAfter([&] { t.model.drawUntextured(); }), {128, 128, 128}), 1);
    GLfloat colour[4] = {};
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[3], 1.0f);
    // A model without meshes only turns blending on.
    Model empty;
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    empty.drawUntextured();
    empty.draw();
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
}

TEST_F(Render, CameraLooksFromTheEyeAtTheTargetOrTheEyePlusTargetOntoTheMatrix) {
    // Where the modelview matrix sends a world point, to 4 decimals.
    auto toEye = [](float x, float y, float z) {
        double m[16];
        glGetDoublev(GL_MODELVIEW_MATRIX, m);
        auto r = [](double v) { return std::round(v * 1e4) / 1e4 + 0.0; }; // no "-0"
        char text[80];
        std::snprintf(
            text, sizeof text, "%.4f %.4f %.4f", r(m[0] * x + m[4] * y + m[8] * z + m[12]),
            r(m[1] * x + m[5] * y + m[9] * z + m[13]), r(m[2] * x + m[6] * y + m[10] * z + m[14]));
        return std::string(text);
    };
    // Eye (1, 2, 3) looking at (5, 0, 4), 4.5826 away: given absolute, or as
    // (4, -2, 1) relative to the eye; the camera multiplies onto the
    // translation already there.
    for (bool relative : {false, true}) {
        glLoadIdentity();
        glTranslatef(0, -3, -5);
        Camera camera;
        camera.eye = Vec3(1, 2, 3);
        camera.target = relative ? Vec3(4, -2, 1) : Vec3(5, 0, 4);
        camera.relative = relative;
        camera.apply();
        EXPECT_EQ(toEye(1, 2, 3), "0.0000 -3.0000 -5.0000") << relative;
        EXPECT_EQ(toEye(5, 0, 4), "0.0000 -3.0000 -9.5826") << relative;
        EXPECT_EQ(toEye(1, 3, 3).substr(0, 7), "0.0000 ") << "up stays in the y-z plane";
    }
}
