// The show in a browser page: the entry points that the page (show.js) calls
// for a viewer. The test mode is a program of its own (test_main.cpp).
//
// The shell's own start-up, then one frame-loop pass per animation frame. A
// pass is finished (its duration counted) when the next animation frame
// begins, which is when its frame has been presented, as a native buffer swap
// returns when the frame is shown; so frameTime is the frame period, as
// natively, and each pass draws ahead by one and a half of them, as natively
// (the browser shows a frame drawn in one animation frame from the next one
// on). The window's clock is the heard clock of the page's sound
// (platform_web.cpp): while the sound is stopped (the browser suspended or
// interrupted it) no pass runs, the picture and the schedule wait with the
// music, and a key still ends the show. When the sound fails for good, or
// the page asks (its picture was lost), the show ends; the page says why.
//
// The page's main thread. Times in milliseconds.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdint>
#include <vector>

#include "app/shell.h"
#include "music/music.h"
#include "platform/module_player.h"
#include "platform/platform.h"
#include "platform/web/page.h"

namespace {

FrameLoop loop;
bool passDrawn = false;
std::vector<unsigned char> musicBytes;
// The page asked the show to end (its picture was lost): at the next frame.
bool endAsked = false;

EM_JS(void, pageShowEnded, (), {
    if (Module.tuhkalaShowEnded)
        Module.tuhkalaShowEnded();
});

// What the page's sound is doing (show.js, ShowAudio.state).
enum SoundState { SoundPlaying = 0, SoundStopped = 1, SoundFailed = 2 };
EM_JS(int, pageSoundState, (), { return Module.tuhkalaAudio ? Module.tuhkalaAudio.state() : 0; });

void endShow() {
    platform::modulePlayerClose();
    platform::closePageWindow();
    pageShowEnded();
}

EM_BOOL animationFrame(double, void*) {
    const int sound = pageSoundState();
    if (endAsked || sound == SoundFailed) {
        endShow();
        return EM_FALSE;
    }
    if (passDrawn && !finishFramePass(&loop)) {
        endShow();
        return EM_FALSE;
    }
    passDrawn = false;
    if (sound == SoundStopped) {
        // No pass: one with the clock stopped would count a frame of no
        // length. The pass drawn before the sound stopped was finished above.
        if (platform::pageEndRequested()) {
            endShow();
            return EM_FALSE;
        }
        return EM_TRUE;
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

// The module file as the music will read it at start-up, for the page to hand
// to the audio worklet first: the worklet answers whether it can play it (and
// how many orders it has) only asynchronously, and the start-up asks
// synchronously. Returns its size, or -1 when it cannot be read (start-up then
// fails as natively); tuhkalaMusicBytes points at the bytes.
EMSCRIPTEN_KEEPALIVE int tuhkalaReadMusic() {
    if (!platform::readDataFile(platform::dataPath(MUSIC_FILE).c_str(), musicBytes))
        return -1;
    return static_cast<int>(musicBytes.size());
}
EMSCRIPTEN_KEEPALIVE const unsigned char* tuhkalaMusicBytes() {
    return musicBytes.data();
}

// The show's start-up on the page's canvas: window, GL state, the scenes'
// setups and the music (musicInit, musicPlay); 0 when the show can run, 1
// after start-up failed (its message has been shown). A sound failure ends
// the program with its line printed, as natively.
EMSCRIPTEN_KEEPALIVE int tuhkalaStartShow() {
    musicBytes = std::vector<unsigned char>();
    platform::setMessageBoxesEnabled(true);
    return startShow();
}

// The frame loop, one pass per animation frame from now on. The page calls it
// in the same task as tuhkalaStartShow, so that the music's start and its
// rewind to order 0 reach the worklet as one message and nothing before the
// rewind is played (show.js, ShowAudio.play).
EMSCRIPTEN_KEEPALIVE void tuhkalaRunShow() {
    startFrameLoop(&loop, effectTable);
    loop.drawAhead = true;
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

// The position heard now: order in bits 0-15, row in 16-31.
EMSCRIPTEN_KEEPALIVE uint32_t tuhkalaMusicPosition() {
    return platform::modulePlayerPosition();
}

// What the latest pass drew ahead of the clock (ms), and the position the
// scenes read now, that far ahead.
EMSCRIPTEN_KEEPALIVE int32_t tuhkalaLeadMs() {
    return loop.leadMs;
}
EMSCRIPTEN_KEEPALIVE uint32_t tuhkalaMusicPositionAhead() {
    return static_cast<uint32_t>(musicOrder()) | static_cast<uint32_t>(musicRow()) << 16;
}

// The schedule's clock: milliseconds since order 0 was heard; negative while
// the loop still waits for it.
EMSCRIPTEN_KEEPALIVE int32_t tuhkalaShowTime() {
    return static_cast<int32_t>(platform::ticksBetween(startTick, platform::tickCount()));
}

} // extern "C"
