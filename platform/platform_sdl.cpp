// The show's window over SDL2: one X11 (or Wayland) window with a double-
// buffered RGBA GL visual, its compatibility GL context, and the Backend that
// the frame loop runs against while the window is open.
//
// Main thread only. Ticks are SDL's millisecond counter truncated to 32 bits
// (wrap-safe differences are the caller's business), or the virtual clock of
// offscreen.h in the tests' mode of useVirtualClockInWindow; sizes are pixels.
#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "platform/offscreen.h"
#include "platform/platform.h"
#include "platform/virtual_clock.h"

namespace platform {
namespace {

SDL_Window* window = nullptr;
SDL_GLContext context = nullptr;

int countBits(Uint32 mask) {
    int bits = 0;
    for (; mask; mask &= mask - 1)
        ++bits;
    return bits;
}

// Colour bits per channel of the desktop's current mode: a 16-bit screen asks
// for 5-6-5, a 24- or 32-bit one for 8-8-8.
void desktopChannelBits(int* red, int* green, int* blue) {
    *red = *green = *blue = 8;
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0)
        return;
    int bpp = 0;
    Uint32 r = 0, g = 0, b = 0, a = 0;
    if (SDL_PixelFormatEnumToMasks(mode.format, &bpp, &r, &g, &b, &a) != SDL_TRUE)
        return;
    if (countBits(r) > 0 && countBits(g) > 0 && countBits(b) > 0) {
        *red = countBits(r);
        *green = countBits(g);
        *blue = countBits(b);
    }
}

struct VisualRequest {
    int red, green, blue;
    int depth;
};

void requestVisual(const VisualRequest& v) {
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, v.red);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, v.green);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, v.blue);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, v.depth);
    // No profile and no version: the driver's default context is a
    // compatibility one, where GL 1.1 immediate mode and GLU work.
}

uint32_t sdlTicks() {
    return static_cast<uint32_t>(SDL_GetTicks());
}

// One SDL event per call, reduced to what the window procedure tells apart.
bool sdlTakeEvent(Event* out) {
    SDL_Event e;
    if (!SDL_PollEvent(&e))
        return false;
    *out = Event();
    switch (e.type) {
    case SDL_QUIT:
        out->type = Event::Close;
        break;
    case SDL_KEYDOWN:
        out->type = Event::KeyDown;
        break;
    case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
            out->type = Event::Close;
        } else if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
            out->type = Event::Resize;
            // The GL drawable, not the window's logical size: they differ on
            // scaled displays, and the viewport counts drawable pixels.
            SDL_Window* w = SDL_GetWindowFromID(e.window.windowID);
            if (w) {
                SDL_GL_GetDrawableSize(w, &out->width, &out->height);
            } else {
                out->width = e.window.data1;
                out->height = e.window.data2;
            }
        }
        break;
    default:
        break;
    }
    return true;
}

bool sdlEscapeHeld() {
    // The keyboard state follows the events that SDL has read from the
    // display, so read what is pending first (the events stay queued).
    SDL_PumpEvents();
    const Uint8* keys = SDL_GetKeyboardState(nullptr);
    return keys && keys[SDL_SCANCODE_ESCAPE];
}

void sdlSwapBuffers() {
    if (window)
        SDL_GL_SwapWindow(window);
}

bool sdlContextCurrent() {
    return context != nullptr && SDL_GL_GetCurrentContext() != nullptr;
}

void sdlReleaseContext() {
    if (!context)
        return;
    SDL_GL_MakeCurrent(window, nullptr);
    SDL_GL_DeleteContext(context);
    context = nullptr;
}

// Size changes from the window's creation and showing happened while no GL
// context existed; they must not resize the viewport later.
int dropEarlySizeEvents(void*, SDL_Event* e) {
    if (e->type != SDL_WINDOWEVENT)
        return 1;
    return e->window.event != SDL_WINDOWEVENT_SIZE_CHANGED &&
           e->window.event != SDL_WINDOWEVENT_RESIZED;
}

const Backend sdlBackend = {sdlTicks,       sdlTakeEvent,      sdlEscapeHeld,
                            sdlSwapBuffers, sdlContextCurrent, sdlReleaseContext};

// The same window under the virtual clock: the clock moves only in the swap
// hook, as the off-screen backend's does.
void sdlSwapThenHook() {
    sdlSwapBuffers();
    callSwapHook();
}

const Backend sdlVirtualBackend = {virtualTicks,    sdlTakeEvent,      sdlEscapeHeld,
                                   sdlSwapThenHook, sdlContextCurrent, sdlReleaseContext};

// Where and how SDL makes the window of a request.
struct Placement {
    int x, y, width, height;
    Uint32 flags;
};

Placement placement(const WindowRequest& request) {
    switch (request.mode) {
    case WindowRequest::Resizable:
        return {SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, request.width, request.height,
                SDL_WINDOW_RESIZABLE};
    case WindowRequest::Fullscreen: {
        // The desktop's own mode: no mode change, nothing to restore after.
        // The window is made as large as the screen from the start: a window
        // manager makes it full screen when asked, but without one (a bare X
        // server) the request goes unanswered and the window would keep the
        // size it was made with.
        SDL_Rect screen = {0, 0, request.width, request.height};
        SDL_GetDisplayBounds(0, &screen);
        return {screen.x, screen.y, screen.w, screen.h, SDL_WINDOW_FULLSCREEN_DESKTOP};
    }
    case WindowRequest::OuterSize:
        break;
    }
    return {0, 0, request.width, request.height, 0};
}

SDL_Window* createGlWindow(const WindowRequest& request) {
    int red, green, blue;
    desktopChannelBits(&red, &green, &blue);
    const Placement place = placement(request);
    // The closest visual the display offers: first the full request, then
    // with a smaller or no depth buffer, then any RGBA colour depth.
    const VisualRequest visuals[] = {
        {red, green, blue, 24}, {red, green, blue, 16}, {red, green, blue, 0}, {1, 1, 1, 0}};
    for (const VisualRequest& visual : visuals) {
        requestVisual(visual);
        SDL_Window* created =
            SDL_CreateWindow(request.title, place.x, place.y, place.width, place.height,
                             SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | place.flags);
        if (created)
            return created;
    }
    requestVisual(visuals[0]);
    return nullptr;
}

// The frame a window manager put around the shown window. The manager
// announces it in a property shortly after mapping, so read SDL's events for
// a moment; with no manager there is never a frame and the wait runs out.
bool framedBorders(int* top, int* left, int* bottom, int* right) {
    const int TRIES = 20;
    const Uint32 PAUSE_MS = 10;
    for (int i = 0; i < TRIES; ++i) {
        SDL_PumpEvents();
        if (SDL_GetWindowBordersSize(window, top, left, bottom, right) != 0)
            return false; // this video system knows nothing of frames
        if (*top > 0 || *left > 0 || *bottom > 0 || *right > 0)
            return true;
        SDL_Delay(PAUSE_MS);
    }
    return false;
}

bool displayAvailable() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

} // namespace

void showSystemErrorBox(const char* caption, const char* text) {
    if (displayAvailable())
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr);
}

int openWindow(const WindowRequest& request) {
    // SDL 2 takes the X11 class name only from the environment, read when the
    // video system starts.
    setenv("SDL_VIDEO_X11_WMCLASS", request.className, 1);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return WindowClassFailed;
    // With no display to reach, SDL falls back to its off-screen driver,
    // whose windows nobody sees: the show would play to no one, and no key
    // could end it. That driver is used only when asked for by name.
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* asked = std::getenv("SDL_VIDEODRIVER");
    if (driver && std::strcmp(driver, "offscreen") == 0 &&
        !(asked && std::strstr(asked, "offscreen"))) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return WindowClassFailed;
    }
    // The window test of Escape held (tests/app/show_test.sh) keeps key
    // presses out of the event queue, so that a key reaches the show only
    // through the keyboard state, which SDL updates before it would queue the
    // event. Without the variable nothing changes.
    if (const char* noKeys = std::getenv("TUHKALA_TEST_NO_KEY_EVENTS"); noKeys && *noKeys)
        SDL_EventState(SDL_KEYDOWN, SDL_IGNORE);
    // The show never shuts SDL down itself; at exit SDL must stop before the
    // globals go: the audio thread reads the music player's globals until its
    // device is closed. A handler registered now runs before the destructors
    // of every global constructed before it.
    static bool quitAtExit = false;
    if (!quitAtExit) {
        std::atexit(SDL_Quit);
        quitAtExit = true;
    }

    window = createGlWindow(request);
    if (!window) {
        // Tell a window system that cannot make windows at all from one that
        // has no GL visual for ours.
        SDL_Window* plain =
            SDL_CreateWindow(request.title, 0, 0, request.width, request.height, SDL_WINDOW_HIDDEN);
        if (!plain)
            return WindowCreateFailed;
        SDL_DestroyWindow(plain);
        return PixelFormatNotFound;
    }

    SDL_ShowWindow(window);
    if (request.mode == WindowRequest::Fullscreen) {
        // Nothing to point at in a show; the pointer would sit on the picture.
        SDL_ShowCursor(SDL_DISABLE);
    }
    if (request.mode != WindowRequest::OuterSize)
        return WindowOk;
    // The size asked for is the outer size, frame included: where a window
    // manager adds a frame, the client area shrinks by it. SDL places the
    // client area, so it goes the frame's width right and down.
    int top = 0, left = 0, bottom = 0, right = 0;
    if (framedBorders(&top, &left, &bottom, &right)) {
        const int clientWidth = request.width - left - right;
        const int clientHeight = request.height - top - bottom;
        if (clientWidth > 0 && clientHeight > 0)
            SDL_SetWindowSize(window, clientWidth, clientHeight);
        SDL_SetWindowPosition(window, left, top);
    }
    return WindowOk;
}

bool createWindowContext() {
    if (!window)
        return false;
    SDL_PumpEvents();
    SDL_FilterEvents(dropEarlySizeEvents, nullptr);
    context = SDL_GL_CreateContext(window);
    if (!context)
        return false;
    if (SDL_GL_MakeCurrent(window, context) != 0) {
        SDL_GL_DeleteContext(context);
        context = nullptr;
        return false;
    }
    setBackend(&sdlBackend);
    return true;
}

void useVirtualClockInWindow() {
    if (context)
        setBackend(&sdlVirtualBackend);
}

} // namespace platform
