// One capture: checks the media and the output, renders the module offline,
// runs the show's own frame loop on the off-screen context against a virtual
// clock and writes the frames and the sound.
//
// Main thread. Show time in milliseconds, sound at 44100 Hz, sizes in pixels.
#pragma once

#include <cstdint>
#include <functional>

#include "app/shell.h"
#include "tools/capture_options.h"

namespace platform {
class OfflineModule;
}

// The shell's frame loop over table (the show's effectTable, or a test's)
// under the virtual clock: pass n runs at show time passTimeMs(n, fps) and
// lasts one frame period, the music position is the one music has at that
// time, and the loop is ended before pass stopPass runs (or when the schedule
// runs out). frameDone(n), when given, runs after pass n's swap, with its
// frame in the colour buffer. Needs the off-screen context open. Returns the
// passes run.
uint64_t runVirtualFrameLoop(const EffectEntry* table, int fps, uint64_t stopPass,
                             platform::OfflineModule* music,
                             const std::function<void(uint64_t pass)>& frameDone);

// The whole program after its arguments were parsed: 0 when everything was
// written, else 1 after one line "tuhkala-capture: ..." on standard error.
int runCapture(const CaptureOptions& options);
