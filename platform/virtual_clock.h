// The virtual clock and swap hook that both off-screen backends (EGL here,
// WebGL in the browser) share; their public half is declared in offscreen.h.
//
// Main thread only. Times in milliseconds.
#pragma once

namespace platform {

// Calls the swap hook, when one is set, with its user pointer.
void callSwapHook();

} // namespace platform
