// The picture pulse that "eka efu" and "toka efu" share: a picture centred at
// half the screen's width and height, and four copies of it that grow to the
// full screen, each started on a later row of the pattern.
//
// Main thread, with the GL context current. A copy's growth runs from 0 (the
// centre rectangle) to 100 (the whole 640 x 480 virtual screen); frameTime in
// milliseconds.
#pragma once

class Texture;

// Draws the centred picture; grows every copy whose starting row (8, 12, 16,
// 20) the music's row has reached, asked afresh for each copy, by frameTime x
// 0.3, up to 100; then draws the four copies in order, each over the last.
void drawPicturePulse(Texture* picture, float growth[4], float frameTime);
