// One capture: checks the media and the output, renders the module offline,
// runs the show's own frame loop on the off-screen context against a virtual
// clock and writes the frames and the sound.
//
// Main thread. Show time in milliseconds, sound at 44100 Hz, sizes in pixels.
#pragma once

#include "app/shell.h"
#include "app/virtual_show.h"
#include "tools/capture_options.h"

// The whole program after its arguments were parsed: 0 when everything was
// written, else 1 after one line "tuhkala-capture: ..." on standard error.
int runCapture(const CaptureOptions& options);
