// Tests of Model::draw and Model::drawUntextured on hand-built records, by
// where the vertices land (GL feedback), the pixels drawn and the GL state left.
//
// Main thread; model positions in mesh-file units, screen positions in pixels.
#include <GL/glu.h>

#include <limits>

#include "render_fixture.h"
#include "resources/model.h"

namespace {

// One mesh of a triangle facing the viewer at z = -20 file units (-1.8 after
// scaling), covering the screen centre and inside the view so that clipping
// adds no vertices, plus the records that own it. Face 1 reaches (10, 0, -20).
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
            vertices[i].u = vertices[i].v = 0.5f;
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
        const GLfloat black[] = {0, 0, 0, 1}, white[] = {1, 1, 1, 1}, front[] = {0, 0, 1, 0};
        glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
        glLightfv(GL_LIGHT1, GL_AMBIENT, black);
        glLightfv(GL_LIGHT1, GL_DIFFUSE, white);
        glLightfv(GL_LIGHT1, GL_POSITION, front);
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
        for (GLint i = 0; i < used; i += 2 + 3 * static_cast<int>(buffer[i + 1])) {
            EXPECT_EQ(buffer[i], static_cast<GLfloat>(GL_POLYGON_TOKEN));
            for (int k = 0; k < static_cast<int>(buffer[i + 1]); ++k) {
                const GLfloat* p = &buffer[i + 2 + 3 * k];
                points.push_back({p[0], p[1], p[2]});
            }
        }
        return points;
    }

    // Draws on a cleared background and returns the screen centre.
    template <typename Draw> std::array<int, 3> centreAfter(Draw draw, float blue = 0) {
        clearTo(0, 0, blue);
        draw();
        return centre();
    }

    TestModel t;
};

TEST_F(ModelDraw, PositionsAreScaledBeforeProjection) {
    // A parallel projection of x and y in -1..1 onto the 640 x 480 window.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -10, 10);
    t.groups[0].faces = t.mesh.faces = &t.faces[1];
    for (bool textured : {true, false}) {
        auto points = feedback([&] { textured ? t.model.draw() : t.model.drawUntextured(); });
        ASSERT_EQ(points.size(), 3u);
        // (-5, -5, -20) and (10, 0, -20) land where (-0.45, -0.45) and (0.9, 0) do.
        EXPECT_NEAR(points[0][0], 176, 1e-2) << textured;
        EXPECT_NEAR(points[0][1], 132, 1e-2) << textured;
        EXPECT_NEAR(points[2][0], 608, 1e-2) << textured;
        EXPECT_NEAR(points[2][1], 240, 1e-2) << textured;
        EXPECT_NEAR(points[2][2], 0.59, 1e-4) << textured;
    }
}

TEST_F(ModelDraw, OpacityBelowOneSetsTheBlendFunctionAndOneLeavesItAlone) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float opacity : {0.5f, nan, 1.0f, 1.5f}) {
        SCOPED_TRACE(::testing::Message() << "opacity " << opacity);
        const bool translucent = !(opacity >= 1.0f);
        t.materials[0].opacity = opacity;
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        std::array<int, 3> blended = centreAfter([&] { t.model.draw(); }, 1);
        EXPECT_EQ(glInt(GL_BLEND_SRC), translucent ? GL_SRC_ALPHA : GL_ONE);
        EXPECT_EQ(glInt(GL_BLEND_DST), translucent ? GL_ONE_MINUS_SRC_ALPHA : GL_ONE);
        EXPECT_TRUE(glIsEnabled(GL_LIGHTING) && glIsEnabled(GL_TEXTURE_2D));
        if (opacity == 0.5f) {
            EXPECT_TRUE(rgbNear(blended, 128, 128, 255));
        } else if (!translucent) {
            EXPECT_TRUE(rgbNear(blended, 255, 255, 255));
            // Without the caller's blending the face is drawn opaque too.
            glDisable(GL_BLEND);
            EXPECT_TRUE(rgbNear(centreAfter([&] { t.model.draw(); }, 0.4f), 255, 255, 255));
            EXPECT_FALSE(glIsEnabled(GL_BLEND));
        }
    }
}

TEST_F(ModelDraw, MaterialChoosesTheTextureAndAMissingOneDrawsOpaqueUntextured) {
    uploadTexturePixels(&t.materials[0].texture, 3, 4, 4,
                        std::vector<unsigned char>(48, 0x50).data());
    glDisable(GL_TEXTURE_2D);
    EXPECT_TRUE(rgbNear(centreAfter([&] { t.model.draw(); }), 0x50, 0x50, 0x50));
    EXPECT_EQ(static_cast<GLuint>(glInt(GL_TEXTURE_BINDING_2D)), t.materials[0].texture.textureId);

    // The slot just past the loaded materials holds a translucent, textured
    // material: none of it may show, whatever the index.
    Texture* red = makeTexture(4, 4, {255, 0, 0});
    t.materials[1].opacity = 0.25f;
    uploadTexturePixels(&t.materials[1].texture, 3, 4, 4, std::vector<unsigned char>(48, 0).data());
    for (int index : {1, 999, -1, MAX_MATERIALS + 5}) {
        t.groups[0].materialIndex = index;
        red->bind();
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        EXPECT_TRUE(rgbNear(centreAfter([&] { t.model.draw(); }), 255, 255, 255)) << index;
        EXPECT_EQ(glInt(GL_BLEND_SRC), GL_ONE) << index;
        EXPECT_EQ(glInt(GL_TEXTURE_BINDING_2D), 0) << index;
        EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    }
    // A material count beyond the capacity does not widen the range.
    t.model.materialCount = MAX_MATERIALS + 10;
    EXPECT_EQ(feedback([&] { t.model.draw(); }).size(), 3u);
}

TEST_F(ModelDraw, GroupsDecideWhichFacesTheTexturedPathDraws) {
    // Two groups list the same face; a corrupt face names a missing vertex.
    Face listed[2] = {Face{0, 1, 4}, t.faces[0]};
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
    t.mesh.faces = listed;
    EXPECT_EQ(feedback([&] { t.model.draw(); }).size(), 0u);
    EXPECT_TRUE(rgbNear(centreAfter([&] { t.model.draw(); }), 0, 0, 0, 0));
    EXPECT_EQ(feedback([&] { t.model.drawUntextured(); }).size(), 3u);
    EXPECT_TRUE(rgbNear(centreAfter([&] { t.model.drawUntextured(); }), 255, 255, 255));
}

TEST_F(ModelDraw, UntexturedPathIsOpaqueWhiteAndLeavesLightingOnBlendingOff) {
    t.materials[0].opacity = 0.1f;
    Mesh second = t.mesh;
    second.groupCount = 0;
    t.model.meshes[1] = &second;
    t.model.meshCount = 2;
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    EXPECT_TRUE(rgbNear(centreAfter([&] { t.model.drawUntextured(); }, 0.5f), 255, 255, 255));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(glInt(GL_BLEND_SRC), GL_ONE);
    GLfloat color[4] = {};
    glGetFloatv(GL_CURRENT_COLOR, color);
    EXPECT_EQ(color[3], 1.0f);
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
