// A Backend driven by the test itself: a clock that moves only when the test
// or a callback moves it, a queue of window events, an Escape key that goes
// down at a chosen pass, and counters of swaps and context releases.
//
// Main thread of the test process. Ticks are milliseconds.
#pragma once

#include <deque>

#include "platform/platform.h"

namespace scripted {

struct State {
    uint32_t now = 0;
    int tickReads = 0;
    std::deque<platform::Event> events;
    int eventsTaken = 0;
    // Milliseconds that taking an event costs (message handling time).
    uint32_t eventCost = 0;
    // Escape reads as held from this call of escapeHeld on (1-based). The
    // default cuts off a loop that would never end, so a fault fails the test
    // instead of hanging it.
    int escapeFromCall = 1000;
    int escapeCalls = 0;
    int swaps = 0;
    // Milliseconds that one swap costs.
    uint32_t swapCost = 0;
    bool current = true;
    int releases = 0;
};

inline State& state() {
    static State s;
    return s;
}

inline uint32_t tickCount() {
    ++state().tickReads;
    return state().now;
}

inline bool takeEvent(platform::Event* out) {
    State& s = state();
    if (s.events.empty())
        return false;
    *out = s.events.front();
    s.events.pop_front();
    ++s.eventsTaken;
    s.now += s.eventCost;
    return true;
}

inline bool escapeHeld() {
    State& s = state();
    ++s.escapeCalls;
    return s.escapeCalls >= s.escapeFromCall;
}

inline void swapBuffers() {
    ++state().swaps;
    state().now += state().swapCost;
}

inline bool contextCurrent() {
    return state().current;
}

inline void releaseContext() {
    ++state().releases;
    state().current = false;
}

inline const platform::Backend& backend() {
    static const platform::Backend b = {tickCount,   takeEvent,      escapeHeld,
                                        swapBuffers, contextCurrent, releaseContext};
    return b;
}

// Fresh state, this backend installed, no posted events left over.
inline void install() {
    state() = State();
    platform::clearPostedEvents();
    platform::setBackend(&backend());
}

} // namespace scripted
