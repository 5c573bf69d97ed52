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

// A 4 x 4 picture in which every texel differs: red grows along a row, green
// down the picture. Screen (80 + 160 i, 60 + 120 j) is the centre of texel
// (i, j) when the picture covers the screen.
std::vector<unsigned char> gradientPixels() {
    std::vector<unsigned char> rgb;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            rgb.insert(rgb.end(), {static_cast<unsigned char>(40 + 60 * column),
                                   static_cast<unsigned char>(30 + 70 * row), 90});
        }
    }
    return rgb;
}

class Overlay : public RenderTest {
  protected:
    // Checks that screen texel centres show texel (sourceColumn(i), sourceRow(j)).
    template <typename Map> void expectGradient(Map mapTexel) {
        grab();
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 4; ++i) {
                int column = i;
                int row = j;
                mapTexel(&column, &row);
                EXPECT_TRUE(
                    rgbNear(pixel(80 + 160 * i, 60 + 120 * j), 40 + 60 * column, 30 + 70 * row, 90))
                    << "screen texel " << i << ", " << j;
            }
        }
    }
};

TEST_F(Overlay, FullScreenRectangleCoversEveryViewportExactly) {
    Texture* white = makeSolidTexture(255, 255, 255);
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
        int left = v[0], right = v[0] + v[2] - 1;
        int top = 480 - (v[1] + v[3]), bottom = 480 - v[1] - 1;
        int count = 0;
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                bool inside = x >= left && x <= right && y >= top && y <= bottom;
                count += pixel(x, y)[0] == 255;
                if (inside != (pixel(x, y)[0] == 255)) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " inside " << inside;
                    return;
                }
            }
        }
        EXPECT_EQ(count, v[2] * v[3]);
    }
}

TEST_F(Overlay, FadeCoversTheWholeViewportOfALargerSurface) {
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

TEST_F(Overlay, PictureShowsUprightWithItsFirstRowAtTheTop) {
    Texture* picture = makeTexture(4, 4, gradientPixels());
    clearTo(0, 0, 0);
    drawImage(picture, 0, 0, 640, 480, 1.0f, false);
    expectGradient([](int*, int*) {});
}

// A 16 x 16 JPEG file in quadrants: red top left, green top right, blue
// bottom left, white bottom right. Full-resolution colour, so the 8 x 8 blocks
// keep the quadrants clean.
std::vector<unsigned char> quadrantJpeg() {
    std::vector<unsigned char> rgb;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            bool right = x >= 8;
            bool bottom = y >= 8;
            unsigned char r = (!right && !bottom) || (right && bottom) ? 255 : 0;
            unsigned char g = (right && !bottom) || (right && bottom) ? 255 : 0;
            unsigned char b = bottom ? 255 : 0;
            rgb.insert(rgb.end(), {r, g, b});
        }
    }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = 16;
    cinfo.image_height = 16;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    cinfo.comp_info[0].h_samp_factor = 1;
    cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < 16) {
        JSAMPROW row = &rgb[cinfo.next_scanline * 16 * 3];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<unsigned char> file(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    free(buffer);
    return file;
}

TEST_F(Overlay, JpegPictureShowsUpright) {
    std::string path = "/tmp/tuhkala_render_" + std::to_string(getpid()) + ".jpg";
    std::vector<unsigned char> file = quadrantJpeg();
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), out), file.size());
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
    EXPECT_TRUE(rgbNear(pixel(160, 120), 255, 0, 0, 8));
    EXPECT_TRUE(rgbNear(pixel(480, 120), 0, 255, 0, 8));
    EXPECT_TRUE(rgbNear(pixel(160, 360), 0, 0, 255, 8));
    EXPECT_TRUE(rgbNear(pixel(480, 360), 255, 255, 255, 8));
}

TEST_F(Overlay, OneMirroredAxisIsCulledAndTwoTurnThePictureHalfway) {
    Texture* picture = makeTexture(4, 4, gradientPixels());
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    for (auto corners :
         {std::array<float, 4>{640, 0, 0, 480}, std::array<float, 4>{0, 480, 640, 0}}) {
        clearTo(0, 0, 0);
        drawImage(picture, corners[0], corners[1], corners[2], corners[3], 1.0f, false);
        grab();
        EXPECT_TRUE(rgbNear(pixel(320, 240), 0, 0, 0, 0)) << corners[0] << "," << corners[1];
        EXPECT_TRUE(rgbNear(pixel(80, 60), 0, 0, 0, 0));
    }
    clearTo(0, 0, 0);
    drawImage(picture, 640, 480, 0, 0, 1.0f, false);
    expectGradient([](int* column, int* row) {
        *column = 3 - *column;
        *row = 3 - *row;
    });
    // The normal corner order faces the viewer under the same culling.
    clearTo(0, 0, 0);
    drawImage(picture, 0, 0, 640, 480, 1.0f, false);
    expectGradient([](int*, int*) {});
}

TEST_F(Overlay, RectangleLargerThanTheScreenIsCentredAndClipped) {
    Texture* picture = makeTexture(4, 4, gradientPixels());
    clearTo(0, 0, 0);
    // Each texel is 180 x 135 screen units; texel (1, 1) spans x 140..320, y 105..240.
    drawImage(picture, -40, -30, 680, 510, 1.0f, false);
    grab();
    EXPECT_TRUE(rgbNear(pixel(230, 172), 100, 100, 90));
    EXPECT_TRUE(rgbNear(pixel(410, 307), 160, 170, 90));
}

TEST_F(Overlay, BlendModesMixOrAddAlphaTimesThePicture) {
    Texture* picture = makeSolidTexture(200, 100, 40);
    // Background (51, 102, 153).
    clearTo(0.2f, 0.4f, 0.6f);
    drawImage(picture, 0, 0, 640, 480, 0.0f, false);
    drawImage(picture, 0, 0, 640, 480, 0.0f, true);
    grab();
    EXPECT_TRUE(rgbNear(pixel(320, 240), 51, 102, 153, 0));

    drawImage(picture, 0, 0, 640, 480, 0.5f, true);
    grab();
    EXPECT_TRUE(rgbNear(pixel(320, 240), 151, 152, 173));

    clearTo(0.2f, 0.4f, 0.6f);
    drawImage(picture, 0, 0, 640, 480, 0.25f, false);
    grab();
    EXPECT_TRUE(rgbNear(pixel(320, 240), 88, 101, 125));
}

TEST_F(Overlay, TintMultipliesThePictureAndFadeIgnoresTheBoundTexture) {
    Texture* picture = makeSolidTexture(200, 200, 100);
    clearTo(0, 0, 0);
    drawTintedImage(picture, 0, 0, 320, 480, 1.0f, 0.5f, 0.0f, 1.0f, false);
    drawTintedImage(picture, 320, 0, 640, 480, 0.0f, 1.0f, 1.0f, 0.5f, true);
    grab();
    EXPECT_TRUE(rgbNear(pixel(100, 240), 200, 100, 0));
    EXPECT_TRUE(rgbNear(pixel(500, 240), 0, 100, 50));

    // The caller's texture stays bound and enabled; the fade is plain colour.
    Texture* black = makeSolidTexture(0, 0, 0);
    black->bind();
    clearTo(0, 0, 1);
    drawFade(1.0f, 0.0f, 0.0f, 0.5f);
    grab();
    EXPECT_TRUE(rgbNear(pixel(320, 240), 128, 0, 127));
}

TEST_F(Overlay, DrawsAnUnloadedPictureAsPlainColour) {
    Texture never;
    clearTo(0, 0, 0);
    drawTintedImage(&never, 0, 0, 640, 480, 0.0f, 1.0f, 0.0f, 1.0f, false);
    drawImage(nullptr, 0, 0, 320, 480, 1.0f, false);
    grab();
    EXPECT_TRUE(rgbNear(pixel(100, 100), 255, 255, 255, 0));
    EXPECT_TRUE(rgbNear(pixel(500, 100), 0, 255, 0, 0));
}

// The GL state an effect relies on across an overlay call, read back with
// glGet: capabilities, blend factors, texture binding, matrix mode and stack
// depths, then both matrices and the current colour.
std::vector<double> takeState() {
    std::vector<double> state;
    for (GLenum capability : {GL_LIGHTING, GL_DEPTH_TEST, GL_BLEND, GL_TEXTURE_2D, GL_TEXTURE_GEN_S,
                              GL_TEXTURE_GEN_T, GL_CULL_FACE}) {
        state.push_back(glIsEnabled(capability));
    }
    for (GLenum query :
         {GL_BLEND_SRC, GL_BLEND_DST, GL_TEXTURE_BINDING_2D, GL_MATRIX_MODE,
          GL_MODELVIEW_STACK_DEPTH, GL_PROJECTION_STACK_DEPTH, GL_ATTRIB_STACK_DEPTH}) {
        GLint value = -1;
        glGetIntegerv(query, &value);
        state.push_back(value);
    }
    GLfloat values[16];
    for (GLenum query : {GL_MODELVIEW_MATRIX, GL_PROJECTION_MATRIX, GL_CURRENT_COLOR}) {
        glGetFloatv(query, values);
        state.insert(state.end(), values, values + (query == GL_CURRENT_COLOR ? 4 : 16));
    }
    return state;
}

TEST_F(Overlay, EveryCallLeavesTheCallersStateAsItWas) {
    Texture* picture = makeSolidTexture(10, 20, 30);
    Texture* other = makeSolidTexture(30, 20, 10);
    for (bool enabled : {true, false}) {
        SCOPED_TRACE(enabled ? "capabilities on" : "capabilities off");
        auto set = [&](GLenum capability) {
            enabled ? glEnable(capability) : glDisable(capability);
        };
        for (GLenum capability : {GL_LIGHTING, GL_DEPTH_TEST, GL_BLEND, GL_TEXTURE_2D,
                                  GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_CULL_FACE}) {
            set(capability);
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
}

TEST_F(Overlay, OverlaysNeitherTestNorWriteDepth) {
    Texture* red = makeSolidTexture(255, 0, 0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glClearDepth(0.0);
    clearTo(0, 0, 0);
    // Every fragment would fail a depth test against 0.
    drawImage(red, 0, 0, 640, 480, 1.0f, false);
    grab();
    EXPECT_TRUE(rgbNear(pixel(320, 240), 255, 0, 0, 0));
    GLfloat depth = -1.0f;
    glReadPixels(320, 240, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    EXPECT_EQ(depth, 0.0f);
    glClearDepth(1.0);
}

} // namespace
