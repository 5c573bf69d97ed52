// Picture files turned into mipmapped OpenGL 2D textures: the decoder is
// chosen from ".bmp" and ".jpg" anywhere in the lower-cased path.
//
// Main thread, with the GL context current. Sizes in pixels.
#include "resources/texture.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "resources/dib.h"
#include "resources/jpeg.h"

namespace {

// Every texture's minification filter: the nearest mipmap, sampled linearly.
constexpr GLint MIPMAPPED_MIN_FILTER = GL_LINEAR_MIPMAP_NEAREST;

} // namespace

int Texture::load(const char* path) {
    if (!path) {
        return 0;
    }
    size_t length = strlen(path);
    fileName = static_cast<char*>(malloc(length + 1));
    if (!fileName) {
        return 0;
    }
    for (size_t i = 0; i <= length; i++) {
        char c = path[i];
        fileName[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    // Substring tests, not suffix tests, and not exclusive: "x.bmp.jpg" goes
    // through both paths, BMP first.
    if (strstr(fileName, ".bmp")) {
        loadBmp(fileName);
    }
    if (strstr(fileName, ".jpg")) {
        loadJpg(fileName);
    }
    return 0;
}

int Texture::loadBmp(const char* path) {
    DibImage* image = loadDibImage(path, false);
    if (!image) {
        return 1;
    }
    width = image->width;
    height = image->height;
    uploadTexturePixels(this, 3, width, height, image->pixels);
    freeDibImage(image);
    return 0;
}

int Texture::loadJpg(const char* path) {
    std::vector<unsigned char> bytes;
    if (!platform::readDataFile(path, bytes) || bytes.size() > static_cast<size_t>(INT_MAX)) {
        return 0;
    }
    int imageWidth = 0;
    int imageHeight = 0;
    int channels = 0;
    unsigned char* pixels = decodeJpeg(&imageWidth, &imageHeight, &channels, bytes.data(),
                                       static_cast<int>(bytes.size()));
    if (!pixels) {
        return 0;
    }
    // The JPEG path does not record the size in the Texture.
    uploadTexturePixels(this, channels, imageWidth, imageHeight, pixels);
    free(pixels);
    return 0;
}

void Texture::bind() {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, textureId);
}

bool Texture::drawnFromLevelZero(float pixelWidth, float pixelHeight) const {
    if (textureId == 0 || levelWidth <= 0 || levelHeight <= 0)
        return false;
    // Compared without division, so a NaN or a zero size answers false.
    return levelWidth * 3.0f <= pixelWidth * 4.0f && levelHeight * 3.0f <= pixelHeight * 4.0f;
}

void Texture::sampleLevelZeroOnly(bool on) {
    // Level 0 under GL_LINEAR is what GL_LINEAR_MIPMAP_NEAREST samples below
    // a level of detail of 0.5, and the magnification filter is GL_LINEAR too.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, on ? GL_LINEAR : MIPMAPPED_MIN_FILTER);
}

void uploadTexturePixels(Texture* texture, int components, int width, int height,
                         const unsigned char* pixels) {
    GLenum format;
    if (components == 3) {
        format = GL_RGB;
    } else if (components == 1) {
        format = GL_LUMINANCE;
    } else {
        return;
    }
    if (!texture || !pixels || width <= 0 || height <= 0) {
        return;
    }
    GLuint id = 0;
    glGenTextures(1, &id);
    texture->textureId = id;
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, MIPMAPPED_MIN_FILTER);

    // Rows are packed without gaps; with the default alignment of 4, a row
    // whose length is not a multiple of 4 bytes would be read at the wrong
    // stride and past the end of the buffer.
    GLint savedAlignment = 4;
    bool packedRows = (static_cast<long long>(width) * components) % 4 != 0;
    if (packedRows) {
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &savedAlignment);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    }
    glTexImage2D(GL_TEXTURE_2D, 0, components, width, height, 0, format, GL_UNSIGNED_BYTE, pixels);
    gluBuild2DMipmaps(GL_TEXTURE_2D, components, width, height, format, GL_UNSIGNED_BYTE, pixels);
    // GLU may have scaled the image to powers of two: the size GL holds is
    // the one that decides which level a draw samples.
    GLint levelWidth = 0;
    GLint levelHeight = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &levelWidth);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &levelHeight);
    texture->levelWidth = levelWidth;
    texture->levelHeight = levelHeight;
    if (packedRows) {
        glPixelStorei(GL_UNPACK_ALIGNMENT, savedAlignment);
    }
}
