// Tests of Texture loading and upload on a real, off-screen GL context: the
// path rules, which path records the size, and the texels read back.
//
// Test thread, with the off-screen context current. Sizes in pixels. Files are
// written under the build folder and named by relative, lower-case paths, since
// Texture::load lower-cases the whole path.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/offscreen.h"
#include "platform/platform.h"
#include "resources/dib.h"
#include "resources/model.h"
#include "resources/texture.h"
#include "test_files.h"

using namespace testfiles;

namespace {

const std::string DIR = "test-scratch/texture";

Bytes flatJpeg(int width, int height, int components) {
    return encodeJpeg(width, height, components, Bytes(size_t(width * height * components), 90));
}

// The show never frees a Texture's name copy; the tests do.
struct OwnedTexture : Texture {
    ~OwnedTexture() { free(fileName); }
};

GLint levelParameter(int level, GLenum name) {
    GLint value = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, name, &value);
    return value;
}

// Level 0 of a texture read back in the given format, rows packed tightly.
Bytes texels(GLuint id, GLenum format, size_t size) {
    Bytes out(size, 0xCC);
    glBindTexture(GL_TEXTURE_2D, id);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, format, GL_UNSIGNED_BYTE, out.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return out;
}

} // namespace

class TextureGl : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Relative data paths are resolved from the build folder.
        if (chdir(TUHKALA_BINARY_DIR) != 0) {
            return;
        }
        scratchDir("texture");
        platform::setMessageBoxesEnabled(false);
        contextOpen = platform::openOffscreen(64, 64, &contextError);
    }
    static void TearDownTestSuite() {
        if (contextOpen) {
            platform::closeOffscreen();
        }
    }
    void SetUp() override {
        if (!contextOpen) {
            GTEST_SKIP() << "no off-screen GL context: " << contextError;
        }
    }
    inline static bool contextOpen = false;
    inline static std::string contextError;
};

TEST_F(TextureGl, UpperCasePathIsLowerCasedAndOpened) {
    ASSERT_TRUE(writeFile(DIR + "/pic.jpg", flatJpeg(16, 8, 3)));
    OwnedTexture texture;
    EXPECT_EQ(texture.load("TEST-SCRATCH\\TEXTURE\\PIC.JPG"), 0);
    EXPECT_STREQ(texture.fileName, "test-scratch\\texture\\pic.jpg");
    ASSERT_NE(texture.textureId, 0u);
    EXPECT_TRUE(glIsTexture(texture.textureId));
    texture.bind();
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), texture.textureId);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 16);
    EXPECT_EQ(levelParameter(1, GL_TEXTURE_WIDTH), 8); // mipmaps were built
    GLint filter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
    EXPECT_EQ(filter, GL_LINEAR_MIPMAP_NEAREST);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &filter);
    EXPECT_EQ(filter, GL_LINEAR);
    // The JPEG path does not record the size.
    EXPECT_EQ(texture.width, 0);
    EXPECT_EQ(texture.height, 0);
}

TEST_F(TextureGl, OtherExtensionsLoadNothing) {
    Bytes picture = flatJpeg(8, 8, 3);
    for (const char* name : {"/pic.jpeg", "/pic.png", "/pic.tga", "/pic"}) {
        ASSERT_TRUE(writeFile(DIR + name, picture));
        OwnedTexture texture;
        EXPECT_EQ(texture.load((DIR + name).c_str()), 0);
        EXPECT_EQ(texture.textureId, 0u) << name;
    }
    OwnedTexture missing;
    EXPECT_EQ(missing.load("test-scratch/texture/missing.jpg"), 0);
    EXPECT_EQ(missing.loadBmp("test-scratch/texture/missing.bmp"), 1);
}

TEST_F(TextureGl, BothSubstringsMeanBothPathsBmpFirst) {
    // A JPEG named x.bmp.jpg: the BMP path runs first and rejects it (its
    // message shows), then the JPEG path makes the texture.
    ASSERT_TRUE(writeFile(DIR + "/x.bmp.jpg", flatJpeg(8, 8, 3)));
    OwnedTexture texture;
    testing::internal::CaptureStderr();
    texture.load("test-scratch/texture/x.bmp.jpg");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Unknown DIB file format.\n");
    EXPECT_NE(texture.textureId, 0u);
    EXPECT_EQ(texture.width, 0);

    // A directory named .jpg picks the JPEG path for a BMP file too: the BMP
    // path uploads, the JPEG path then fails quietly and leaves that texture.
    mkdir((DIR + "/d.jpg").c_str(), 0755);
    ASSERT_TRUE(writeFile(DIR + "/d.jpg/p.bmp", gradientBmp(4, 4)));
    OwnedTexture both;
    both.load("test-scratch/texture/d.jpg/p.bmp");
    EXPECT_NE(both.textureId, 0u);
    EXPECT_EQ(both.width, 4);
}

TEST_F(TextureGl, UploadReadsBackExactlyAtOddWidths) {
    // Width 2: 6-byte rows, not a multiple of 4. (Sides stay powers of two, as
    // gluBuild2DMipmaps rescales other sizes, level 0 included.)
    ASSERT_TRUE(writeFile(DIR + "/odd.bmp", gradientBmp(2, 2)));
    OwnedTexture texture;
    texture.load("test-scratch/texture/odd.bmp");
    ASSERT_NE(texture.textureId, 0u);
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 4); // restored after the upload
    // First texel row is the bottom row: (x, 0, 7) for x = 0, 1, then (x, 1, 7).
    EXPECT_EQ(texels(texture.textureId, GL_RGB, 12), (Bytes{0, 0, 7, 1, 0, 7, 0, 1, 7, 1, 1, 7}));

    // A grey JPEG uploads as luminance, one byte per texel.
    ASSERT_TRUE(writeFile(DIR + "/grey.jpg", flatJpeg(2, 4, 1)));
    OwnedTexture grey;
    grey.load("test-scratch/texture/grey.jpg");
    ASSERT_NE(grey.textureId, 0u);
    for (unsigned char value : texels(grey.textureId, GL_LUMINANCE, 8)) {
        EXPECT_NEAR(value, 90, 2);
    }
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 2);
    EXPECT_GT(levelParameter(0, GL_TEXTURE_LUMINANCE_SIZE), 0);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_RED_SIZE), 0);
}

TEST_F(TextureGl, ModelLoadsTexturesOfTexturedMaterialsOnly) {
    ASSERT_TRUE(writeFile(DIR + "/wood.bmp", gradientBmp(8, 4)));
    Bytes file = file3ds({
        material("Plain"),
        material("Wood", {chunk(0xA200, {chunk(0xA300, {str("TEST-SCRATCH/TEXTURE/WOOD.BMP")})})}),
        material("NoName", {chunk(0xA200, {})}),
    });
    Model model;
    model.loadFromMemory(file.data(), file.size());
    ASSERT_EQ(model.materialCount, 3);
    model.loadTextures();
    EXPECT_EQ(model.materials[0]->texture.textureId, 0u);
    EXPECT_EQ(model.materials[0]->texture.fileName, nullptr);
    EXPECT_NE(model.materials[1]->texture.textureId, 0u);
    EXPECT_EQ(model.materials[1]->texture.width, 8); // the BMP path records the size
    EXPECT_EQ(model.materials[1]->texture.height, 4);
    EXPECT_STREQ(model.materials[1]->texture.fileName, "test-scratch/texture/wood.bmp");
    // A texture map without a name: an empty path loads nothing.
    EXPECT_EQ(model.materials[2]->texture.textureId, 0u);
    EXPECT_STREQ(model.materials[2]->texture.fileName, "");
    freeModelRecords(&model);
}
