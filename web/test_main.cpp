// The page's test mode (index.html?test), a program of its own
// (tuhkala-test.wasm) so that viewers do not download the offline render's
// libopenmpt: the show under the virtual clock (app/virtual_show.h), as the
// capture program runs it natively, on a canvas of a size of its own. The
// page runs passes up to chosen instants and reads the frames back.
//
// The page's main thread. Times in milliseconds of show time, sizes in pixels.
#include <emscripten.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/virtual_show.h"
#include "music/music.h"
#include "platform/offline_module.h"
#include "platform/offscreen.h"
#include "platform/platform.h"
#include "platform/web/page.h"

namespace {

FrameLoop loop;
platform::OfflineModule offlineMusic;
VirtualClock testClock;
std::vector<unsigned char> frame;

} // namespace

extern "C" {

// Test mode at width x height and fps passes a second of show time; 0 when
// ready, 1 when the canvas or the module could not be had.
EMSCRIPTEN_KEEPALIVE int tuhkalaStartTest(int width, int height, int fps) {
    std::string error;
    if (fps < 1 || fps > 1000 || !platform::openOffscreen(width, height, &error))
        return 1;
    if (!offlineMusic.loadFile(platform::dataPath(MUSIC_FILE), nullptr))
        return 1;
    startVirtualShow(width, height);
    testClock.fps = fps;
    testClock.music = &offlineMusic;
    startVirtualClock(&testClock);
    startFrameLoop(&loop, effectTable);
    return 0;
}

// Runs passes until endPass of them are done or the show is over; returns the
// passes done. The frame of the last one stays in the canvas. With finish set
// each pass waits until its frame is drawn (WebGL draws in the background), so
// that the time the page measures is the whole frame's.
EMSCRIPTEN_KEEPALIVE uint32_t tuhkalaTestRunTo(uint32_t endPass, int finish) {
    // The clock counts a pass as done at its swap.
    while (testClock.pass < endPass) {
        const bool drawn = drawFramePass(&loop);
        if (finish)
            platform::waitForFrame();
        if (!drawn || !finishFramePass(&loop))
            break;
    }
    return static_cast<uint32_t>(testClock.pass);
}

// The canvas as tightly packed RGB, top row first (width x height x 3 bytes).
EMSCRIPTEN_KEEPALIVE const unsigned char* tuhkalaTestFrame() {
    frame = platform::readPixelsRGB();
    return frame.data();
}

// The offline render's position at show time ms: order in bits 0-15, row in
// bits 16-31.
EMSCRIPTEN_KEEPALIVE uint32_t tuhkalaTestPosition(uint32_t ms) {
    return offlineMusic.positionAtMs(ms);
}

} // extern "C"
