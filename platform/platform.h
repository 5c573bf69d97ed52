// The show's window-system layer: clock, events, keyboard, buffer swap, GL
// context, message boxes and data-file opening.
//
// Everything runs on the main thread. Times are milliseconds on an unsigned
// 32-bit counter that may wrap; sizes are pixels.
//
// The frame loop and the effects reach the window system only through the
// functions below. They dispatch to the installed Backend: the SDL window of
// the show (platform_sdl.cpp), the off-screen EGL context of the tests and of
// the capture program (offscreen.h), or a scripted backend in a test. That is
// how one frame loop serves the show, the capture program and the tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// One window message, reduced to what the window procedure distinguishes.
struct Event {
    enum Type {
        Close,   // close request (close box, Alt+F4)
        Resize,  // client area changed to width x height
        KeyDown, // any key pressed
        Destroy, // the window is being destroyed (also posted on a key press)
        Quit,    // the quit message: the frame loop ends when it reads one
        Other    // anything else; handled by doing nothing
    };
    Type type = Other;
    int width = 0;
    int height = 0;
};

// What a window system provides to the frame loop. Every member must be set.
struct Backend {
    // Milliseconds since some fixed moment, wrapping at 2^32.
    uint32_t (*tickCount)();
    // Removes at most one pending window-system event; false when none.
    bool (*takeEvent)(Event* out);
    // True while Escape is physically down (a state, not an event).
    bool (*escapeHeld)();
    // Presents the back buffer.
    void (*swapBuffers)();
    // True while a GL context is current on this thread.
    bool (*contextCurrent)();
    // Makes no context current and deletes the context; safe to repeat.
    void (*releaseContext)();
};

// Installs the backend used by the functions below (null restores none).
void setBackend(const Backend* backend);
const Backend* currentBackend();

uint32_t tickCount();
// Unsigned difference later - earlier, correct across a wrap of the counter.
inline uint32_t ticksBetween(uint32_t earlier, uint32_t later) {
    return later - earlier;
}
bool escapeHeld();
void swapBuffers();
bool contextCurrent();
void releaseContext();

// Posted messages are queued here, ahead of the backend's own events, as a
// posted message is retrieved before input in the original message queue.
void postEvent(const Event& event);
// The next posted event, else the backend's next event; false when none.
bool takeEvent(Event* out);
// Drops every posted event (tests).
void clearPostedEvents();

// The real window of the show. Returns 0 on success; on failure one of the
// WindowError codes, and nothing is shown (the caller reports it).
enum WindowError {
    WindowOk = 0,
    WindowClassFailed = 1,  // the video system could not start
    WindowCreateFailed = 2, // no window resulted
    PixelFormatNotFound = 3,
    PixelFormatNotSet = 4,
};
struct WindowRequest {
    enum Mode {
        OuterSize,  // fixed size, frame included, at (0, 0)
        Resizable,  // client area of width x height, resizable, placed centred
        Fullscreen, // the desktop's whole screen at its resolution (the
                    // size is ignored), the pointer hidden over it
    };
    const char* className; // X11 WM_CLASS
    const char* title;
    int width;
    int height;
    Mode mode;
};
int openWindow(const WindowRequest& request);
// Creates the GL context on the open window and makes it current; installs the
// window's backend. False when no context could be made.
bool createWindowContext();
// For tests of what the window shows: from now on the window's backend reads
// its ticks from the virtual clock of offscreen.h and calls the swap hook
// after every swap, as the off-screen backend does, so the show in its window
// draws the frames a capture draws. Native window only; after
// createWindowContext.
void useVirtualClockInWindow();

// Error message box with the error icon and an OK button. The text always goes
// to standard error as well; the box itself is shown only while boxes are
// enabled and a display is available (tools and tests turn boxes off).
void showErrorBox(const char* caption, const char* text);
void setMessageBoxesEnabled(bool enabled);
// The window system's own box, where one can be shown (the window backend's).
void showSystemErrorBox(const char* caption, const char* text);

// Data files: a path written with backslashes ("tavara\gay.jpg") names the
// same file with slashes ("tavara/gay.jpg"), relative to the working directory.
std::string dataPath(const char* path);
FILE* openDataFile(const char* path, const char* mode);
// Reads a whole data file. False when it cannot be opened or read.
bool readDataFile(const char* path, std::vector<unsigned char>& out);

} // namespace platform
