// Screen-space quads over the current frame: pictures, tinted pictures and
// colour fades, in a 640 x 480 virtual screen (origin top left, y down) that
// an orthographic unit square maps onto the whole viewport.
//
// Main thread, between a frame's clear and its swap. Every call pushes all GL
// attributes and both matrices and pops them again, so the caller's 3D state
// is untouched.
//
// Both blend modes weigh the quad by its alpha (GL_SRC_ALPHA over
// GL_ONE_MINUS_SRC_ALPHA, or added with GL_ONE), and every texture of the show
// is opaque (RGB or luminance). So a quad at alpha 0 or below (GL clamps the
// colour to 0) leaves every pixel as it is and is not drawn at all; and a
// normal quad at alpha 1 or above replaces what lies under it, which it does
// the same without blending, at less cost (the renderer need not read the
// pixels under it).
#include "render/overlay.h"

#include <GL/gl.h>

#include <cmath>

#include "resources/texture.h"

namespace {

// Every attribute group of OpenGL 1.1.
constexpr GLbitfield ALL_ATTRIBUTES = 0xFFFFF;
constexpr float SCREEN_X_SCALE = 1.0f / 640.0f; // 0.0015625f
constexpr float SCREEN_Y_SCALE = 1.0f / 480.0f; // 0.0020833334f

// Unit square with y = 0 at the top, on both matrices pushed; undone by
// restoreState.
void beginScreen() {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, 1.0, 1.0, 0.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

// Pops both matrices, leaves the modelview mode selected and restores every
// attribute, the caller's matrix mode included.
void restoreState() {
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

// Whether a quad at this alpha can change a pixel (see the top of the file);
// a NaN alpha is drawn, as before.
bool changesPixels(float alpha) {
    return !(alpha <= 0.0f);
}

// Blending on for a quad that mixes with what lies under it, off for one that
// replaces it.
void setBlending(float alpha, bool additive) {
    glBlendFunc(GL_SRC_ALPHA, additive ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA);
    if (additive || !(alpha >= 1.0f))
        glEnable(GL_BLEND);
    else
        glDisable(GL_BLEND);
}

void drawTexturedQuad(Texture* texture, float x0, float y0, float x1, float y1, float red,
                      float green, float blue, float alpha, bool additive) {
    if (!changesPixels(alpha))
        return;
    glPushAttrib(ALL_ATTRIBUTES);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glDisable(GL_DEPTH_TEST);
    setBlending(alpha, additive);
    // A picture drawn at about its texture's size or larger samples level 0
    // alone; saying so spares a software renderer the choice of a mipmap
    // level at every pixel (about a tenth of a full-screen picture's cost),
    // and the pixels are the same.
    bool levelZero = false;
    if (texture) {
        texture->bind();
        GLint viewport[4] = {0, 0, 0, 0};
        glGetIntegerv(GL_VIEWPORT, viewport);
        levelZero = texture->drawnFromLevelZero(std::fabs(x1 - x0) * viewport[2] * SCREEN_X_SCALE,
                                                std::fabs(y1 - y0) * viewport[3] * SCREEN_Y_SCALE);
        if (levelZero)
            texture->sampleLevelZeroOnly(true);
        // Untinted, the texel times white is the texel: the replacing
        // environment gives the same colour (the alpha stays the quad's, the
        // textures having none) without the multiply at every pixel.
        if (red == 1.0f && green == 1.0f && blue == 1.0f)
            glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    } else {
        // No picture: the quad is drawn untextured, as an unloaded one would be.
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    beginScreen();
    float left = x0 * SCREEN_X_SCALE;
    float top = y0 * SCREEN_Y_SCALE;
    float right = x1 * SCREEN_X_SCALE;
    float bottom = y1 * SCREEN_Y_SCALE;
    // Counter-clockwise on the screen for x0 < x1 and y0 < y1, so a normal
    // rectangle survives back-face culling; the picture's first row lies along y0.
    glBegin(GL_QUADS);
    glColor4f(red, green, blue, alpha);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(left, top);
    glColor4f(red, green, blue, alpha);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(left, bottom);
    glColor4f(red, green, blue, alpha);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(right, bottom);
    glColor4f(red, green, blue, alpha);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(right, top);
    glEnd();
    // The filter is the texture object's own state: put back here, not left
    // to the attribute pop (the browser's GL layer does not save it).
    if (levelZero)
        texture->sampleLevelZeroOnly(false);
    restoreState();
}

} // namespace

void drawImage(Texture* texture, float x0, float y0, float x1, float y1, float alpha,
               bool additive) {
    drawTexturedQuad(texture, x0, y0, x1, y1, 1.0f, 1.0f, 1.0f, alpha, additive);
}

void drawTintedImage(Texture* texture, float x0, float y0, float x1, float y1, float red,
                     float green, float blue, float alpha, bool additive) {
    drawTexturedQuad(texture, x0, y0, x1, y1, red, green, blue, alpha, additive);
}

void drawFade(float red, float green, float blue, float alpha) {
    if (!changesPixels(alpha))
        return;
    glPushAttrib(ALL_ATTRIBUTES);
    setBlending(alpha, false);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    beginScreen();
    glBegin(GL_QUADS);
    glColor4f(red, green, blue, alpha);
    glVertex2f(0.0f, 0.0f);
    glColor4f(red, green, blue, alpha);
    glVertex2f(0.0f, 1.0f);
    glColor4f(red, green, blue, alpha);
    glVertex2f(1.0f, 1.0f);
    glColor4f(red, green, blue, alpha);
    glVertex2f(1.0f, 0.0f);
    glEnd();
    restoreState();
}
