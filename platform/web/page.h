// What the browser build's page program (web/main.cpp) asks of the window
// backend beyond platform.h.
//
// The page's main thread.
#pragma once

namespace platform {

// The show is over: stops listening to the page's keyboard and releases the
// WebGL context, so that nothing of this run stays reachable from the page.
void closePageWindow();
// Waits until the canvas holds everything drawn so far (WebGL draws in the
// background), so that a time measured around a frame is the whole frame's.
void waitForFrame();

} // namespace platform
