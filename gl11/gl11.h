// OpenGL 1.1 and GLU as the show uses them, over an OpenGL ES 2.0 style device
// (WebGL in the browser; a desktop context in the tests): immediate-mode
// triangles and quads, the matrix stacks, per-vertex lighting, texture objects
// with mipmaps, blending, depth test, face culling and the attribute stack.
//
// The fixed-function work follows the GL 1.1 definitions and runs here on the
// CPU, in single precision as GL implementations do: each vertex leaves with
// its clip coordinates, its lit or current colour and its texture coordinates,
// and the device only rasterises, samples, tests and blends. The browser build
// routes the gl* and glu* entry points to these functions (gl11/web/api.cpp).
//
// One context, used from the thread that created it. Errors follow GL: a
// failing call records its error (the first one sticks until getError) and
// changes nothing.
#pragma once

#include <GL/gl.h>

namespace gl11 {

// Creates the context over the device context current on this thread; the
// viewport starts as width x height, as a window's does. False with a reason
// in *error when the device cannot be set up (no shader compiler, say).
bool createContext(int width, int height, const char** error);
// Frees the device objects; the context is gone until created again.
void destroyContext();
bool contextExists();

// The GL 1.1 calls, named as in GL without the prefix.
void enable(GLenum cap);
void disable(GLenum cap);
GLboolean isEnabled(GLenum cap);
void hint(GLenum target, GLenum mode);
void shadeModel(GLenum mode);
void clearColor(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha);
void clearDepth(GLclampd depth);
void clear(GLbitfield mask);
void depthFunc(GLenum func);
void cullFace(GLenum mode);
void blendFunc(GLenum sfactor, GLenum dfactor);
void viewport(GLint x, GLint y, GLsizei width, GLsizei height);

void matrixMode(GLenum mode);
void loadIdentity();
void pushMatrix();
void popMatrix();
// m in column order, as GL takes it.
void multMatrixf(const GLfloat* m);
void rotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z);
void translatef(GLfloat x, GLfloat y, GLfloat z);
void ortho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear,
           GLdouble zFar);

void begin(GLenum mode);
void end();
void vertex3f(GLfloat x, GLfloat y, GLfloat z);
void vertex2f(GLfloat x, GLfloat y);
void normal3f(GLfloat x, GLfloat y, GLfloat z);
void color4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha);
void texCoord2f(GLfloat s, GLfloat t);

void lightfv(GLenum light, GLenum pname, const GLfloat* params);

void genTextures(GLsizei n, GLuint* textures);
void bindTexture(GLenum target, GLuint texture);
void texParameteri(GLenum target, GLenum pname, GLint param);
// GL_MODULATE or GL_REPLACE (the layer's textures are RGB or luminance).
void texEnvi(GLenum target, GLenum pname, GLint param);
void texImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                GLint border, GLenum format, GLenum type, const GLvoid* pixels);
void pixelStorei(GLenum pname, GLint param);

void pushAttrib(GLbitfield mask);
void popAttrib();

// Queries: those the show makes, and the state the tests compare with GL.
void getIntegerv(GLenum pname, GLint* params);
void getFloatv(GLenum pname, GLfloat* params);
void getLightfv(GLenum light, GLenum pname, GLfloat* params);
void getTexLevelParameteriv(GLenum target, GLint level, GLenum pname, GLint* params);
GLenum getError();
// Draws handed to the device since the context was made (glEnd with at least
// one triangle that can change a pixel), for the benchmarks.
unsigned long deviceDraws();

// GLU.
void perspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar);
void lookAt(GLdouble eyeX, GLdouble eyeY, GLdouble eyeZ, GLdouble centerX, GLdouble centerY,
            GLdouble centerZ, GLdouble upX, GLdouble upY, GLdouble upZ);
// 0 on success, else a GLU error code (GLU_INVALID_VALUE, GLU_INVALID_ENUM).
GLint build2DMipmaps(GLenum target, GLint components, GLint width, GLint height, GLenum format,
                     GLenum type, const void* data);

} // namespace gl11
