// The show's life: start-up, GL state, the window procedure and the frame loop
// with its schedule.
//
// Main thread. Times in milliseconds, sizes in pixels.
#pragma once

#include "platform/platform.h"

// One row of the schedule: the render callback runs while start <= t <= end.
struct EffectEntry {
    const char* name;
    void (*render)(float frameTime);
    int start;
    int end;
};

// Eight rows and an all-zero terminator (recognised by its null callback).
extern const EffectEntry effectTable[];
// The end of the last row: the last millisecond that the show still draws.
constexpr int SHOW_LAST_MS = 169000;

extern int windowWidth;
extern int windowHeight;
// The tick when order 0 of the music was first heard: show time 0.
extern uint32_t startTick;

// How the show's window is opened. The default is the fixed 640 x 480 window
// whose picture fills its client area; the two other modes keep the
// picture's 4:3 shape in a drawable of any size.
struct ShowWindow {
    enum Mode {
        Fixed,      // the 640 x 480 window (outer size), picture = client area
        Sized,      // a resizable window whose client area is width x height
        Fullscreen, // the whole desktop at its resolution, pointer hidden
    };
    Mode mode = Fixed;
    int width = 0; // Sized only
    int height = 0;
};

// The whole run: window, context, GL state, effect setups, music, frame loop.
// 0 after a normal end; 1 when start-up failed (after its message).
int showMain(const ShowWindow& window = ShowWindow());
// Start-up up to the frame loop: window, context, GL state, effect setups and
// music. 0 when the show can run; 1 when start-up failed (after its message).
int startShow(const ShowWindow& window = ShowWindow());
// The first part of that start-up: window, context, GL state and projection,
// the viewport of the window's mode. 0, or 1 after the failure's message.
int openShowWindow(const ShowWindow& window);

// How the picture lies in the drawable. Fill: the viewport is the whole
// drawable and the projection takes its aspect. KeepAspect: the viewport is
// pictureRect of the drawable and the projection stays at 4:3; the rest of
// the drawable is black, since every frame clears it whole (GL's clear
// ignores the viewport) and nothing is drawn outside the viewport.
enum class PictureFit { Fill, KeepAspect };
// Chosen once at start-up, before the first resize; windowProc's resizes
// follow it. The default is Fill.
void setPictureFit(PictureFit fit);

// A rectangle in GL window coordinates: x from the left, y from the bottom.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
// The largest 4:3 rectangle of whole pixels in a width x height drawable
// (width floor(height * 4 / 3), or height floor(width * 3 / 4)), centred; an
// odd pixel left over goes to the right and to the bottom.
PixelRect pictureRect(int width, int height);

void initGlState();
void initGl();
// The viewport and projection for a drawable of width x height pixels, as the
// picture fit says.
void resizeViewport(int width, int height);
// The effects' setups, once each, in start-up order.
void runEffectSetups();
// Handles one window message.
void windowProc(const platform::Event& event);
void teardown();

// Runs the schedule until it is over, Escape is held or a quit message is read,
// each pass drawing ahead (FrameLoop::drawAhead).
void runFrameLoop();
// The same loop over another schedule (tests, the capture's virtual clock),
// drawing ahead only when asked.
void runFrameLoopWith(const EffectEntry* table, bool drawAhead = false);

// One run of the frame loop, kept between its passes. The loop above runs the
// passes back to back; the browser build runs one per animation frame, and
// finishes it when the next frame begins, which is when its buffer swap has
// been presented.
struct FrameLoop {
    const EffectEntry* table = nullptr;
    float frameTime = 0.0f;  // mean pass duration so far, passed to the callbacks
    int32_t busyTotal = 0;   // sum of the pass durations counted
    int32_t frameCount = 0;  // passes counted: all completed ones but stalls
    uint32_t lastPassMs = 0; // the previous pass's duration, a stall or not
    uint32_t passStart = 0;  // tick count at the start of the current pass
    bool matched = false;    // a schedule row held the current pass's time
    bool heard = false;      // order 0 has been heard: show time runs
    int32_t showMs = 0;      // the latest pass's show time, before its lead
    bool waiting = false;    // the current pass only waited for order 0 to be heard
    // The live show on a screen: a pass's picture reaches the screen when the
    // pass ends and stays there until the next one ends, so each pass draws
    // the show time and the music position of the middle of that stay, one
    // and a half expected passes from its start (leadMs). Off where the clock
    // is virtual (the capture, whose frames show their own time) and in the
    // tests unless asked.
    bool drawAhead = false;
    double passEstimateMs = 0; // running mean of the recent pass durations (drawAhead)
    int32_t leadMs = 0;        // how far ahead of the clock the current pass draws
};
// Moves the music back to order 0 and starts the loop's clock at the tick
// when order 0 is heard (now, for music without an output).
void startFrameLoop(FrameLoop* loop, const EffectEntry* table);
// A pass up to and with its buffer swap: at most one message, the Escape
// test, the schedule and the render callback. Until order 0 is heard a pass
// does only the first two, draws nothing and is not timed. False when the
// loop ends before drawing (a quit message, Escape held).
bool drawFramePass(FrameLoop* loop);
// The rest of that pass once its swap has completed: the timing that becomes
// the next frameTime. A stall (a pass of more than a second, and four times
// longer than the mean and the pass before) is left out of it. False when no
// row held the pass's time: the show is over.
bool finishFramePass(FrameLoop* loop);
// The first row of table whose span holds t, or null when the terminator is
// reached first.
const EffectEntry* findEffect(const EffectEntry* table, int t);
