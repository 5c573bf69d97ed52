// The drawing device under the GL 1.1 layer: an OpenGL ES 2.0 style context
// (WebGL in the browser, a desktop GL context in the tests) that rasterises
// triangles already transformed and lit, samples one texture, and applies the
// depth test, face culling and blending.
//
// Thread of the context that is current at init. Enumerant values are GL's
// (they are the same numbers in GL 1.1, OpenGL ES 2.0 and WebGL), passed as
// plain integers so that this header needs no GL header of either kind.
#pragma once

#include <cstdint>

namespace gl11 {

// One vertex as the device draws it.
struct DeviceVertex {
    float clip[4];  // clip coordinates
    float color[4]; // RGBA, each 0..1
    float tex[2];   // texture coordinates s, t
};

// The raster state of one draw.
struct DrawState {
    bool blend = false;
    uint32_t blendSource = 0;
    uint32_t blendDestination = 0;
    bool depthTest = false;
    uint32_t depthFunc = 0;
    bool cullFace = false;
    uint32_t cullMode = 0;
    uint32_t texture = 0; // device texture, 0 for an untextured draw
};

class Device {
  public:
    // Compiles the program and makes the vertex buffer. False with a reason.
    bool init(const char** error);
    void release();

    uint32_t createTexture();
    // One mipmap level of tightly packed rows; format is GL_RGB (3 bytes a
    // texel) or GL_LUMINANCE (1 byte).
    void textureLevel(uint32_t texture, int level, uint32_t format, int width, int height,
                      const unsigned char* pixels);
    void textureFilters(uint32_t texture, uint32_t minFilter, uint32_t magFilter, uint32_t wrapS,
                        uint32_t wrapT);

    void setViewport(int x, int y, int width, int height);
    // mask holds GL_COLOR_BUFFER_BIT and/or GL_DEPTH_BUFFER_BIT.
    void clear(uint32_t mask, const float color[4], float depth);
    void drawTriangles(const DrawState& state, const DeviceVertex* vertices, int count);

  private:
    void apply(const DrawState& state);
    void bindTexture(uint32_t texture);

    uint32_t program = 0;
    uint32_t buffer = 0;
    int texturedLocation = -1;
    // What the device context holds now, so that unchanged state is not sent.
    DrawState current;
    bool stateKnown = false;
    uint32_t boundTexture = 0;
};

} // namespace gl11
