// Screen-space pictures and fades over the current frame, in a virtual screen
// of 640 x 480 units (origin top left, y down) mapped onto the whole viewport.
//
// Render thread (the main thread), between a frame's clear and its swap. Every
// call saves and restores all GL attributes and both matrices; one at alpha 0
// or below, which cannot change a pixel, draws nothing, and a normal (not
// additive) one at alpha 1 or above replaces the pixels under it, drawn
// without blending.
#pragma once

class Texture;

void drawImage(Texture* texture, float x0, float y0, float x1, float y1, float alpha,
               bool additive);
void drawTintedImage(Texture* texture, float x0, float y0, float x1, float y1, float red,
                     float green, float blue, float alpha, bool additive);
void drawFade(float red, float green, float blue, float alpha);
