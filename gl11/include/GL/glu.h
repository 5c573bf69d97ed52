/* The GLU calls of the show in its browser build, implemented by gl11/. */
#ifndef __glu_h__
#define __glu_h__

#include <GL/gl.h>

#define GLU_INVALID_ENUM 100900
#define GLU_INVALID_VALUE 100901
#define GLU_OUT_OF_MEMORY 100902

/* Under a prefix as the GL entry points are (see GL/gl.h). */
#ifdef GL11_PREFIXED
#define gluBuild2DMipmaps gl11_gluBuild2DMipmaps
#define gluLookAt gl11_gluLookAt
#define gluPerspective gl11_gluPerspective
#endif

#ifdef __cplusplus
extern "C" {
#endif

GLint gluBuild2DMipmaps(GLenum target, GLint internalFormat, GLsizei width, GLsizei height,
                        GLenum format, GLenum type, const void* data);
void gluLookAt(GLdouble eyeX, GLdouble eyeY, GLdouble eyeZ, GLdouble centerX, GLdouble centerY,
               GLdouble centerZ, GLdouble upX, GLdouble upY, GLdouble upZ);
void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar);

#ifdef __cplusplus
}
#endif

#endif
