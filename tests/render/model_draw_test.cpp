// Tests of Model::draw and Model::drawUntextured on hand-built records, by
// where the vertices land (GL feedback), the pixels drawn and the GL state left.
//
// Main thread; model positions in mesh-file units, screen positions in pixels.
#include <GL/glu.h>

#include <cmath>
#include <limits>

#include "render_fixture.h"
#include "resources/model.h"

namespace {

// One mesh of a triangle facing the viewer at z = -20 file units (-1.8 after
// scaling), covering the screen centre and inside the view so that clipping
// adds no vertices, plus the records that own it.
struct TestModel {
    Model model;
    Mesh mesh;
    MeshVertex vertices[4];
    Face faces[2];
    FaceGroup groups[3];
    Material materials[3];

    TestModel() {
        const float positions[4][3] = {{-5, -5, -20}, {5, -5, -20}, {0, 5, -20}, {10, 0, -20}};
        for (int i = 0; i < 4; ++i) {
            vertices[i].position = Vec3(positions[i][0], positions[i][1], positions[i][2]);
            vertices[i].normal = Vec3(0, 0, 1);
            vertices[i].u = 0.5f;
            vertices[i].v = 0.5f;
        }
        faces[0] = Face{0, 1, 2};
        faces[1] = Face{0, 1, 3};
        mesh.vertices = vertices;
        mesh.vertexCount = 4;
        mesh.faces = faces;
        mesh.faceCount = 1;
        groups[0].faces = faces;
        groups[0].faceCount = 1;
        groups[0].materialIndex = 0;
        mesh.groups[0] = &groups[0];
        mesh.groupCount = 1;
        model.meshes[0] = &mesh;
        model.meshCount = 1;
        for (int i = 0; i < 3; ++i) {
            model.materials[i] = &materials[i];
        }
        model.materialCount = 1;
    }
};

class ModelDraw : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45.0, 640.0 / 480.0, 0.1, 100.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        // One white light straight from the viewer and the vertex colour as
        // the material, so a lit face shows exactly its vertex colour.
        const GLfloat black[] = {0, 0, 0, 1};
        const GLfloat white[] = {1, 1, 1, 1};
        const GLfloat towardViewer[] = {0, 0, 1, 0};
        glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
        glLightfv(GL_LIGHT1, GL_AMBIENT, black);
        glLightfv(GL_LIGHT1, GL_DIFFUSE, white);
        glLightfv(GL_LIGHT1, GL_POSITION, towardViewer);
        glEnable(GL_LIGHT1);
        glEnable(GL_COLOR_MATERIAL);
        glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    }

    // Window positions of every vertex the call sends, in order.
    template <typename Draw> std::vector<std::array<float, 3>> feedback(Draw draw) {
        std::vector<GLfloat> buffer(4096);
        glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D, buffer.data());
        glRenderMode(GL_FEEDBACK);
        draw();
        GLint used = glRenderMode(GL_RENDER);
        std::vector<std::array<float, 3>> points;
        for (GLint i = 0; i < used;) {
            EXPECT_EQ(buffer[i], static_cast<GLfloat>(GL_POLYGON_TOKEN));
            int count = static_cast<int>(buffer[i + 1]);
            for (int k = 0; k < count; ++k) {
                const GLfloat* p = &buffer[i + 2 + 3 * k];
                points.push_back({p[0], p[1], p[2]});
            }
            i += 2 + 3 * count;
        }
        return points;
    }

    static std::array<double, 3> project(double x, double y, double z) {
        GLdouble modelview[16], projection[16];
        GLint viewport[4];
        glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glGetIntegerv(GL_VIEWPORT, viewport);
        std::array<double, 3> w{};
        gluProject(x, y, z, modelview, projection, viewport, &w[0], &w[1], &w[2]);
        return w;
    }

    static GLint blendFunc(GLenum which) {
        GLint value = 0;
        glGetIntegerv(which, &value);
        return value;
    }

    TestModel t;
};

TEST_F(ModelDraw, PositionsAreScaledBeforeProjection) {
    t.groups[0].faces = &t.faces[1];
    t.mesh.faces = &t.faces[1];
    for (bool textured : {true, false}) {
        auto points = feedback([&] { textured ? t.model.draw() : t.model.drawUntextured(); });
        ASSERT_EQ(points.size(), 3u);
        // The third corner is (10, 0, -20): it lands where (0.9, 0, -1.8) projects.
        std::array<double, 3> expected = project(0.9, 0.0, -1.8);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(points[2][c], expected[c], 1e-3) << c;
        }
        std::array<double, 3> first = project(-0.45, -0.45, -1.8);
        EXPECT_NEAR(points[0][0], first[0], 1e-3);
        EXPECT_NEAR(points[0][1], first[1], 1e-3);
    }
}

TEST_F(ModelDraw, TranslucentMaterialBlendsWhenTheCallerEnabledBlending) {
    t.materials[0].opacity = 0.5f;
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    clearTo(0, 0, 1);
    t.model.draw();
    EXPECT_EQ(blendFunc(GL_BLEND_SRC), GL_SRC_ALPHA);
    EXPECT_EQ(blendFunc(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    grab();
    EXPECT_TRUE(rgbNear(pixel(320, 240), 128, 128, 255));
    // Not-a-number opacity counts as translucent too.
    glBlendFunc(GL_ONE, GL_ZERO);
    t.materials[0].opacity = std::numeric_limits<float>::quiet_NaN();
    t.model.draw();
    EXPECT_EQ(blendFunc(GL_BLEND_SRC), GL_SRC_ALPHA);
}

TEST_F(ModelDraw, OpaqueMaterialLeavesTheBlendFunctionAlone) {
    for (float opacity : {1.0f, 1.5f}) {
        t.materials[0].opacity = opacity;
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        clearTo(0, 0, 0.4f);
        t.model.draw();
        EXPECT_EQ(blendFunc(GL_BLEND_SRC), GL_ONE);
        EXPECT_EQ(blendFunc(GL_BLEND_DST), GL_ONE);
        // Without the caller's blending the face is drawn opaque.
        glDisable(GL_BLEND);
        clearTo(0, 0, 0.4f);
        t.model.draw();
        grab();
        EXPECT_TRUE(rgbNear(pixel(320, 240), 255, 255, 255));
        EXPECT_FALSE(glIsEnabled(GL_BLEND));
    }
}

TEST_F(ModelDraw, MaterialTextureIsBoundAndModulated) {
    uploadTexturePixels(&t.materials[0].texture, 3, 4, 4,
                        std::vector<unsigned char>(48, 0x50).data());
    t.materials[0].texture.bind();
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
    clearTo(0, 0, 0);
    t.model.draw();
    grab();
    EXPECT_TRUE(rgbNear(pixel(320, 240), 0x50, 0x50, 0x50));
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), t.materials[0].texture.textureId);
    // A group without faces still binds its material's texture.
    t.groups[0].faceCount = 0;
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_LIGHTING);
    t.model.draw();
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), t.materials[0].texture.textureId);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
}

TEST_F(ModelDraw, MissingMaterialDrawsOpaqueUntexturedAndReadsNothingBeyond) {
    Texture* red = makeSolidTexture(255, 0, 0);
    // The slot just past the loaded materials holds a translucent, textured
    // material: none of it may show.
    t.materials[1].opacity = 0.25f;
    uploadTexturePixels(&t.materials[1].texture, 3, 4, 4, std::vector<unsigned char>(48, 0).data());
    for (int index : {1, 999, -1, MAX_MATERIALS + 5}) {
        t.groups[0].materialIndex = index;
        red->bind();
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        clearTo(0, 0, 0);
        t.model.draw();
        grab();
        EXPECT_TRUE(rgbNear(pixel(320, 240), 255, 255, 255)) << index;
        EXPECT_EQ(blendFunc(GL_BLEND_SRC), GL_ONE) << index;
        GLint bound = -1;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(bound, 0) << index;
        EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    }
    // A material count beyond the capacity does not widen the range.
    t.model.materialCount = MAX_MATERIALS + 10;
    t.groups[0].materialIndex = MAX_MATERIALS + 5;
    EXPECT_EQ(feedback([&] { t.model.draw(); }).size(), 3u);
}

TEST_F(ModelDraw, GroupsDecideWhichFacesTheTexturedPathDraws) {
    // Two groups list the same face; a corrupt face names a missing vertex.
    Face corrupt{0, 1, 4};
    Face listed[2] = {corrupt, t.faces[0]};
    t.groups[0].faces = listed;
    t.groups[0].faceCount = 2;
    t.groups[1].faces = t.faces;
    t.groups[1].faceCount = 1;
    t.mesh.groups[1] = &t.groups[1];
    t.mesh.groupCount = 2;
    EXPECT_EQ(feedback([&] { t.model.draw(); }).size(), 6u);

    // Faces in no group: only the untextured path draws them.
    t.mesh.groupCount = 0;
    t.mesh.faceCount = 2;
    EXPECT_EQ(feedback([&] { t.model.draw(); }).size(), 0u);
    clearTo(0, 0, 0);
    t.model.draw();
    grab();
    EXPECT_TRUE(rgbNear(pixel(320, 240), 0, 0, 0, 0));
    t.mesh.faces = listed;
    EXPECT_EQ(feedback([&] { t.model.drawUntextured(); }).size(), 3u);
    t.model.drawUntextured();
    grab();
    EXPECT_TRUE(rgbNear(pixel(320, 240), 255, 255, 255));
}

TEST_F(ModelDraw, UntexturedPathIsOpaqueWhiteAndLeavesLightingOnBlendingOff) {
    t.materials[0].opacity = 0.1f;
    t.mesh.faceCount = 1;
    Mesh second = t.mesh;
    second.groupCount = 0;
    t.model.meshes[1] = &second;
    t.model.meshCount = 2;
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    clearTo(0, 0, 0.5f);
    t.model.drawUntextured();
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(blendFunc(GL_BLEND_SRC), GL_ONE);
    GLfloat color[4] = {};
    glGetFloatv(GL_CURRENT_COLOR, color);
    EXPECT_EQ(color[3], 1.0f);
    grab();
    EXPECT_TRUE(rgbNear(pixel(320, 240), 255, 255, 255));
    EXPECT_EQ(feedback([&] { t.model.drawUntextured(); }).size(), 6u);

    // A model without meshes only turns blending on.
    Model empty;
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    empty.drawUntextured();
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    empty.draw();
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
}

} // namespace
