// The show under a virtual clock, as the capture program records it and the
// browser build's test mode replays it: the same start-up and frame loop as
// the show, but pass n happens at show time passTimeMs(n, fps), lasts exactly
// one frame period, and hears the position that an offline render of the
// module has at that time. Two runs give the same frames.
//
// Main thread. Show time in milliseconds of the virtual clock; sizes in
// pixels. Needs an off-screen context (platform/offscreen.h) open.
#pragma once

#include <cstdint>
#include <functional>

#include "app/shell.h"

namespace platform {
class OfflineModule;
}

// Show time of pass n: floor(n * 1000 / fps).
uint32_t passTimeMs(uint64_t pass, int fps);
// The first pass whose time is at or after ms.
uint64_t firstPassAtOrAfter(uint64_t ms, int fps);
// The last pass whose time is at or before ms.
uint64_t lastPassAtOrBefore(uint64_t ms, int fps);

// The show's start-up as a fresh process has it, less the window and the live
// music: random numbers from their seed, the GL state and projection (for a
// width x height picture, as a resized window would show it, the picture
// filling it or kept at 4:3 as fit says), the setups.
void startVirtualShow(int width, int height, PictureFit fit = PictureFit::Fill);
// Its last part, for a show whose GL state is set already (the show in its
// window under the virtual clock): random numbers from their seed, the setups.
void startVirtualScenes();

// One run of the virtual clock: what its swap hook and music source share.
struct VirtualClock {
    int fps = 60;
    platform::OfflineModule* music = nullptr;
    // The loop is ended (as by a quit message) once this many passes are done.
    uint64_t stopPass = UINT64_MAX;
    // Runs after pass n's swap, with its frame in the colour buffer.
    std::function<void(uint64_t pass)> frameDone;
    uint64_t pass = 0; // passes finished
};
// Installs clock's swap hook and music source and sets the clock to 0; the
// frame loop started next runs under it. clock must outlive stopVirtualClock.
void startVirtualClock(VirtualClock* clock);
// Removes them again, with any quit message left unread.
void stopVirtualClock();

// The shell's frame loop over table (the show's effectTable, or a test's)
// under the virtual clock at fps, the music position being the one music has
// at that time; the loop is ended before pass stopPass runs (or when the
// schedule runs out). frameDone(n), when given, runs after pass n's swap, with
// its frame in the colour buffer. Returns the passes run.
uint64_t runVirtualFrameLoop(const EffectEntry* table, int fps, uint64_t stopPass,
                             platform::OfflineModule* music,
                             const std::function<void(uint64_t pass)>& frameDone);
