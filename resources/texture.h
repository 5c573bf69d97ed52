// One picture file uploaded once as a mipmapped OpenGL 2D texture.
//
// Main thread, with the GL context current. Sizes in pixels.
#pragma once

class Texture {
  public:
    char* fileName = nullptr;   // lower-cased heap copy of the loaded path
    unsigned int textureId = 0; // GL texture object; 0 until an upload happened
    int width = 0;              // written by the BMP path only
    int height = 0;             // written by the BMP path only
    int levelWidth = 0;         // size of the uploaded image (mipmap level 0) in texels,
    int levelHeight = 0;        // as GL holds it; 0 until an upload happened

    // Keeps a lower-cased copy of the path; loads it through the BMP path when
    // it contains ".bmp" and then through the JPEG path when it contains ".jpg".
    // Returns 0 in every case.
    int load(const char* path);
    // 1 when no image was obtained from the file, else 0.
    int loadBmp(const char* path);
    // 0 in every case.
    int loadJpg(const char* path);
    // Enables 2D texturing and binds the texture object.
    void bind();
    // Whether the whole texture drawn axis-aligned over pixelWidth x
    // pixelHeight pixels is sampled from level 0 alone: at most 4/3 texels to
    // a pixel, so the level of detail stays under 0.5, where the nearest
    // mipmap is level 0 (with a margin for renderers' approximations).
    bool drawnFromLevelZero(float pixelWidth, float pixelHeight) const;
    // For the bound texture: sample level 0 alone (on), or the mipmaps again
    // (off). A draw that drawnFromLevelZero allows gives the same pixels
    // either way, and a renderer spares the per-pixel mipmap choice.
    void sampleLevelZeroOnly(bool on);
};

// Uploads tightly packed 8-bit pixels (components 1: grey, 3: RGB) as the
// texture's image and builds its mipmaps. Shared by both load paths.
void uploadTexturePixels(Texture* texture, int components, int width, int height,
                         const unsigned char* pixels);
