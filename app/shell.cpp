// The show's life on the main thread: start-up, the fixed GL state and
// projection, the window procedure, teardown, and the frame loop that runs
// the schedule of effects.
//
// Main thread only. Times are milliseconds of the platform tick counter;
// show time, from when order 0 was heard, runs on the music's heard clock
// where the music has one (the sound device's). Sizes are pixels, the field
// of view is in degrees.
//
// The loop reaches the window system only through platform::, so the show's
// SDL window, the off-screen capture and the tests' scripted backends all run
// this same code.
#include "app/shell.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>

#include "effects/effects.h"
#include "music/music.h"

int windowWidth = 640;
int windowHeight = 480;
uint32_t startTick = 0;

const EffectEntry effectTable[] = {
    {"eka efu", ekaRender, 0, 19199},
    {"toka efu", tokaRender, 19200, 51199},
    {"kaka efu", kakaRender, 51200, 63999},
    {"muija efu", muijaRender, 64000, 76799},
    {"joku efu", jokuRender, 76800, 127999},
    {"neljas efu", neljasRender, 128000, 140799},
    {"tyma efu", tymaRender, 140800, 159999},
    {"loppu efu", loppuRender, 160000, SHOW_LAST_MS},
    {nullptr, nullptr, 0, 0},
};

namespace {

const char* const CLASS_NAME = "Tuhkala Rautakivi";
const char* const WINDOW_TITLE = "Varjoinen Tuhkalademo by Rautakivi (Smog in 9kb)";

// The near plane is the single-precision 0.1 widened to double.
const double NEAR_PLANE = static_cast<double>(0.1f);
const double FAR_PLANE = 100.0;
const double FIELD_OF_VIEW = 45.0;
// The picture's shape where it is kept: that of the 640 x 480 screen that the
// overlays are drawn in.
const double PICTURE_ASPECT = 640.0 / 480.0;

// Fixed for the run at start-up, like the window's class style: the window
// procedure reads it when a resize arrives.
PictureFit fit = PictureFit::Fill;

} // namespace

void setPictureFit(PictureFit chosen) {
    fit = chosen;
}

PixelRect pictureRect(int width, int height) {
    PixelRect r;
    if (width <= 0 || height <= 0)
        return r;
    // 64 bits: width * 3 and height * 4 of any int stay exact.
    const int64_t w = width, h = height;
    if (w * 3 >= h * 4) {
        r.height = height;
        r.width = static_cast<int>(h * 4 / 3);
    } else {
        r.width = width;
        r.height = static_cast<int>(w * 3 / 4);
    }
    r.x = (width - r.width) / 2;
    // GL counts rows from the bottom: the bottom margin takes the odd row.
    const int spare = height - r.height;
    r.y = spare - spare / 2;
    return r;
}

void initGlState() {
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_DEPTH_TEST);
    glShadeModel(GL_SMOOTH);
}

void initGl() {
    initGlState();
    // No viewport here: the context's own (its first drawable's size) stays
    // until a resize, while the aspect is that of the outer window size.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(FIELD_OF_VIEW, static_cast<double>(windowWidth) / windowHeight, NEAR_PLANE,
                   FAR_PLANE);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void resizeViewport(int width, int height) {
    // A zero height would divide by zero; a minimised window keeps what it had.
    if (height == 0)
        return;
    // Without a context (during creation, after teardown) there is nothing to
    // resize.
    if (!platform::contextCurrent())
        return;
    double aspect = static_cast<double>(width) / height;
    if (fit == PictureFit::KeepAspect) {
        const PixelRect picture = pictureRect(width, height);
        // Too small to hold a picture of a pixel: like a minimised window.
        if (picture.width == 0 || picture.height == 0)
            return;
        glViewport(picture.x, picture.y, picture.width, picture.height);
        aspect = PICTURE_ASPECT;
    } else {
        glViewport(0, 0, width, height);
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(FIELD_OF_VIEW, aspect, NEAR_PLANE, FAR_PLANE);
    // The model-view matrix is deliberately left as it is.
    glMatrixMode(GL_MODELVIEW);
}

void teardown() {
    // The display mode is never changed, so there is none to restore.
    platform::releaseContext();
    platform::postEvent({platform::Event::Quit, 0, 0});
}

void windowProc(const platform::Event& event) {
    switch (event.type) {
    case platform::Event::Close:
        teardown();
        // The default handling of a close request destroys the window, which
        // delivers the destroy message at once: teardown runs a second time,
        // finds nothing left to release and posts a second quit.
        windowProc({platform::Event::Destroy, 0, 0});
        break;
    case platform::Event::Destroy:
    case platform::Event::Quit:
        teardown();
        break;
    case platform::Event::Resize:
        resizeViewport(event.width, event.height);
        break;
    case platform::Event::KeyDown:
        // Any key: the window is asked to go away, and that ends the show.
        platform::postEvent({platform::Event::Destroy, 0, 0});
        break;
    case platform::Event::Other:
        break;
    }
}

void runEffectSetups() {
    // This order matters: "toka efu" draws the picture that ekaSetup loads and
    // "kaka efu" the one that tokaSetup loads.
    ekaSetup();
    jokuSetup();
    tokaSetup();
    levelSetup();
    tymaSetup();
    loppuSetup();
    kakaSetup();
    muijaSetup();
    neljasSetup();
}

const EffectEntry* findEffect(const EffectEntry* table, int t) {
    for (const EffectEntry* row = table; row->render; ++row) {
        if (row->start <= t && t <= row->end)
            return row;
    }
    return nullptr;
}

// The show, the capture program, the browser build and the tests all drive
// this one loop; what differs is the backend installed behind platform:: and
// the music source:
// - the show (runFrameLoop from showMain) runs effectTable on the SDL
//   window's backend, with the real-time module player as the music;
// - tuhkala-capture (runVirtualFrameLoop, tools/capture_run.cpp) runs
//   effectTable on the off-screen backend, whose clock moves one frame
//   period in the swap hook, with the music position of an offline render at
//   that clock;
// - the browser build (web/main.cpp) runs one pass per animation frame on the
//   page's canvas, finishing it when the next frame begins, with the music
//   of the page's audio worklet; its test mode runs passes as the capture
//   program does;
// - the tests run small tables of their own on a scripted backend with a
//   scripted music position (tests/app/frame_loop_test.cpp), or under the
//   capture's virtual clock (tests/capture/virtual_loop_test.cpp).
namespace {

// The schedule's clock starts when order 0 reaches the listener, not when it
// is set: the output still holds what it was given before, for as long as its
// latency. The scenes' cues follow the heard position, so only a schedule
// started at the heard start puts scene changes and cues together. Until
// then startTick lies in the future, where no row holds the (negative) show
// time, so the passes wait instead.
void heardStart(FrameLoop* loop, uint32_t now) {
    const int ms = musicMsUntilHeard();
    startTick = now + static_cast<uint32_t>(ms);
    loop->heard = ms <= 0;
}

// Show time, once order 0 has been heard: milliseconds since then. Music with
// a sound device behind it tells how long ago that was by the device's clock,
// which is the clock of the cues (musicHeardClock); startTick then follows it,
// so that it stays the tick when order 0 was heard. Otherwise the tick
// counter tells. Never earlier than the pass before: the heard clock
// wavers by a millisecond or two between passes, and a pass's show time that
// went back over a scene's start would draw the scene before it again.
int32_t showTime(const FrameLoop& loop, uint32_t now) {
    int32_t ms = musicHeardClock() ? -musicMsUntilHeard()
                                   : static_cast<int32_t>(platform::ticksBetween(startTick, now));
    ms = std::max(ms, loop.showMs);
    startTick = now - static_cast<uint32_t>(ms);
    return ms;
}

// Drawing ahead: a pass's picture is on the screen from the end of the pass
// until the end of the next, so the time it stands for best is the middle of
// that, one and a half passes from the pass's start. A pass's duration is
// taken from the recent ones; a machine so slow that the lead would pass
// LEAD_MAX_MS draws no further ahead than that (its pictures lag anyway).
constexpr double LEAD_PASSES = 1.5;
constexpr int32_t LEAD_MAX_MS = 100;
// The weight of the newest pass in the running mean: about the last eight
// passes, so that a scene that draws faster or slower is followed within a
// few passes while the tick counter's whole milliseconds even out.
constexpr double PASS_ESTIMATE_WEIGHT = 1.0 / 8;

int32_t drawLeadMs(const FrameLoop& loop) {
    const double lead = std::min(LEAD_PASSES * loop.passEstimateMs, double(LEAD_MAX_MS));
    return static_cast<int32_t>(std::lround(lead));
}

} // namespace

void startFrameLoop(FrameLoop* loop, const EffectEntry* table) {
    *loop = FrameLoop();
    loop->table = table;
    // The music is already playing; start it again together with the clock.
    musicSetPosition(0);
    heardStart(loop, platform::tickCount());
}

bool drawFramePass(FrameLoop* loop) {
    platform::Event event;
    if (platform::takeEvent(&event)) {
        if (event.type == platform::Event::Quit)
            return false;
        windowProc(event);
    }
    if (platform::escapeHeld())
        return false;

    loop->waiting = !loop->heard;
    if (loop->waiting) {
        heardStart(loop, platform::tickCount());
        if (!loop->heard)
            return true;
        loop->waiting = false;
    }

    loop->leadMs = loop->drawAhead ? drawLeadMs(*loop) : 0;
    musicSetLookAhead(loop->leadMs);
    loop->showMs = showTime(*loop, platform::tickCount());
    const int32_t t = loop->showMs + loop->leadMs;
    loop->passStart = platform::tickCount();

    const EffectEntry* row = findEffect(loop->table, t);
    loop->matched = row != nullptr;
    // After a teardown in this pass no context is current: drawing and
    // swapping would reach GL without one, so the pass only keeps time.
    const bool drawable = platform::contextCurrent();
    if (row && drawable)
        row->render(loop->frameTime);
    if (drawable)
        platform::swapBuffers();
    return true;
}

namespace {

// A pass longer than a second and than STALL_FACTOR times both the mean and
// the pass before it did not spend its time drawing: the process was stopped
// (a debugger, SIGSTOP, a machine overloaded for seconds) or the page was
// hidden and got no animation frames, while the music played on. Counted, it
// would put the whole stall into the mean, and every motion after it would
// run fast by as much, for the rest of the show. Such a pass is left out of
// the mean, so the speed of what follows is the speed before it.
// No virtual clock has a pass longer than a second (its slowest rate is one
// pass a second), so captures never meet the rule; nor does a live run whose
// passes all take less than a second. Against the pass before as well as the
// mean, so that a machine that turns slow for good (a heavier scene on a
// software renderer) is followed after one pass.
constexpr uint32_t STALL_MIN_MS = 1000;
constexpr uint32_t STALL_FACTOR = 4;

bool isStall(const FrameLoop& loop, uint32_t passMs) {
    const double usual = std::max(static_cast<double>(loop.frameTime), double(loop.lastPassMs));
    return passMs > STALL_MIN_MS && passMs > STALL_FACTOR * usual;
}

} // namespace

bool finishFramePass(FrameLoop* loop) {
    // A pass that only waited drew nothing: it is no frame to time.
    if (loop->waiting)
        return true;
    const uint32_t passMs = platform::ticksBetween(loop->passStart, platform::tickCount());
    const bool stall = isStall(*loop, passMs);
    loop->lastPassMs = passMs;
    if (stall)
        return loop->matched;
    loop->busyTotal += static_cast<int32_t>(passMs);
    loop->frameCount += 1;
    loop->passEstimateMs =
        loop->frameCount == 1
            ? passMs
            : loop->passEstimateMs + (passMs - loop->passEstimateMs) * PASS_ESTIMATE_WEIGHT;
    loop->frameTime = static_cast<float>(static_cast<double>(loop->busyTotal) / loop->frameCount);
    // Painting needs no handling here: every pass redraws the whole frame.
    return loop->matched;
}

void runFrameLoopWith(const EffectEntry* table, bool drawAhead) {
    FrameLoop loop;
    startFrameLoop(&loop, table);
    loop.drawAhead = drawAhead;
    while (drawFramePass(&loop) && finishFramePass(&loop)) {
    }
}

void runFrameLoop() {
    runFrameLoopWith(effectTable, true);
}

int openShowWindow(const ShowWindow& window) {
    platform::WindowRequest request = {CLASS_NAME, WINDOW_TITLE, windowWidth, windowHeight,
                                       platform::WindowRequest::OuterSize};
    if (window.mode == ShowWindow::Sized) {
        request.width = window.width;
        request.height = window.height;
        request.mode = platform::WindowRequest::Resizable;
    } else if (window.mode == ShowWindow::Fullscreen) {
        request.mode = platform::WindowRequest::Fullscreen;
    }
    switch (platform::openWindow(request)) {
    case platform::WindowOk:
        break;
    case platform::WindowClassFailed:
        platform::showErrorBox("Window Creation Error",
                               "The window class could not be registered!");
        return 1;
    case platform::WindowCreateFailed:
        platform::showErrorBox("Window Creation Error", "Couldn't create window!");
        return 1;
    case platform::PixelFormatNotFound:
        platform::showErrorBox("OpenGL application error",
                               "Failed to find acceptable pixel format.");
        return 1;
    default:
        platform::showErrorBox("OpenGL application error", "Failed to set pixel format.");
        return 1;
    }
    // The visual was fixed when the window was made; a context that cannot be
    // created on it means the window cannot take the pixel format.
    if (!platform::createWindowContext()) {
        platform::showErrorBox("OpenGL application error", "Failed to set pixel format.");
        return 1;
    }
    initGl();
    if (window.mode != ShowWindow::Fixed) {
        setPictureFit(PictureFit::KeepAspect);
        // The viewport a context starts with is its drawable's size (the
        // whole screen in full screen); the picture takes its 4:3 part now,
        // not at the first resize, which may never come.
        GLint drawable[4] = {0, 0, 0, 0};
        glGetIntegerv(GL_VIEWPORT, drawable);
        resizeViewport(drawable[2], drawable[3]);
    }
    return 0;
}

int startShow(const ShowWindow& window) {
    if (openShowWindow(window) != 0)
        return 1;
    runEffectSetups();
    musicInit();
    musicPlay();
    return 0;
}

int showMain(const ShowWindow& window) {
    if (startShow(window) != 0)
        return 1;
    runFrameLoop();
    return 0;
}
