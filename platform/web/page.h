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
// True when the viewer asked the show to end (a key press waits in the page's
// input, or Escape is held), without taking it: what a pass would read first.
bool pageEndRequested();

} // namespace platform
