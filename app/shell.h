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
extern uint32_t startTick;

// The whole run: window, context, GL state, effect setups, music, frame loop.
// 0 after a normal end; 1 when start-up failed (after its message).
int showMain();

void initGlState();
void initGl();
void resizeViewport(int width, int height);
// The effects' setups, once each, in start-up order.
void runEffectSetups();
// Handles one window message.
void windowProc(const platform::Event& event);
void teardown();

// Runs the schedule until it is over, Escape is held or a quit message is read.
void runFrameLoop();
// The same loop over another schedule (tests).
void runFrameLoopWith(const EffectEntry* table);
// The first row of table whose span holds t, or null when the terminator is
// reached first.
const EffectEntry* findEffect(const EffectEntry* table, int t);
