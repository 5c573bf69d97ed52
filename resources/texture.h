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
};

// Uploads tightly packed 8-bit pixels (components 1: grey, 3: RGB) as the
// texture's image and builds its mipmaps. Shared by both load paths.
void uploadTexturePixels(Texture* texture, int components, int width, int height,
                         const unsigned char* pixels);
