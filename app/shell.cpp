// The show's life on the main thread: start-up, the fixed GL state and
// projection, the window procedure, teardown, and the frame loop that runs
// the schedule of effects.
//
// Main thread only. Times are milliseconds of the platform tick counter,
// sizes are pixels, the field of view is in degrees.
//
// The loop reaches the window system only through platform::, so the show's
// SDL window, the off-screen capture and the tests' scripted backends all run
// this same code.
#include "app/shell.h"

#include <GL/gl.h>
#include <GL/glu.h>

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

} // namespace

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
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(FIELD_OF_VIEW, static_cast<double>(width) / height, NEAR_PLANE, FAR_PLANE);
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

    const int32_t t =
        static_cast<int32_t>(platform::ticksBetween(startTick, platform::tickCount()));
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

bool finishFramePass(FrameLoop* loop) {
    // A pass that only waited drew nothing: it is no frame to time.
    if (loop->waiting)
        return true;
    loop->busyTotal +=
        static_cast<int32_t>(platform::ticksBetween(loop->passStart, platform::tickCount()));
    loop->frameCount += 1;
    loop->frameTime = static_cast<float>(static_cast<double>(loop->busyTotal) / loop->frameCount);
    // Painting needs no handling here: every pass redraws the whole frame.
    return loop->matched;
}

void runFrameLoopWith(const EffectEntry* table) {
    FrameLoop loop;
    startFrameLoop(&loop, table);
    while (drawFramePass(&loop) && finishFramePass(&loop)) {
    }
}

void runFrameLoop() {
    runFrameLoopWith(effectTable);
}

int startShow() {
    const platform::WindowRequest request = {CLASS_NAME, WINDOW_TITLE, windowWidth, windowHeight};
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
    runEffectSetups();
    musicInit();
    musicPlay();
    return 0;
}

int showMain() {
    if (startShow() != 0)
        return 1;
    runFrameLoop();
    return 0;
}
