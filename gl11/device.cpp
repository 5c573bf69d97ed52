// The device over OpenGL ES 2.0 calls: one program that passes the layer's
// clip coordinates, colours and texture coordinates through and modulates by
// the bound texture, one streaming vertex buffer, and the raster state set
// only when it changes.
//
// Thread of the current context. In the browser the calls are emscripten's
// WebGL functions under their emscripten_ names, since the plain gl names are
// the GL 1.1 entry points of this layer; in the tests they are a desktop GL
// context's own functions.
#include "gl11/device.h"

#ifdef __EMSCRIPTEN__
#include <webgl/webgl1.h>
#define GLES(name) emscripten_##name
#else
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#define GLES(name) name
#endif

#include <cstddef>

namespace gl11 {
namespace {

enum Attribute : GLuint { POSITION = 0, COLOR = 1, TEXCOORD = 2 };

const char* const VERTEX_SHADER = R"(#version 100
attribute vec4 position;
attribute vec4 color;
attribute vec2 texCoord;
varying vec4 vColor;
varying vec2 vTexCoord;
void main() {
    gl_Position = position;
    vColor = color;
    vTexCoord = texCoord;
}
)";

// Texture environment GL_MODULATE: the texel times the colour; the layer's
// textures have no alpha, so alpha is the colour's.
const char* const FRAGMENT_SHADER = R"(#version 100
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
uniform sampler2D picture;
uniform bool textured;
varying vec4 vColor;
varying vec2 vTexCoord;
void main() {
    vec4 color = vColor;
    if (textured)
        color *= texture2D(picture, vTexCoord);
    gl_FragColor = color;
}
)";

GLuint compile(GLenum type, const char* source, const char** error) {
    GLuint shader = GLES(glCreateShader)(type);
    GLES(glShaderSource)(shader, 1, &source, nullptr);
    GLES(glCompileShader)(shader);
    GLint ok = 0;
    GLES(glGetShaderiv)(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        *error = "the device could not compile the layer's shader";
        GLES(glDeleteShader)(shader);
        return 0;
    }
    return shader;
}

void setEnabled(GLenum cap, bool on) {
    if (on)
        GLES(glEnable)(cap);
    else
        GLES(glDisable)(cap);
}

} // namespace

bool Device::init(const char** error) {
    const GLuint vertex = compile(GL_VERTEX_SHADER, VERTEX_SHADER, error);
    const GLuint fragment = vertex ? compile(GL_FRAGMENT_SHADER, FRAGMENT_SHADER, error) : 0;
    if (!fragment) {
        if (vertex)
            GLES(glDeleteShader)(vertex);
        return false;
    }
    program = GLES(glCreateProgram)();
    GLES(glAttachShader)(program, vertex);
    GLES(glAttachShader)(program, fragment);
    GLES(glBindAttribLocation)(program, POSITION, "position");
    GLES(glBindAttribLocation)(program, COLOR, "color");
    GLES(glBindAttribLocation)(program, TEXCOORD, "texCoord");
    GLES(glLinkProgram)(program);
    GLES(glDeleteShader)(vertex);
    GLES(glDeleteShader)(fragment);
    GLint linked = 0;
    GLES(glGetProgramiv)(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        *error = "the device could not link the layer's shaders";
        GLES(glDeleteProgram)(program);
        program = 0;
        return false;
    }
    GLES(glUseProgram)(program);
    GLES(glUniform1i)(GLES(glGetUniformLocation)(program, "picture"), 0);
    texturedLocation = GLES(glGetUniformLocation)(program, "textured");

    GLES(glGenBuffers)(1, &buffer);
    GLES(glBindBuffer)(GL_ARRAY_BUFFER, buffer);
    const GLsizei stride = sizeof(DeviceVertex);
    GLES(glVertexAttribPointer)
    (POSITION, 4, GL_FLOAT, GL_FALSE, stride,
     reinterpret_cast<const void*>(offsetof(DeviceVertex, clip)));
    GLES(glVertexAttribPointer)
    (COLOR, 4, GL_FLOAT, GL_FALSE, stride,
     reinterpret_cast<const void*>(offsetof(DeviceVertex, color)));
    GLES(glVertexAttribPointer)
    (TEXCOORD, 2, GL_FLOAT, GL_FALSE, stride,
     reinterpret_cast<const void*>(offsetof(DeviceVertex, tex)));
    GLES(glEnableVertexAttribArray)(POSITION);
    GLES(glEnableVertexAttribArray)(COLOR);
    GLES(glEnableVertexAttribArray)(TEXCOORD);
    GLES(glActiveTexture)(GL_TEXTURE0);
    // The layer hands over rows without padding.
    GLES(glPixelStorei)(GL_UNPACK_ALIGNMENT, 1);
    GLES(glFrontFace)(GL_CCW);
    GLES(glDepthMask)(GL_TRUE);
    GLES(glColorMask)(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    stateKnown = false;
    boundTexture = 0;
    return true;
}

void Device::release() {
    // The context may go on being used without this layer (the tests draw
    // with its own fixed-function pipeline next): leave nothing bound.
    if (buffer) {
        GLES(glDisableVertexAttribArray)(POSITION);
        GLES(glDisableVertexAttribArray)(COLOR);
        GLES(glDisableVertexAttribArray)(TEXCOORD);
        GLES(glBindBuffer)(GL_ARRAY_BUFFER, 0);
        GLES(glDeleteBuffers)(1, &buffer);
        buffer = 0;
    }
    if (program) {
        GLES(glUseProgram)(0);
        GLES(glDeleteProgram)(program);
        program = 0;
    }
    GLES(glBindTexture)(GL_TEXTURE_2D, 0);
    boundTexture = 0;
    stateKnown = false;
}

uint32_t Device::createTexture() {
    GLuint texture = 0;
    GLES(glGenTextures)(1, &texture);
    return texture;
}

void Device::bindTexture(uint32_t texture) {
    if (texture != boundTexture) {
        GLES(glBindTexture)(GL_TEXTURE_2D, texture);
        boundTexture = texture;
    }
}

void Device::textureLevel(uint32_t texture, int level, uint32_t format, int width, int height,
                          const unsigned char* pixels) {
    bindTexture(texture);
    GLES(glTexImage2D)
    (GL_TEXTURE_2D, level, format, width, height, 0, format, GL_UNSIGNED_BYTE, pixels);
}

void Device::textureFilters(uint32_t texture, uint32_t minFilter, uint32_t magFilter,
                            uint32_t wrapS, uint32_t wrapT) {
    bindTexture(texture);
    GLES(glTexParameteri)(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
    GLES(glTexParameteri)(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magFilter);
    GLES(glTexParameteri)(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrapS);
    GLES(glTexParameteri)(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrapT);
}

void Device::setViewport(int x, int y, int width, int height) {
    GLES(glViewport)(x, y, width, height);
}

void Device::clear(uint32_t mask, const float color[4], float depth) {
    GLES(glClearColor)(color[0], color[1], color[2], color[3]);
    GLES(glClearDepthf)(depth);
    GLES(glClear)(mask & (GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT));
}

void Device::apply(const DrawState& s) {
    const bool all = !stateKnown;
    if (all || s.blend != current.blend)
        setEnabled(GL_BLEND, s.blend);
    if (all || s.blendSource != current.blendSource ||
        s.blendDestination != current.blendDestination)
        GLES(glBlendFunc)(s.blendSource, s.blendDestination);
    if (all || s.depthTest != current.depthTest)
        setEnabled(GL_DEPTH_TEST, s.depthTest);
    if (all || s.depthFunc != current.depthFunc)
        GLES(glDepthFunc)(s.depthFunc);
    if (all || s.cullFace != current.cullFace)
        setEnabled(GL_CULL_FACE, s.cullFace);
    if (all || s.cullMode != current.cullMode)
        GLES(glCullFace)(s.cullMode);
    if (all || (s.texture != 0) != (current.texture != 0))
        GLES(glUniform1i)(texturedLocation, s.texture != 0);
    if (s.texture)
        bindTexture(s.texture);
    current = s;
    stateKnown = true;
}

void Device::drawTriangles(const DrawState& state, const DeviceVertex* vertices, int count) {
    if (count < 3 || !program)
        return;
    apply(state);
    GLES(glBufferData)
    (GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(count) * sizeof(DeviceVertex), vertices,
     GL_STREAM_DRAW);
    GLES(glDrawArrays)(GL_TRIANGLES, 0, count);
}

} // namespace gl11
