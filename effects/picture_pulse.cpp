// The shared picture pulse (see picture_pulse.h).
//
// Main thread, with the GL context current. Overlay rectangles in the
// 640 x 480 virtual screen, frameTime in milliseconds.
#include "effects/picture_pulse.h"

#include "music/music.h"
#include "render/overlay.h"

namespace {

const int PULSE_ROWS[4] = {8, 12, 16, 20};

} // namespace

void drawPicturePulse(Texture* picture, float growth[4], float frameTime) {
    drawImage(picture, 160.0f, 120.0f, 480.0f, 360.0f, 0.75f, false);
    for (int i = 0; i < 4; ++i) {
        if (musicRow() >= PULSE_ROWS[i]) {
            growth[i] = static_cast<float>(growth[i] + frameTime * 0.3);
            if (growth[i] > 100.0f)
                growth[i] = 100.0f;
        }
    }
    // Products in double precision: at 100 a copy covers exactly (0, 0) to
    // (640, 480).
    for (int i = 0; i < 4; ++i) {
        const double p = growth[i];
        drawImage(picture, static_cast<float>(160.0 - p * 1.6), static_cast<float>(120.0 - p * 1.2),
                  static_cast<float>(480.0 + p * 1.6), static_cast<float>(360.0 + p * 1.2), 0.75f,
                  false);
    }
}
