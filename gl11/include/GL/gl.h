/* OpenGL 1.1 as the browser build of the show knows it: the types, the
 * enumerants of the GL 1.1 definitions that the show and the layer use, and
 * exactly the functions that the show calls, implemented by gl11/ over WebGL.
 * The native build uses the system's GL headers instead (but for the frame
 * benchmark over the layer, below). */
#ifndef __gl_h_
#define __gl_h_

typedef unsigned int GLenum;
typedef unsigned char GLboolean;
typedef unsigned int GLbitfield;
typedef void GLvoid;
typedef signed char GLbyte;
typedef short GLshort;
typedef int GLint;
typedef unsigned char GLubyte;
typedef unsigned short GLushort;
typedef unsigned int GLuint;
typedef int GLsizei;
typedef float GLfloat;
typedef float GLclampf;
typedef double GLdouble;
typedef double GLclampd;

#define GL_FALSE 0
#define GL_TRUE 1

/* Errors */
#define GL_NO_ERROR 0
#define GL_INVALID_ENUM 0x0500
#define GL_INVALID_VALUE 0x0501
#define GL_INVALID_OPERATION 0x0502
#define GL_STACK_OVERFLOW 0x0503
#define GL_STACK_UNDERFLOW 0x0504
#define GL_OUT_OF_MEMORY 0x0505

/* Primitives */
#define GL_TRIANGLES 0x0004
#define GL_QUADS 0x0007

/* Blending */
#define GL_ZERO 0
#define GL_ONE 1
#define GL_SRC_COLOR 0x0300
#define GL_ONE_MINUS_SRC_COLOR 0x0301
#define GL_SRC_ALPHA 0x0302
#define GL_ONE_MINUS_SRC_ALPHA 0x0303
#define GL_DST_ALPHA 0x0304
#define GL_ONE_MINUS_DST_ALPHA 0x0305
#define GL_DST_COLOR 0x0306
#define GL_ONE_MINUS_DST_COLOR 0x0307
#define GL_SRC_ALPHA_SATURATE 0x0308

/* Depth functions */
#define GL_NEVER 0x0200
#define GL_LESS 0x0201
#define GL_EQUAL 0x0202
#define GL_LEQUAL 0x0203
#define GL_GREATER 0x0204
#define GL_NOTEQUAL 0x0205
#define GL_GEQUAL 0x0206
#define GL_ALWAYS 0x0207

/* Faces */
#define GL_FRONT 0x0404
#define GL_BACK 0x0405
#define GL_FRONT_AND_BACK 0x0408

/* Capabilities and state */
#define GL_CULL_FACE 0x0B44
#define GL_CULL_FACE_MODE 0x0B45
#define GL_LIGHTING 0x0B50
#define GL_SHADE_MODEL 0x0B54
#define GL_DEPTH_TEST 0x0B71
#define GL_DEPTH_CLEAR_VALUE 0x0B73
#define GL_DEPTH_FUNC 0x0B74
#define GL_MATRIX_MODE 0x0BA0
#define GL_VIEWPORT 0x0BA2
#define GL_MODELVIEW_STACK_DEPTH 0x0BA3
#define GL_PROJECTION_STACK_DEPTH 0x0BA4
#define GL_MODELVIEW_MATRIX 0x0BA6
#define GL_PROJECTION_MATRIX 0x0BA7
#define GL_ATTRIB_STACK_DEPTH 0x0BB0
#define GL_BLEND_DST 0x0BE0
#define GL_BLEND_SRC 0x0BE1
#define GL_BLEND 0x0BE2
#define GL_COLOR_CLEAR_VALUE 0x0C22
#define GL_CURRENT_COLOR 0x0B00
#define GL_CURRENT_NORMAL 0x0B02
#define GL_CURRENT_TEXTURE_COORDS 0x0B03
#define GL_TEXTURE_GEN_S 0x0C60
#define GL_TEXTURE_GEN_T 0x0C61
#define GL_UNPACK_ALIGNMENT 0x0CF5
#define GL_MAX_TEXTURE_SIZE 0x0D33
#define GL_TEXTURE_2D 0x0DE1
#define GL_TEXTURE_BINDING_2D 0x8069

/* Hints */
#define GL_PERSPECTIVE_CORRECTION_HINT 0x0C50
#define GL_POINT_SMOOTH_HINT 0x0C51
#define GL_LINE_SMOOTH_HINT 0x0C52
#define GL_POLYGON_SMOOTH_HINT 0x0C53
#define GL_FOG_HINT 0x0C54
#define GL_DONT_CARE 0x1100
#define GL_FASTEST 0x1101
#define GL_NICEST 0x1102

/* Lights */
#define GL_AMBIENT 0x1200
#define GL_DIFFUSE 0x1201
#define GL_POSITION 0x1203
#define GL_LIGHT0 0x4000
#define GL_LIGHT1 0x4001
#define GL_LIGHT2 0x4002
#define GL_LIGHT3 0x4003
#define GL_LIGHT4 0x4004
#define GL_LIGHT5 0x4005
#define GL_LIGHT6 0x4006
#define GL_LIGHT7 0x4007
#define GL_FLAT 0x1D00
#define GL_SMOOTH 0x1D01

/* Matrices */
#define GL_MODELVIEW 0x1700
#define GL_PROJECTION 0x1701

/* Pixels and textures */
#define GL_UNSIGNED_BYTE 0x1401
#define GL_RGB 0x1907
#define GL_LUMINANCE 0x1909
#define GL_RGB8 0x8051
#define GL_LUMINANCE8 0x8040
#define GL_NEAREST 0x2600
#define GL_TEXTURE_ENV 0x2300
#define GL_TEXTURE_ENV_MODE 0x2200
#define GL_MODULATE 0x2100
#define GL_REPLACE 0x1E01
#define GL_LINEAR 0x2601
#define GL_NEAREST_MIPMAP_NEAREST 0x2700
#define GL_LINEAR_MIPMAP_NEAREST 0x2701
#define GL_NEAREST_MIPMAP_LINEAR 0x2702
#define GL_LINEAR_MIPMAP_LINEAR 0x2703
#define GL_TEXTURE_MAG_FILTER 0x2800
#define GL_TEXTURE_WIDTH 0x1000
#define GL_TEXTURE_HEIGHT 0x1001
#define GL_TEXTURE_MIN_FILTER 0x2801
#define GL_TEXTURE_WRAP_S 0x2802
#define GL_TEXTURE_WRAP_T 0x2803
#define GL_REPEAT 0x2901

/* Attribute groups */
#define GL_CURRENT_BIT 0x00000001
#define GL_POLYGON_BIT 0x00000008
#define GL_LIGHTING_BIT 0x00000040
#define GL_DEPTH_BUFFER_BIT 0x00000100
#define GL_ACCUM_BUFFER_BIT 0x00000200
#define GL_STENCIL_BUFFER_BIT 0x00000400
#define GL_VIEWPORT_BIT 0x00000800
#define GL_TRANSFORM_BIT 0x00001000
#define GL_ENABLE_BIT 0x00002000
#define GL_COLOR_BUFFER_BIT 0x00004000
#define GL_HINT_BIT 0x00008000
#define GL_TEXTURE_BIT 0x00040000
#define GL_ALL_ATTRIB_BITS 0x000FFFFF

/* With GL11_PREFIXED defined, the entry points are named gl11_glBegin and so
 * on, in the code that calls them and in the layer's definitions alike, so
 * that one native program can hold both them and the system's GL: the frame
 * benchmark draws the show through the layer over Mesa to measure the layer's
 * own cost against the same calls made to Mesa directly. */
#ifdef GL11_PREFIXED
#define glBegin gl11_glBegin
#define glBindTexture gl11_glBindTexture
#define glBlendFunc gl11_glBlendFunc
#define glClear gl11_glClear
#define glClearColor gl11_glClearColor
#define glClearDepth gl11_glClearDepth
#define glColor4f gl11_glColor4f
#define glCullFace gl11_glCullFace
#define glDepthFunc gl11_glDepthFunc
#define glDisable gl11_glDisable
#define glEnable gl11_glEnable
#define glEnd gl11_glEnd
#define glGenTextures gl11_glGenTextures
#define glGetIntegerv gl11_glGetIntegerv
#define glGetTexLevelParameteriv gl11_glGetTexLevelParameteriv
#define glHint gl11_glHint
#define glLightfv gl11_glLightfv
#define glLoadIdentity gl11_glLoadIdentity
#define glMatrixMode gl11_glMatrixMode
#define glNormal3f gl11_glNormal3f
#define glOrtho gl11_glOrtho
#define glPixelStorei gl11_glPixelStorei
#define glPopAttrib gl11_glPopAttrib
#define glPopMatrix gl11_glPopMatrix
#define glPushAttrib gl11_glPushAttrib
#define glPushMatrix gl11_glPushMatrix
#define glRotatef gl11_glRotatef
#define glShadeModel gl11_glShadeModel
#define glTexCoord2f gl11_glTexCoord2f
#define glTexEnvi gl11_glTexEnvi
#define glTexImage2D gl11_glTexImage2D
#define glTexParameteri gl11_glTexParameteri
#define glTranslatef gl11_glTranslatef
#define glVertex2f gl11_glVertex2f
#define glVertex3f gl11_glVertex3f
#define glViewport gl11_glViewport
#endif

#ifdef __cplusplus
extern "C" {
#endif

void glBegin(GLenum mode);
void glBindTexture(GLenum target, GLuint texture);
void glBlendFunc(GLenum sfactor, GLenum dfactor);
void glClear(GLbitfield mask);
void glClearColor(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha);
void glClearDepth(GLclampd depth);
void glColor4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha);
void glCullFace(GLenum mode);
void glDepthFunc(GLenum func);
void glDisable(GLenum cap);
void glEnable(GLenum cap);
void glEnd(void);
void glGenTextures(GLsizei n, GLuint* textures);
void glGetIntegerv(GLenum pname, GLint* params);
void glGetTexLevelParameteriv(GLenum target, GLint level, GLenum pname, GLint* params);
void glHint(GLenum target, GLenum mode);
void glLightfv(GLenum light, GLenum pname, const GLfloat* params);
void glLoadIdentity(void);
void glMatrixMode(GLenum mode);
void glNormal3f(GLfloat nx, GLfloat ny, GLfloat nz);
void glOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear,
             GLdouble zFar);
void glPixelStorei(GLenum pname, GLint param);
void glPopAttrib(void);
void glPopMatrix(void);
void glPushAttrib(GLbitfield mask);
void glPushMatrix(void);
void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z);
void glShadeModel(GLenum mode);
void glTexCoord2f(GLfloat s, GLfloat t);
void glTexEnvi(GLenum target, GLenum pname, GLint param);
void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                  GLint border, GLenum format, GLenum type, const GLvoid* pixels);
void glTexParameteri(GLenum target, GLenum pname, GLint param);
void glTranslatef(GLfloat x, GLfloat y, GLfloat z);
void glVertex2f(GLfloat x, GLfloat y);
void glVertex3f(GLfloat x, GLfloat y, GLfloat z);
void glViewport(GLint x, GLint y, GLsizei width, GLsizei height);

#ifdef __cplusplus
}
#endif

#endif
