// The GL 1.1 state machine of the layer (see gl11.h): server state grouped as
// the attribute stack saves it, the modelview and projection stacks, texture
// objects, and the vertex path of immediate mode. Each vertex is transformed
// to eye and clip coordinates, lit by the enabled lights with the default
// material, and handed to the device at glEnd as triangles.
//
// Thread of the context. Matrices are 4 x 4 floats in GL's column order
// (element (row r, column c) at index c * 4 + r); colours are 0..1.
//
// What the show never calls is not implemented, and is refused the way GL
// refuses what it does not know (GL_INVALID_ENUM): glMaterial and
// glLightModel (the default material and light model are in force: material
// ambient 0.2, diffuse 0.8, specular and emission black, scene ambient 0.2,
// so no light has a specular term), spot lights and attenuation (a light
// keeps the defaults: no spot cone, constant attenuation 1), texture
// coordinate generation, the texture matrix, primitives other than triangles
// and quads, texture borders, and wrap modes other than GL_REPEAT.
#include "gl11/gl11.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "gl11/device.h"

namespace gl11 {
namespace {

constexpr int MAX_LIGHTS = 8;
constexpr int MATRIX_STACK_DEPTH = 32;
constexpr int ATTRIB_STACK_DEPTH = 16;
constexpr int MAX_TEXTURE_LEVELS = 13;
constexpr int MAX_TEXTURE_SIZE = 1 << (MAX_TEXTURE_LEVELS - 1);

// The default material and light model.
constexpr float MATERIAL_AMBIENT = 0.2f;
constexpr float MATERIAL_DIFFUSE = 0.8f;
constexpr float MATERIAL_DIFFUSE_ALPHA = 1.0f;
constexpr float SCENE_AMBIENT = 0.2f;
constexpr double PI = 3.14159265358979323846;

struct Matrix {
    float m[16];
};

const Matrix IDENTITY = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix r;
    for (int c = 0; c < 4; ++c) {
        for (int row = 0; row < 4; ++row) {
            r.m[c * 4 + row] = a.m[row] * b.m[c * 4] + a.m[4 + row] * b.m[c * 4 + 1] +
                               a.m[8 + row] * b.m[c * 4 + 2] + a.m[12 + row] * b.m[c * 4 + 3];
        }
    }
    return r;
}

void transform(const Matrix& a, const float v[4], float out[4]) {
    for (int row = 0; row < 4; ++row)
        out[row] =
            a.m[row] * v[0] + a.m[4 + row] * v[1] + a.m[8 + row] * v[2] + a.m[12 + row] * v[3];
}

struct Light {
    float ambient[4];
    float diffuse[4];
    float position[4]; // eye coordinates
};

// Server state, with the attribute group that saves each part.
struct AttribState {
    // GL_CURRENT_BIT
    float color[4] = {1, 1, 1, 1};
    float normal[3] = {0, 0, 1};
    float texCoord[2] = {0, 0};
    // Enables (GL_ENABLE_BIT, and each its own group below)
    bool lighting = false;
    bool lightOn[MAX_LIGHTS] = {};
    bool texture2D = false;
    bool blend = false;
    bool depthTest = false;
    bool cullFace = false;
    // GL_LIGHTING_BIT
    Light lights[MAX_LIGHTS];
    GLenum shadeModel = GL_SMOOTH;
    // GL_COLOR_BUFFER_BIT
    GLenum blendSource = GL_ONE;
    GLenum blendDestination = GL_ZERO;
    float clearColor[4] = {0, 0, 0, 0};
    // GL_DEPTH_BUFFER_BIT
    GLenum depthFunc = GL_LESS;
    float clearDepth = 1.0f;
    // GL_POLYGON_BIT
    GLenum cullMode = GL_BACK;
    // GL_TEXTURE_BIT
    GLuint textureBinding = 0;
    GLenum textureEnvMode = GL_MODULATE;
    // GL_TRANSFORM_BIT
    GLenum matrixMode = GL_MODELVIEW;
    // GL_VIEWPORT_BIT
    GLint viewport[4] = {0, 0, 0, 0};
    // GL_HINT_BIT
    GLenum perspectiveHint = GL_DONT_CARE;
};

struct SavedAttrib {
    GLbitfield mask;
    AttribState state;
};

struct TextureLevel {
    int width = 0;
    int height = 0;
    int components = 0; // 1 luminance, 3 RGB; 0 while the level has no image
};

struct TextureObject {
    TextureLevel levels[MAX_TEXTURE_LEVELS];
    GLenum minFilter = GL_NEAREST_MIPMAP_LINEAR;
    GLenum magFilter = GL_LINEAR;
    GLenum wrapS = GL_REPEAT;
    GLenum wrapT = GL_REPEAT;
    uint32_t device = 0;
    bool filtersSent = false;
};

struct Context {
    Device device;
    AttribState s;
    std::vector<SavedAttrib> attribStack;
    std::vector<Matrix> modelview{IDENTITY};
    std::vector<Matrix> projection{IDENTITY};
    std::unordered_map<GLuint, TextureObject> textures;
    GLuint nextTextureName = 1;
    GLint unpackAlignment = 4;
    GLenum error = GL_NO_ERROR;

    // Between glBegin and glEnd.
    bool inside = false;
    GLenum primitive = 0;
    float normalMatrix[9] = {}; // inverse transpose of the modelview's upper 3 x 3
    Matrix eyeToClip = IDENTITY;
    std::vector<DeviceVertex> vertices;
    std::vector<DeviceVertex> triangles;
    unsigned long deviceDraws = 0;
};

Context* ctx = nullptr;

void setError(GLenum error) {
    if (ctx->error == GL_NO_ERROR)
        ctx->error = error;
}

// Every call but the vertex ones is refused between glBegin and glEnd, and
// every call without a context does nothing.
bool usable() {
    if (!ctx)
        return false;
    if (ctx->inside) {
        setError(GL_INVALID_OPERATION);
        return false;
    }
    return true;
}

std::vector<Matrix>& currentStack() {
    return ctx->s.matrixMode == GL_PROJECTION ? ctx->projection : ctx->modelview;
}

Matrix& currentMatrix() {
    return currentStack().back();
}

void multiplyCurrent(const Matrix& m) {
    Matrix& top = currentMatrix();
    top = multiply(top, m);
}

float clamp01(float v) {
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

int lightIndex(GLenum light) {
    return light >= GL_LIGHT0 && light < GL_LIGHT0 + MAX_LIGHTS
               ? static_cast<int>(light - GL_LIGHT0)
               : -1;
}

bool* enableFlag(GLenum cap) {
    AttribState& s = ctx->s;
    switch (cap) {
    case GL_LIGHTING:
        return &s.lighting;
    case GL_TEXTURE_2D:
        return &s.texture2D;
    case GL_BLEND:
        return &s.blend;
    case GL_DEPTH_TEST:
        return &s.depthTest;
    case GL_CULL_FACE:
        return &s.cullFace;
    default: {
        const int light = lightIndex(cap);
        return light >= 0 ? &s.lightOn[light] : nullptr;
    }
    }
}

void defaultLights(Light lights[MAX_LIGHTS]) {
    for (int i = 0; i < MAX_LIGHTS; ++i) {
        const float diffuse = i == 0 ? 1.0f : 0.0f;
        lights[i] = Light{{0, 0, 0, 1}, {diffuse, diffuse, diffuse, 1}, {0, 0, 1, 0}};
    }
}

// ---- Textures ----------------------------------------------------------------

bool isPowerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

TextureObject& boundTexture() {
    return ctx->textures[ctx->s.textureBinding];
}

uint32_t deviceTexture(TextureObject& texture) {
    if (!texture.device)
        texture.device = ctx->device.createTexture();
    return texture.device;
}

bool usesMipmaps(GLenum filter) {
    return filter != GL_NEAREST && filter != GL_LINEAR;
}

// Complete in the GL 1.1 sense: level 0 has an image and, when the minifying
// filter reads mipmaps, so does every level down to 1 x 1, each half the
// size of the one above and of the same format.
bool complete(const TextureObject& t) {
    const TextureLevel& base = t.levels[0];
    if (base.components == 0)
        return false;
    if (!usesMipmaps(t.minFilter))
        return true;
    int width = base.width;
    int height = base.height;
    for (int level = 1; width > 1 || height > 1; ++level) {
        width = std::max(1, width / 2);
        height = std::max(1, height / 2);
        if (level >= MAX_TEXTURE_LEVELS)
            return false;
        const TextureLevel& l = t.levels[level];
        if (l.components != base.components || l.width != width || l.height != height)
            return false;
    }
    return true;
}

// The device texture of what is drawn now, 0 when untextured: texturing is
// off, or the bound texture is not complete (then GL draws as if texturing
// were off; the default texture 0 without an image is the common case).
uint32_t drawTexture() {
    if (!ctx->s.texture2D)
        return 0;
    auto found = ctx->textures.find(ctx->s.textureBinding);
    if (found == ctx->textures.end() || !complete(found->second))
        return 0;
    TextureObject& t = found->second;
    if (!t.filtersSent) {
        ctx->device.textureFilters(deviceTexture(t), t.minFilter, t.magFilter, t.wrapS, t.wrapT);
        t.filtersSent = true;
    }
    return t.device;
}

// ---- Vertices ----------------------------------------------------------------

// The inverse transpose of the upper 3 x 3 of a, in row order: normals
// transform by it (n times the inverse of the modelview).
void normalMatrixOf(const Matrix& m, float out[9]) {
    auto a = [&m](int row, int col) { return m.m[col * 4 + row]; };
    // The cofactor matrix divided by the determinant is the inverse transposed.
    const float c[9] = {
        a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1), a(1, 2) * a(2, 0) - a(1, 0) * a(2, 2),
        a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0), a(0, 2) * a(2, 1) - a(0, 1) * a(2, 2),
        a(0, 0) * a(2, 2) - a(0, 2) * a(2, 0), a(0, 1) * a(2, 0) - a(0, 0) * a(2, 1),
        a(0, 1) * a(1, 2) - a(0, 2) * a(1, 1), a(0, 2) * a(1, 0) - a(0, 0) * a(1, 2),
        a(0, 0) * a(1, 1) - a(0, 1) * a(1, 0)};
    const float det = a(0, 0) * c[0] + a(0, 1) * c[1] + a(0, 2) * c[2];
    const float inv = det != 0.0f ? 1.0f / det : 0.0f;
    for (int i = 0; i < 9; ++i)
        out[i] = c[i] * inv;
}

// The lighting equation of GL 1.1 for one vertex at eye position eye (w = 1)
// with eye-space normal n, for the default material: emission and specular
// are black, so each enabled light adds its ambient times the material's
// ambient and n . L times its diffuse times the material's diffuse.
void lightVertex(const float eye[4], const float n[3], float out[4]) {
    const AttribState& s = ctx->s;
    float rgb[3];
    for (int c = 0; c < 3; ++c)
        rgb[c] = MATERIAL_AMBIENT * SCENE_AMBIENT;
    const float invW = eye[3] != 0.0f ? 1.0f / eye[3] : 1.0f;
    const float v[3] = {eye[0] * invW, eye[1] * invW, eye[2] * invW};
    for (int i = 0; i < MAX_LIGHTS; ++i) {
        if (!s.lightOn[i])
            continue;
        const Light& light = s.lights[i];
        float l[3];
        if (light.position[3] != 0.0f) {
            const float invLightW = 1.0f / light.position[3];
            for (int c = 0; c < 3; ++c)
                l[c] = light.position[c] * invLightW - v[c];
        } else {
            std::copy(light.position, light.position + 3, l);
        }
        const float length = std::sqrt(l[0] * l[0] + l[1] * l[1] + l[2] * l[2]);
        const float inv = length > 0.0f ? 1.0f / length : 0.0f;
        const float nDotL = std::max(0.0f, (n[0] * l[0] + n[1] * l[1] + n[2] * l[2]) * inv);
        for (int c = 0; c < 3; ++c)
            rgb[c] +=
                MATERIAL_AMBIENT * light.ambient[c] + nDotL * MATERIAL_DIFFUSE * light.diffuse[c];
    }
    for (int c = 0; c < 3; ++c)
        out[c] = clamp01(rgb[c]);
    out[3] = clamp01(MATERIAL_DIFFUSE_ALPHA);
}

void emitVertex(float x, float y, float z) {
    Context& c = *ctx;
    const AttribState& s = c.s;
    const float object[4] = {x, y, z, 1.0f};
    float eye[4];
    transform(c.modelview.back(), object, eye);
    DeviceVertex v;
    transform(c.projection.back(), eye, v.clip);
    if (s.lighting) {
        const float* m = c.normalMatrix;
        const float* n = s.normal;
        const float eyeNormal[3] = {m[0] * n[0] + m[1] * n[1] + m[2] * n[2],
                                    m[3] * n[0] + m[4] * n[1] + m[5] * n[2],
                                    m[6] * n[0] + m[7] * n[1] + m[8] * n[2]};
        lightVertex(eye, eyeNormal, v.color);
    } else {
        for (int i = 0; i < 4; ++i)
            v.color[i] = clamp01(s.color[i]);
    }
    v.tex[0] = s.texCoord[0];
    v.tex[1] = s.texCoord[1];
    c.vertices.push_back(v);
}

void addTriangle(const DeviceVertex& a, const DeviceVertex& b, const DeviceVertex& c,
                 const DeviceVertex& provoking) {
    std::vector<DeviceVertex>& out = ctx->triangles;
    out.push_back(a);
    out.push_back(b);
    out.push_back(c);
    if (ctx->s.shadeModel == GL_FLAT) {
        for (size_t i = out.size() - 3; i < out.size(); ++i)
            std::copy(provoking.color, provoking.color + 4, out[i].color);
    }
}

// Whether blending leaves every pixel as it is for triangles whose every
// vertex has alpha 0 (colours are clamped, so none is below): the fragments'
// alpha is then 0 (interpolated 0, times the texel's), so the source term
// vanishes with GL_SRC_ALPHA (or GL_ZERO) and the destination is kept whole
// with GL_ONE_MINUS_SRC_ALPHA (or GL_ONE). Full-screen fades that have faded
// out are such draws. With the depth test on the draw would still write
// depth, so it counts as changing something.
bool blendedAway(const AttribState& s, const std::vector<DeviceVertex>& triangles) {
    if (!s.blend || s.depthTest)
        return false;
    const bool sourceGone = s.blendSource == GL_SRC_ALPHA || s.blendSource == GL_ZERO;
    const bool destinationKept =
        s.blendDestination == GL_ONE_MINUS_SRC_ALPHA || s.blendDestination == GL_ONE;
    if (!sourceGone || !destinationKept)
        return false;
    if (s.blendSource == GL_ZERO && s.blendDestination == GL_ONE)
        return true;
    return std::all_of(triangles.begin(), triangles.end(),
                       [](const DeviceVertex& v) { return v.color[3] == 0.0f; });
}

// ---- Attribute groups ----------------------------------------------------------

void restoreGroups(GLbitfield mask, const AttribState& saved) {
    AttribState& s = ctx->s;
    if (mask & GL_CURRENT_BIT) {
        std::copy(saved.color, saved.color + 4, s.color);
        std::copy(saved.normal, saved.normal + 3, s.normal);
        std::copy(saved.texCoord, saved.texCoord + 2, s.texCoord);
    }
    if (mask & (GL_ENABLE_BIT | GL_LIGHTING_BIT)) {
        s.lighting = saved.lighting;
        std::copy(saved.lightOn, saved.lightOn + MAX_LIGHTS, s.lightOn);
    }
    if (mask & GL_LIGHTING_BIT) {
        std::copy(saved.lights, saved.lights + MAX_LIGHTS, s.lights);
        s.shadeModel = saved.shadeModel;
    }
    if (mask & (GL_ENABLE_BIT | GL_TEXTURE_BIT))
        s.texture2D = saved.texture2D;
    if (mask & (GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT))
        s.blend = saved.blend;
    if (mask & (GL_ENABLE_BIT | GL_DEPTH_BUFFER_BIT))
        s.depthTest = saved.depthTest;
    if (mask & (GL_ENABLE_BIT | GL_POLYGON_BIT))
        s.cullFace = saved.cullFace;
    if (mask & GL_COLOR_BUFFER_BIT) {
        s.blendSource = saved.blendSource;
        s.blendDestination = saved.blendDestination;
        std::copy(saved.clearColor, saved.clearColor + 4, s.clearColor);
    }
    if (mask & GL_DEPTH_BUFFER_BIT) {
        s.depthFunc = saved.depthFunc;
        s.clearDepth = saved.clearDepth;
    }
    if (mask & GL_POLYGON_BIT)
        s.cullMode = saved.cullMode;
    if (mask & GL_TEXTURE_BIT) {
        s.textureBinding = saved.textureBinding;
        s.textureEnvMode = saved.textureEnvMode;
    }
    if (mask & GL_TRANSFORM_BIT)
        s.matrixMode = saved.matrixMode;
    if (mask & GL_VIEWPORT_BIT) {
        std::copy(saved.viewport, saved.viewport + 4, s.viewport);
        ctx->device.setViewport(s.viewport[0], s.viewport[1], s.viewport[2], s.viewport[3]);
    }
    if (mask & GL_HINT_BIT)
        s.perspectiveHint = saved.perspectiveHint;
}

bool validBlendSource(GLenum f) {
    switch (f) {
    case GL_ZERO:
    case GL_ONE:
    case GL_DST_COLOR:
    case GL_ONE_MINUS_DST_COLOR:
    case GL_SRC_ALPHA:
    case GL_ONE_MINUS_SRC_ALPHA:
    case GL_DST_ALPHA:
    case GL_ONE_MINUS_DST_ALPHA:
    case GL_SRC_ALPHA_SATURATE:
        return true;
    default:
        return false;
    }
}

bool validBlendDestination(GLenum f) {
    switch (f) {
    case GL_ZERO:
    case GL_ONE:
    case GL_SRC_COLOR:
    case GL_ONE_MINUS_SRC_COLOR:
    case GL_SRC_ALPHA:
    case GL_ONE_MINUS_SRC_ALPHA:
    case GL_DST_ALPHA:
    case GL_ONE_MINUS_DST_ALPHA:
        return true;
    default:
        return false;
    }
}

} // namespace

// ---- Context -------------------------------------------------------------------

bool createContext(int width, int height, const char** error) {
    destroyContext();
    ctx = new Context;
    if (!ctx->device.init(error)) {
        delete ctx;
        ctx = nullptr;
        return false;
    }
    defaultLights(ctx->s.lights);
    ctx->s.viewport[2] = width;
    ctx->s.viewport[3] = height;
    ctx->device.setViewport(0, 0, width, height);
    // The default texture object exists from the start.
    ctx->textures[0];
    return true;
}

void destroyContext() {
    if (!ctx)
        return;
    ctx->device.release();
    delete ctx;
    ctx = nullptr;
}

bool contextExists() {
    return ctx != nullptr;
}

unsigned long deviceDraws() {
    return ctx ? ctx->deviceDraws : 0;
}

GLenum getError() {
    if (!ctx)
        return GL_NO_ERROR;
    const GLenum e = ctx->error;
    ctx->error = GL_NO_ERROR;
    return e;
}

// ---- Enables, hints, raster state -----------------------------------------------

void enable(GLenum cap) {
    if (!usable())
        return;
    if (bool* flag = enableFlag(cap))
        *flag = true;
    else
        setError(GL_INVALID_ENUM);
}

void disable(GLenum cap) {
    if (!usable())
        return;
    if (bool* flag = enableFlag(cap))
        *flag = false;
    else if (cap != GL_TEXTURE_GEN_S && cap != GL_TEXTURE_GEN_T)
        setError(GL_INVALID_ENUM);
    // Texture coordinate generation is never on, so turning it off is
    // accepted and changes nothing.
}

GLboolean isEnabled(GLenum cap) {
    if (!usable())
        return GL_FALSE;
    if (bool* flag = enableFlag(cap))
        return *flag ? GL_TRUE : GL_FALSE;
    if (cap != GL_TEXTURE_GEN_S && cap != GL_TEXTURE_GEN_T)
        setError(GL_INVALID_ENUM);
    return GL_FALSE;
}

void hint(GLenum target, GLenum mode) {
    if (!usable())
        return;
    const bool knownTarget = target == GL_PERSPECTIVE_CORRECTION_HINT ||
                             target == GL_POINT_SMOOTH_HINT || target == GL_LINE_SMOOTH_HINT ||
                             target == GL_POLYGON_SMOOTH_HINT || target == GL_FOG_HINT;
    if (!knownTarget || (mode != GL_FASTEST && mode != GL_NICEST && mode != GL_DONT_CARE)) {
        setError(GL_INVALID_ENUM);
        return;
    }
    // The device always interpolates in perspective, the nicest there is.
    if (target == GL_PERSPECTIVE_CORRECTION_HINT)
        ctx->s.perspectiveHint = mode;
}

void shadeModel(GLenum mode) {
    if (!usable())
        return;
    if (mode != GL_SMOOTH && mode != GL_FLAT) {
        setError(GL_INVALID_ENUM);
        return;
    }
    ctx->s.shadeModel = mode;
}

void clearColor(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha) {
    if (!usable())
        return;
    const float c[4] = {red, green, blue, alpha};
    for (int i = 0; i < 4; ++i)
        ctx->s.clearColor[i] = clamp01(c[i]);
}

void clearDepth(GLclampd depth) {
    if (!usable())
        return;
    ctx->s.clearDepth = clamp01(static_cast<float>(depth));
}

void clear(GLbitfield mask) {
    if (!usable())
        return;
    const GLbitfield known =
        GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_ACCUM_BUFFER_BIT | GL_STENCIL_BUFFER_BIT;
    if (mask & ~known) {
        setError(GL_INVALID_VALUE);
        return;
    }
    // There is no accumulation or stencil buffer to clear.
    ctx->device.clear(mask & (GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT), ctx->s.clearColor,
                      ctx->s.clearDepth);
}

void depthFunc(GLenum func) {
    if (!usable())
        return;
    if (func < GL_NEVER || func > GL_ALWAYS) {
        setError(GL_INVALID_ENUM);
        return;
    }
    ctx->s.depthFunc = func;
}

void cullFace(GLenum mode) {
    if (!usable())
        return;
    if (mode != GL_FRONT && mode != GL_BACK && mode != GL_FRONT_AND_BACK) {
        setError(GL_INVALID_ENUM);
        return;
    }
    ctx->s.cullMode = mode;
}

void blendFunc(GLenum sfactor, GLenum dfactor) {
    if (!usable())
        return;
    if (!validBlendSource(sfactor) || !validBlendDestination(dfactor)) {
        setError(GL_INVALID_ENUM);
        return;
    }
    ctx->s.blendSource = sfactor;
    ctx->s.blendDestination = dfactor;
}

void viewport(GLint x, GLint y, GLsizei width, GLsizei height) {
    if (!usable())
        return;
    if (width < 0 || height < 0) {
        setError(GL_INVALID_VALUE);
        return;
    }
    GLint* v = ctx->s.viewport;
    v[0] = x;
    v[1] = y;
    v[2] = width;
    v[3] = height;
    ctx->device.setViewport(x, y, width, height);
}

// ---- Matrices ----------------------------------------------------------------------

void matrixMode(GLenum mode) {
    if (!usable())
        return;
    if (mode != GL_MODELVIEW && mode != GL_PROJECTION) {
        setError(GL_INVALID_ENUM);
        return;
    }
    ctx->s.matrixMode = mode;
}

void loadIdentity() {
    if (usable())
        currentMatrix() = IDENTITY;
}

void pushMatrix() {
    if (!usable())
        return;
    std::vector<Matrix>& stack = currentStack();
    if (stack.size() >= MATRIX_STACK_DEPTH) {
        setError(GL_STACK_OVERFLOW);
        return;
    }
    stack.push_back(stack.back());
}

void popMatrix() {
    if (!usable())
        return;
    std::vector<Matrix>& stack = currentStack();
    if (stack.size() <= 1) {
        setError(GL_STACK_UNDERFLOW);
        return;
    }
    stack.pop_back();
}

void multMatrixf(const GLfloat* m) {
    if (!usable())
        return;
    Matrix a;
    std::copy(m, m + 16, a.m);
    multiplyCurrent(a);
}

void rotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
    if (!usable())
        return;
    const double length = std::sqrt(static_cast<double>(x) * x + static_cast<double>(y) * y +
                                    static_cast<double>(z) * z);
    // A rotation about no axis leaves the matrix as it is.
    if (length == 0.0)
        return;
    const double ux = x / length, uy = y / length, uz = z / length;
    const double radians = angle * PI / 180.0;
    const double s = std::sin(radians), c = std::cos(radians), t = 1.0 - c;
    const double r[9] = {ux * ux * t + c,      uy * ux * t + uz * s, ux * uz * t - uy * s,
                         ux * uy * t - uz * s, uy * uy * t + c,      uy * uz * t + ux * s,
                         ux * uz * t + uy * s, uy * uz * t - ux * s, uz * uz * t + c};
    Matrix m = IDENTITY;
    for (int col = 0; col < 3; ++col)
        for (int row = 0; row < 3; ++row)
            m.m[col * 4 + row] = static_cast<float>(r[col * 3 + row]);
    multiplyCurrent(m);
}

void translatef(GLfloat x, GLfloat y, GLfloat z) {
    if (!usable())
        return;
    Matrix m = IDENTITY;
    m.m[12] = x;
    m.m[13] = y;
    m.m[14] = z;
    multiplyCurrent(m);
}

void ortho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear,
           GLdouble zFar) {
    if (!usable())
        return;
    if (left == right || bottom == top || zNear == zFar) {
        setError(GL_INVALID_VALUE);
        return;
    }
    Matrix m = IDENTITY;
    m.m[0] = static_cast<float>(2.0 / (right - left));
    m.m[5] = static_cast<float>(2.0 / (top - bottom));
    m.m[10] = static_cast<float>(-2.0 / (zFar - zNear));
    m.m[12] = static_cast<float>(-(right + left) / (right - left));
    m.m[13] = static_cast<float>(-(top + bottom) / (top - bottom));
    m.m[14] = static_cast<float>(-(zFar + zNear) / (zFar - zNear));
    multiplyCurrent(m);
}

// ---- Immediate mode -------------------------------------------------------------------

void begin(GLenum mode) {
    if (!usable())
        return;
    if (mode != GL_TRIANGLES && mode != GL_QUADS) {
        setError(GL_INVALID_ENUM);
        return;
    }
    Context& c = *ctx;
    c.inside = true;
    c.primitive = mode;
    c.vertices.clear();
    // The modelview cannot change before glEnd.
    normalMatrixOf(c.modelview.back(), c.normalMatrix);
}

void end() {
    if (!ctx)
        return;
    Context& c = *ctx;
    if (!c.inside) {
        setError(GL_INVALID_OPERATION);
        return;
    }
    c.inside = false;
    c.triangles.clear();
    const std::vector<DeviceVertex>& v = c.vertices;
    if (c.primitive == GL_TRIANGLES) {
        for (size_t i = 0; i + 3 <= v.size(); i += 3)
            addTriangle(v[i], v[i + 1], v[i + 2], v[i + 2]);
    } else {
        // A quad's colour under flat shading is its fourth vertex's.
        for (size_t i = 0; i + 4 <= v.size(); i += 4) {
            addTriangle(v[i], v[i + 1], v[i + 2], v[i + 3]);
            addTriangle(v[i], v[i + 2], v[i + 3], v[i + 3]);
        }
    }
    const AttribState& s = c.s;
    if (c.triangles.empty() || blendedAway(s, c.triangles))
        return;
    DrawState state;
    state.blend = s.blend;
    state.blendSource = s.blendSource;
    state.blendDestination = s.blendDestination;
    state.depthTest = s.depthTest;
    state.depthFunc = s.depthFunc;
    state.cullFace = s.cullFace;
    state.cullMode = s.cullMode;
    state.texture = drawTexture();
    // GL_REPLACE takes an RGB or luminance texel's colour and keeps the
    // fragment's alpha: the device's texel times white.
    if (state.texture && s.textureEnvMode == GL_REPLACE) {
        for (DeviceVertex& vertex : c.triangles)
            std::fill(vertex.color, vertex.color + 3, 1.0f);
    }
    c.device.drawTriangles(state, c.triangles.data(), static_cast<int>(c.triangles.size()));
    c.deviceDraws++;
}

void vertex3f(GLfloat x, GLfloat y, GLfloat z) {
    // A vertex outside glBegin/glEnd draws nothing.
    if (ctx && ctx->inside)
        emitVertex(x, y, z);
}

void vertex2f(GLfloat x, GLfloat y) {
    vertex3f(x, y, 0.0f);
}

void normal3f(GLfloat x, GLfloat y, GLfloat z) {
    if (!ctx)
        return;
    float* n = ctx->s.normal;
    n[0] = x;
    n[1] = y;
    n[2] = z;
}

void color4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
    if (!ctx)
        return;
    float* c = ctx->s.color;
    c[0] = red;
    c[1] = green;
    c[2] = blue;
    c[3] = alpha;
}

void texCoord2f(GLfloat s, GLfloat t) {
    if (!ctx)
        return;
    ctx->s.texCoord[0] = s;
    ctx->s.texCoord[1] = t;
}

// ---- Lights ----------------------------------------------------------------------------

void lightfv(GLenum light, GLenum pname, const GLfloat* params) {
    if (!usable())
        return;
    const int i = lightIndex(light);
    if (i < 0 || (pname != GL_AMBIENT && pname != GL_DIFFUSE && pname != GL_POSITION)) {
        setError(GL_INVALID_ENUM);
        return;
    }
    Light& l = ctx->s.lights[i];
    if (pname == GL_AMBIENT) {
        std::copy(params, params + 4, l.ambient);
    } else if (pname == GL_DIFFUSE) {
        std::copy(params, params + 4, l.diffuse);
    } else {
        // Kept in eye coordinates, through the modelview of this moment.
        transform(ctx->modelview.back(), params, l.position);
    }
}

void getLightfv(GLenum light, GLenum pname, GLfloat* params) {
    if (!usable())
        return;
    const int i = lightIndex(light);
    if (i < 0 || (pname != GL_AMBIENT && pname != GL_DIFFUSE && pname != GL_POSITION)) {
        setError(GL_INVALID_ENUM);
        return;
    }
    const Light& l = ctx->s.lights[i];
    const float* from = pname == GL_AMBIENT   ? l.ambient
                        : pname == GL_DIFFUSE ? l.diffuse
                                              : l.position;
    std::copy(from, from + 4, params);
}

// The size of one level of the bound texture (0 x 0 while it has no image).
void getTexLevelParameteriv(GLenum target, GLint level, GLenum pname, GLint* params) {
    if (!usable())
        return;
    if (target != GL_TEXTURE_2D || (pname != GL_TEXTURE_WIDTH && pname != GL_TEXTURE_HEIGHT)) {
        setError(GL_INVALID_ENUM);
        return;
    }
    if (level < 0 || level >= MAX_TEXTURE_LEVELS) {
        setError(GL_INVALID_VALUE);
        return;
    }
    const TextureLevel& l = boundTexture().levels[level];
    *params = pname == GL_TEXTURE_WIDTH ? l.width : l.height;
}

// ---- Textures -----------------------------------------------------------------------------

void genTextures(GLsizei n, GLuint* names) {
    if (!usable())
        return;
    if (n < 0) {
        setError(GL_INVALID_VALUE);
        return;
    }
    for (GLsizei i = 0; i < n; ++i) {
        while (ctx->textures.count(ctx->nextTextureName))
            ++ctx->nextTextureName;
        names[i] = ctx->nextTextureName++;
    }
}

void bindTexture(GLenum target, GLuint texture) {
    if (!usable())
        return;
    if (target != GL_TEXTURE_2D) {
        setError(GL_INVALID_ENUM);
        return;
    }
    // Binding a name for the first time makes its texture object.
    ctx->textures[texture];
    ctx->s.textureBinding = texture;
}

void texParameteri(GLenum target, GLenum pname, GLint param) {
    if (!usable())
        return;
    if (target != GL_TEXTURE_2D) {
        setError(GL_INVALID_ENUM);
        return;
    }
    TextureObject& t = boundTexture();
    const GLenum value = static_cast<GLenum>(param);
    switch (pname) {
    case GL_TEXTURE_MIN_FILTER:
        if (value != GL_NEAREST && value != GL_LINEAR && value != GL_NEAREST_MIPMAP_NEAREST &&
            value != GL_LINEAR_MIPMAP_NEAREST && value != GL_NEAREST_MIPMAP_LINEAR &&
            value != GL_LINEAR_MIPMAP_LINEAR) {
            setError(GL_INVALID_ENUM);
            return;
        }
        t.minFilter = value;
        break;
    case GL_TEXTURE_MAG_FILTER:
        if (value != GL_NEAREST && value != GL_LINEAR) {
            setError(GL_INVALID_ENUM);
            return;
        }
        t.magFilter = value;
        break;
    case GL_TEXTURE_WRAP_S:
    case GL_TEXTURE_WRAP_T:
        if (value != GL_REPEAT) {
            setError(GL_INVALID_ENUM);
            return;
        }
        break;
    default:
        setError(GL_INVALID_ENUM);
        return;
    }
    t.filtersSent = false;
}

void texEnvi(GLenum target, GLenum pname, GLint param) {
    if (!usable())
        return;
    const GLenum mode = static_cast<GLenum>(param);
    if (target != GL_TEXTURE_ENV || pname != GL_TEXTURE_ENV_MODE ||
        (mode != GL_MODULATE && mode != GL_REPLACE)) {
        setError(GL_INVALID_ENUM);
        return;
    }
    ctx->s.textureEnvMode = mode;
}

void texImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                GLint border, GLenum format, GLenum type, const GLvoid* pixels) {
    if (!usable())
        return;
    if (target != GL_TEXTURE_2D || (format != GL_RGB && format != GL_LUMINANCE) ||
        type != GL_UNSIGNED_BYTE) {
        setError(GL_INVALID_ENUM);
        return;
    }
    int components = 0;
    if (internalFormat == 1 || internalFormat == GL_LUMINANCE || internalFormat == GL_LUMINANCE8)
        components = 1;
    else if (internalFormat == 3 || internalFormat == GL_RGB || internalFormat == GL_RGB8)
        components = 3;
    // GL 1.1 sizes are powers of two (0 removes the level's image).
    const bool sizeOk = (width == 0 || isPowerOfTwo(width)) &&
                        (height == 0 || isPowerOfTwo(height)) && width <= MAX_TEXTURE_SIZE &&
                        height <= MAX_TEXTURE_SIZE;
    if (components == 0 || level < 0 || level >= MAX_TEXTURE_LEVELS || border != 0 || !sizeOk) {
        setError(GL_INVALID_VALUE);
        return;
    }
    TextureObject& t = boundTexture();
    TextureLevel& l = t.levels[level];
    if (width == 0 || height == 0) {
        l = TextureLevel();
        return;
    }
    l.width = width;
    l.height = height;
    l.components = components;

    // Rows of the caller's buffer start at multiples of the unpack alignment;
    // the device takes them packed, converted to the internal format (a
    // luminance from RGB is its red, RGB from a luminance repeats it).
    std::vector<unsigned char> packed;
    if (pixels) {
        const int sourceComponents = format == GL_RGB ? 3 : 1;
        const size_t rowBytes = static_cast<size_t>(width) * sourceComponents;
        const size_t align = static_cast<size_t>(ctx->unpackAlignment);
        const size_t stride = (rowBytes + align - 1) / align * align;
        packed.resize(static_cast<size_t>(width) * height * components);
        const unsigned char* src = static_cast<const unsigned char*>(pixels);
        unsigned char* dst = packed.data();
        for (int y = 0; y < height; ++y) {
            const unsigned char* row = src + y * stride;
            for (int x = 0; x < width; ++x) {
                const unsigned char* texel = row + x * sourceComponents;
                for (int c = 0; c < components; ++c)
                    *dst++ = texel[sourceComponents == 3 ? c : 0];
            }
        }
    } else {
        // Without pixels the image's contents are undefined; zero is as good.
        packed.assign(static_cast<size_t>(width) * height * components, 0);
    }
    ctx->device.textureLevel(deviceTexture(t), level, components == 3 ? GL_RGB : GL_LUMINANCE,
                             width, height, packed.data());
}

void pixelStorei(GLenum pname, GLint param) {
    if (!usable())
        return;
    if (pname != GL_UNPACK_ALIGNMENT) {
        setError(GL_INVALID_ENUM);
        return;
    }
    if (param != 1 && param != 2 && param != 4 && param != 8) {
        setError(GL_INVALID_VALUE);
        return;
    }
    ctx->unpackAlignment = param;
}

// ---- Attribute stack ---------------------------------------------------------------------

void pushAttrib(GLbitfield mask) {
    if (!usable())
        return;
    if (ctx->attribStack.size() >= ATTRIB_STACK_DEPTH) {
        setError(GL_STACK_OVERFLOW);
        return;
    }
    ctx->attribStack.push_back(SavedAttrib{mask, ctx->s});
}

void popAttrib() {
    if (!usable())
        return;
    if (ctx->attribStack.empty()) {
        setError(GL_STACK_UNDERFLOW);
        return;
    }
    const SavedAttrib saved = ctx->attribStack.back();
    ctx->attribStack.pop_back();
    restoreGroups(saved.mask, saved.state);
}

// ---- Queries ----------------------------------------------------------------------------------

void getIntegerv(GLenum pname, GLint* params) {
    if (!usable())
        return;
    const AttribState& s = ctx->s;
    switch (pname) {
    case GL_UNPACK_ALIGNMENT:
        *params = ctx->unpackAlignment;
        break;
    case GL_VIEWPORT:
        std::copy(s.viewport, s.viewport + 4, params);
        break;
    case GL_MATRIX_MODE:
        *params = static_cast<GLint>(s.matrixMode);
        break;
    case GL_MODELVIEW_STACK_DEPTH:
        *params = static_cast<GLint>(ctx->modelview.size());
        break;
    case GL_PROJECTION_STACK_DEPTH:
        *params = static_cast<GLint>(ctx->projection.size());
        break;
    case GL_ATTRIB_STACK_DEPTH:
        *params = static_cast<GLint>(ctx->attribStack.size());
        break;
    case GL_TEXTURE_BINDING_2D:
        *params = static_cast<GLint>(s.textureBinding);
        break;
    case GL_BLEND_SRC:
        *params = static_cast<GLint>(s.blendSource);
        break;
    case GL_BLEND_DST:
        *params = static_cast<GLint>(s.blendDestination);
        break;
    case GL_DEPTH_FUNC:
        *params = static_cast<GLint>(s.depthFunc);
        break;
    case GL_CULL_FACE_MODE:
        *params = static_cast<GLint>(s.cullMode);
        break;
    case GL_SHADE_MODEL:
        *params = static_cast<GLint>(s.shadeModel);
        break;
    case GL_PERSPECTIVE_CORRECTION_HINT:
        *params = static_cast<GLint>(s.perspectiveHint);
        break;
    case GL_MAX_TEXTURE_SIZE:
        *params = MAX_TEXTURE_SIZE;
        break;
    default:
        setError(GL_INVALID_ENUM);
        break;
    }
}

void getFloatv(GLenum pname, GLfloat* params) {
    if (!usable())
        return;
    const AttribState& s = ctx->s;
    switch (pname) {
    case GL_MODELVIEW_MATRIX:
        std::copy(ctx->modelview.back().m, ctx->modelview.back().m + 16, params);
        break;
    case GL_PROJECTION_MATRIX:
        std::copy(ctx->projection.back().m, ctx->projection.back().m + 16, params);
        break;
    case GL_CURRENT_COLOR:
        std::copy(s.color, s.color + 4, params);
        break;
    case GL_CURRENT_NORMAL:
        std::copy(s.normal, s.normal + 3, params);
        break;
    case GL_CURRENT_TEXTURE_COORDS:
        params[0] = s.texCoord[0];
        params[1] = s.texCoord[1];
        params[2] = 0.0f;
        params[3] = 1.0f;
        break;
    case GL_COLOR_CLEAR_VALUE:
        std::copy(s.clearColor, s.clearColor + 4, params);
        break;
    case GL_DEPTH_CLEAR_VALUE:
        *params = s.clearDepth;
        break;
    default:
        setError(GL_INVALID_ENUM);
        break;
    }
}

} // namespace gl11
