// The show in a browser page: the entry points that the page (show.js) calls.
//
// - The show: the shell's own start-up, then one frame-loop pass per
//   animation frame. A pass is finished (its duration counted) when the next
//   animation frame begins, which is when its frame has been presented, as a
//   native buffer swap returns when the frame is shown; so frameTime is the
//   frame period, as natively.
// - The test mode: the show under the virtual clock (app/virtual_show.h), as
//   the capture program runs it natively, on a canvas of a size of its own;
//   the page runs passes up to chosen instants and reads the frames back.
//
// The page's main thread. Times in milliseconds, sizes in pixels.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdint>
#include <vector>

#include "app/shell.h"
#include "app/virtual_show.h"
#include "music/music.h"
#include "platform/module_player.h"
#include "platform/offline_module.h"
#include "platform/offscreen.h"
#include "platform/platform.h"
#include "platform/web/page.h"

namespace {

FrameLoop loop;
bool passDrawn = false;
// The page asked the show to end (its picture was lost): at the next frame.
bool endAsked = false;

// Test mode.
platform::OfflineModule offlineMusic;
VirtualClock testClock;
std::vector<unsigned char> frame;

EM_JS(void, pageShowEnded, (), {
    if (Module.tuhkalaShowEnded)
        Module.tuhkalaShowEnded();
});

void endShow() {
    platform::modulePlayerClose();
    platform::closePageWindow();
    pageShowEnded();
}

EM_BOOL animationFrame(double, void*) {
    if (endAsked) {
        endShow();
        return EM_FALSE;
    }
    if (passDrawn && !finishFramePass(&loop)) {
        endShow();
        return EM_FALSE;
    }
    passDrawn = drawFramePass(&loop);
    if (!passDrawn) {
        endShow();
        return EM_FALSE;
    }
    return EM_TRUE;
}

} // namespace

extern "C" {

// The show's start-up on the page's canvas: window, GL state, the scenes'
// setups and the music; 0 when the show can run, 1 after start-up failed (its
// message has been shown). The audio worklet loads the module in the
// background; the page calls tuhkalaRunShow once it has, so that the music
// and the frame loop's clock start together, as natively.
EMSCRIPTEN_KEEPALIVE int tuhkalaStartShow() {
    platform::setMessageBoxesEnabled(true);
    return startShow();
}

// The frame loop, one pass per animation frame from now on.
EMSCRIPTEN_KEEPALIVE void tuhkalaRunShow() {
    startFrameLoop(&loop, effectTable);
    passDrawn = false;
    endAsked = false;
    emscripten_request_animation_frame_loop(animationFrame, nullptr);
}

// Ends the show at the next animation frame, as a quit would: the music stops,
// the window is closed and the page is told.
EMSCRIPTEN_KEEPALIVE void tuhkalaEndShow() {
    endAsked = true;
}

// The frameTime that the next pass hands to the scenes (ms), and the passes
// counted in it.
EMSCRIPTEN_KEEPALIVE float tuhkalaFrameTime() {
    return loop.frameTime;
}
EMSCRIPTEN_KEEPALIVE int32_t tuhkalaFrameCount() {
    return loop.frameCount;
}

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

// The position the scenes read now: order in bits 0-15, row in 16-31.
EMSCRIPTEN_KEEPALIVE uint32_t tuhkalaMusicPosition() {
    return static_cast<uint32_t>(musicOrder()) | static_cast<uint32_t>(musicRow()) << 16;
}

// The schedule's clock: milliseconds since the frame loop started.
EMSCRIPTEN_KEEPALIVE uint32_t tuhkalaShowTime() {
    return platform::ticksBetween(startTick, platform::tickCount());
}

// Test mode: the offline render's position at show time ms.
EMSCRIPTEN_KEEPALIVE uint32_t tuhkalaTestPosition(uint32_t ms) {
    return offlineMusic.positionAtMs(ms);
}

} // extern "C"
