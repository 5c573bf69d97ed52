// The gl* and glu* entry points of the browser build: each is the layer's
// function of the same name (gl11.h). The browser build links this file; the
// native show calls the system's GL. Natively only the frame benchmark over
// the layer (bench/) links it, with the names under the prefix gl11_
// (GL11_PREFIXED, see GL/gl.h) beside the system's own.
//
// Thread of the context.
#include <GL/gl.h>
#include <GL/glu.h>

#include "gl11/gl11.h"

extern "C" {

void glBegin(GLenum mode) {
    gl11::begin(mode);
}
void glBindTexture(GLenum target, GLuint texture) {
    gl11::bindTexture(target, texture);
}
void glBlendFunc(GLenum sfactor, GLenum dfactor) {
    gl11::blendFunc(sfactor, dfactor);
}
void glClear(GLbitfield mask) {
    gl11::clear(mask);
}
void glClearColor(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha) {
    gl11::clearColor(red, green, blue, alpha);
}
void glClearDepth(GLclampd depth) {
    gl11::clearDepth(depth);
}
void glColor4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
    gl11::color4f(red, green, blue, alpha);
}
void glCullFace(GLenum mode) {
    gl11::cullFace(mode);
}
void glDepthFunc(GLenum func) {
    gl11::depthFunc(func);
}
void glDisable(GLenum cap) {
    gl11::disable(cap);
}
void glEnable(GLenum cap) {
    gl11::enable(cap);
}
void glEnd(void) {
    gl11::end();
}
void glGenTextures(GLsizei n, GLuint* textures) {
    gl11::genTextures(n, textures);
}
void glGetIntegerv(GLenum pname, GLint* params) {
    gl11::getIntegerv(pname, params);
}
void glGetTexLevelParameteriv(GLenum target, GLint level, GLenum pname, GLint* params) {
    gl11::getTexLevelParameteriv(target, level, pname, params);
}
void glHint(GLenum target, GLenum mode) {
    gl11::hint(target, mode);
}
void glLightfv(GLenum light, GLenum pname, const GLfloat* params) {
    gl11::lightfv(light, pname, params);
}
void glLoadIdentity(void) {
    gl11::loadIdentity();
}
void glMatrixMode(GLenum mode) {
    gl11::matrixMode(mode);
}
void glNormal3f(GLfloat nx, GLfloat ny, GLfloat nz) {
    gl11::normal3f(nx, ny, nz);
}
void glOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear,
             GLdouble zFar) {
    gl11::ortho(left, right, bottom, top, zNear, zFar);
}
void glPixelStorei(GLenum pname, GLint param) {
    gl11::pixelStorei(pname, param);
}
void glPopAttrib(void) {
    gl11::popAttrib();
}
void glPopMatrix(void) {
    gl11::popMatrix();
}
void glPushAttrib(GLbitfield mask) {
    gl11::pushAttrib(mask);
}
void glPushMatrix(void) {
    gl11::pushMatrix();
}
void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
    gl11::rotatef(angle, x, y, z);
}
void glShadeModel(GLenum mode) {
    gl11::shadeModel(mode);
}
void glTexCoord2f(GLfloat s, GLfloat t) {
    gl11::texCoord2f(s, t);
}
void glTexEnvi(GLenum target, GLenum pname, GLint param) {
    gl11::texEnvi(target, pname, param);
}
void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                  GLint border, GLenum format, GLenum type, const GLvoid* pixels) {
    gl11::texImage2D(target, level, internalFormat, width, height, border, format, type, pixels);
}
void glTexParameteri(GLenum target, GLenum pname, GLint param) {
    gl11::texParameteri(target, pname, param);
}
void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
    gl11::translatef(x, y, z);
}
void glVertex2f(GLfloat x, GLfloat y) {
    gl11::vertex2f(x, y);
}
void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    gl11::vertex3f(x, y, z);
}
void glViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
    gl11::viewport(x, y, width, height);
}

GLint gluBuild2DMipmaps(GLenum target, GLint internalFormat, GLsizei width, GLsizei height,
                        GLenum format, GLenum type, const void* data) {
    return gl11::build2DMipmaps(target, internalFormat, width, height, format, type, data);
}
void gluLookAt(GLdouble eyeX, GLdouble eyeY, GLdouble eyeZ, GLdouble centerX, GLdouble centerY,
               GLdouble centerZ, GLdouble upX, GLdouble upY, GLdouble upZ) {
    gl11::lookAt(eyeX, eyeY, eyeZ, centerX, centerY, centerZ, upX, upY, upZ);
}
void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
    gl11::perspective(fovy, aspect, zNear, zFar);
}

} // extern "C"
