// Tests of the screen overlays, by the pixels they leave in the frame and the
// GL state they leave behind.
//
// Main thread; screen positions in pixels, top row 0.
#include "render/overlay.h"

#include <GL/glu.h>
#include <unistd.h>

#include <cstdio>
#include <jpeglib.h>

#include "render_fixture.h"

namespace {

class Overlay : public RenderTest {
  protected:
    // A 4 x 4 picture in which every texel differs: red grows along a row,
    // green down the picture.
    Texture* gradient() {
        std::vector<unsigned char> rgb;
        for (int texel = 0; texel < 16; ++texel) {
            rgb.insert(rgb.end(), {static_cast<unsigned char>(40 + 60 * (texel % 4)),
                                   static_cast<unsigned char>(30 + 70 * (texel / 4)), 90});
        }
        return makeTexture(4, 4, rgb);
    }
    // Screen (80 + 160 i, 60 + 120 j) shows texel (i, j), or (3 - i, 3 - j)
    // when the picture is turned by half a turn.
    void expectGradient(bool turned) {
        grab();
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 4; ++i) {
                int column = turned ? 3 - i : i, row = turned ? 3 - j : j;
                EXPECT_TRUE(
                    rgbNear(pixel(80 + 160 * i, 60 + 120 * j), 40 + 60 * column, 30 + 70 * row, 90))
                    << "screen texel " << i << ", " << j;
            }
        }
    }
};

TEST_F(Overlay, FullScreenRectangleCoversEveryViewportExactly) {
    Texture* white = makeTexture(4, 4, {255, 255, 255});
    const int viewports[][4] = {
        {0, 0, 640, 480}, {0, 0, 320, 240}, {37, 11, 201, 99}, {600, 400, 40, 80}};
    for (const auto& v : viewports) {
        SCOPED_TRACE(::testing::Message() << v[0] << "," << v[1] << " " << v[2] << "x" << v[3]);
        glViewport(0, 0, 640, 480);
        clearTo(0, 0, 0);
        glViewport(v[0], v[1], v[2], v[3]);
        drawImage(white, 0, 0, 640, 480, 1.0f, false);
        grab();
        // The viewport's rows in screen order: GL's y counts from the bottom.
        int wrong = 0;
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                bool inside =
                    x >= v[0] && x < v[0] + v[2] && y >= 480 - v[1] - v[3] && y < 480 - v[1];
                wrong += inside != (pixel(x, y)[0] == 255);
            }
        }
        EXPECT_EQ(wrong, 0);
    }
    // The fade too, on a surface larger than the virtual screen.
    platform::closeOffscreen();
    ASSERT_TRUE(platform::openOffscreen(800, 600, nullptr));
    clearTo(0, 0, 0);
    drawFade(0, 1, 0, 1);
    grab();
    for (int y : {0, 299, 599}) {
        for (int x : {0, 400, 799}) {
            EXPECT_TRUE(rgbNear(pixel(x, y), 0, 255, 0, 0)) << x << "," << y;
        }
    }
}

TEST_F(Overlay, PictureIsUprightCulledWhenMirroredOnceAndTurnedWhenTwice) {
    Texture* picture = gradient();
    clearTo(0, 0, 0);
    drawImage(picture, 0, 0, 640, 480, 1.0f, false);
    expectGradient(false);

    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    const float corners[4][4] = {
        {640, 0, 0, 480}, {0, 480, 640, 0}, {640, 480, 0, 0}, {0, 0, 640, 480}};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(::testing::Message() << "corners " << corners[k][0] << "," << corners[k][1]);
        clearTo(0, 0, 0);
        drawImage(picture, corners[k][0], corners[k][1], corners[k][2], corners[k][3], 1, false);
        if (k < 2) {
            EXPECT_TRUE(rgbNear(centre(), 0, 0, 0, 0));
            EXPECT_TRUE(rgbNear(pixel(80, 60), 0, 0, 0, 0));
        } else {
            expectGradient(k == 2);
        }
    }
}

TEST_F(Overlay, JpegPictureShowsUpright) {
    // 16 x 16, red above blue: with one colour per 8 x 8 block the halves stay clean.
    std::vector<unsigned char> rgb;
    for (int texel = 0; texel < 256; ++texel) {
        rgb.insert(rgb.end(), {static_cast<unsigned char>(texel < 128 ? 255 : 0), 0,
                               static_cast<unsigned char>(texel < 128 ? 0 : 255)});
    }
    std::string path = "/tmp/tuhkala_render_" + std::to_string(getpid()) + ".jpg";
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = cinfo.image_height = 16;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < 16) {
        JSAMPROW row = &rgb[cinfo.next_scanline * 16 * 3];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(out);

    Texture picture;
    picture.load(path.c_str());
    std::remove(path.c_str());
    // Textures keep their name for the whole run; this one ends with the test.
    EXPECT_EQ(std::string(picture.fileName), path);
    free(picture.fileName);
    picture.fileName = nullptr;
    ASSERT_NE(picture.textureId, 0u);
    clearTo(0, 0, 0);
    drawImage(&picture, 0, 0, 640, 480, 1.0f, false);
    grab();
    EXPECT_TRUE(rgbNear(pixel(320, 120), 255, 0, 0, 8));
    EXPECT_TRUE(rgbNear(pixel(320, 360), 0, 0, 255, 8));
}

TEST_F(Overlay, BlendModesMixOrAddAlphaTimesThePictureAndTintsMultiply) {
    Texture* picture = makeTexture(4, 4, {200, 100, 40});
    // Background (51, 102, 153); alpha 0 changes nothing in either mode.
    clearTo(0.2f, 0.4f, 0.6f);
    drawImage(picture, 0, 0, 640, 480, 0.0f, false);
    drawImage(picture, 0, 0, 640, 480, 0.0f, true);
    EXPECT_TRUE(rgbNear(centre(), 51, 102, 153, 0));
    drawImage(picture, 0, 0, 640, 480, 0.5f, true);
    EXPECT_TRUE(rgbNear(centre(), 151, 152, 173));
    clearTo(0.2f, 0.4f, 0.6f);
    drawImage(picture, 0, 0, 640, 480, 0.25f, false);
    EXPECT_TRUE(rgbNear(centre(), 88, 101, 125));

    // An unloaded picture draws as plain colour.
    Texture never;
    clearTo(0, 0, 0);
    drawTintedImage(picture, 0, 0, 320, 480, 1.0f, 0.5f, 0.0f, 1.0f, false);
    drawTintedImage(picture, 320, 0, 640, 240, 0.0f, 1.0f, 1.0f, 0.5f, true);
    drawTintedImage(&never, 320, 240, 640, 480, 0.0f, 1.0f, 0.0f, 1.0f, false);
    drawImage(nullptr, 0, 0, 100, 100, 1.0f, false);
    grab();
    EXPECT_TRUE(rgbNear(pixel(200, 240), 200, 50, 0));
    EXPECT_TRUE(rgbNear(pixel(500, 100), 0, 50, 20));
    EXPECT_TRUE(rgbNear(pixel(500, 400), 0, 255, 0, 0));
    EXPECT_TRUE(rgbNear(pixel(50, 50), 255, 255, 255, 0));

    // The caller's texture stays bound and enabled; the fade is plain colour.
    makeTexture(4, 4, {0, 0, 0})->bind();
    clearTo(0, 0, 1);
    drawFade(1.0f, 0.0f, 0.0f, 0.5f);
    EXPECT_TRUE(rgbNear(centre(), 128, 0, 127));
}

// The GL state an effect relies on across an overlay call, read back with
// glGet: capabilities, blend factors, texture binding, matrix mode and stack
// depths, then both matrices and the current colour.
const GLenum CAPABILITIES[] = {GL_LIGHTING,      GL_DEPTH_TEST,    GL_BLEND,    GL_TEXTURE_2D,
                               GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_CULL_FACE};
std::vector<double> takeState() {
    std::vector<double> state;
    for (GLenum capability : CAPABILITIES) {
        state.push_back(glIsEnabled(capability));
    }
    for (GLenum query :
         {GL_BLEND_SRC, GL_BLEND_DST, GL_TEXTURE_BINDING_2D, GL_MATRIX_MODE,
          GL_MODELVIEW_STACK_DEPTH, GL_PROJECTION_STACK_DEPTH, GL_ATTRIB_STACK_DEPTH}) {
        state.push_back(glInt(query));
    }
    GLfloat values[16];
    for (GLenum query : {GL_MODELVIEW_MATRIX, GL_PROJECTION_MATRIX, GL_CURRENT_COLOR}) {
        glGetFloatv(query, values);
        state.insert(state.end(), values, values + (query == GL_CURRENT_COLOR ? 4 : 16));
    }
    return state;
}

TEST_F(Overlay, EveryCallLeavesTheCallersStateAndTheDepthBufferAsTheyWere) {
    Texture* picture = makeTexture(4, 4, {10, 20, 30});
    Texture* other = makeTexture(4, 4, {30, 20, 10});
    for (bool enabled : {true, false}) {
        SCOPED_TRACE(enabled ? "capabilities on" : "capabilities off");
        for (GLenum capability : CAPABILITIES) {
            enabled ? glEnable(capability) : glDisable(capability);
        }
        glBlendFunc(GL_DST_COLOR, GL_SRC_COLOR);
        glBindTexture(GL_TEXTURE_2D, enabled ? other->textureId : 0);
        glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45.0, 640.0 / 480.0, 0.1, 100.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glTranslatef(1.0f, -3.0f, -5.0f);
        glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
        // Both matrix modes: the call must hand back the mode it was given.
        for (GLenum mode : {GL_MODELVIEW, GL_PROJECTION}) {
            glMatrixMode(mode);
            std::vector<double> before = takeState();
            drawImage(picture, 10, 10, 100, 100, 0.5f, true);
            EXPECT_EQ(takeState(), before) << "drawImage";
            drawTintedImage(picture, 10, 10, 100, 100, 1, 0, 0, 0.5f, false);
            EXPECT_EQ(takeState(), before) << "drawTintedImage";
            drawFade(0, 0, 0, 0.3f);
            EXPECT_EQ(takeState(), before) << "drawFade";
        }
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }

    // Overlays neither test nor write depth: every fragment would fail a
    // depth test against 0.
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glClearDepth(0.0);
    clearTo(0, 0, 0);
    drawImage(makeTexture(4, 4, {255, 0, 0}), 0, 0, 640, 480, 1.0f, false);
    EXPECT_TRUE(rgbNear(centre(), 255, 0, 0, 0));
    GLfloat depth = -1.0f;
    glReadPixels(320, 240, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    EXPECT_EQ(depth, 0.0f);
}

} // namespace
