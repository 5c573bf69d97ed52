// The show's window in a browser page: the page's canvas ("#canvas") with a
// WebGL context under the GL 1.1 layer (gl11/), the keyboard and the taps of
// the page, and the Backend that the frame loop runs against. Two clocks:
// - the window's: the heard clock of the page's sound (show.js,
//   ShowAudio.clockMs): the audio context's time of the sample reaching the
//   listener now, in milliseconds, never going back. The schedule (show time
//   from the tick when order 0 was heard) and the scenes' cues (the position
//   heard now) thus read one clock: they cannot drift apart however the
//   sound device's clock runs against the page's, and when the browser
//   suspends or interrupts the sound both stop together and go on together
//   (web/main.cpp runs no pass meanwhile). A hidden tab keeps its sound, so
//   the clock runs on while no animation frame comes, and the shell leaves
//   the long pass that follows out of frameTime as any stall. Without a sound
//   (before it is opened) the clock is the page's monotonic performance.now().
//   The page calls one frame-loop pass per animation frame;
// - the off-screen one (offscreen.h), for the page's test mode: the canvas at
//   a size of its own and a virtual clock that moves only when told, with a
//   hook after every swap, as the capture program has it natively.
//
// The page's main thread. Ticks are milliseconds on a 32-bit counter; sizes
// are canvas pixels.
#include <emscripten.h>
#include <emscripten/html5.h>
#include <webgl/webgl1.h>

#include <cmath>
#include <cstring>
#include <deque>

#include "gl11/gl11.h"
#include "platform/offscreen.h"
#include "platform/platform.h"
#include "platform/virtual_clock.h"
#include "platform/web/page.h"

namespace platform {
namespace {

const char* const CANVAS = "#canvas";
// The picture and the card over it; the full-screen button lies outside.
const char* const STAGE = "#stage";

EMSCRIPTEN_WEBGL_CONTEXT_HANDLE webgl = 0;
std::deque<Event> input;
bool escapeDown = false;
bool inputWatched = false; // keys and taps

bool offscreen = false;
int surfaceWidth = 0;
int surfaceHeight = 0;

bool isEscape(const EmscriptenKeyboardEvent* e) {
    return std::strcmp(e->key, "Escape") == 0 || e->keyCode == 27;
}

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Whether a key press ends the show. A page shares the keyboard with the
// browser and the system, whose keys must keep their meaning: shortcuts with
// Ctrl, Alt or Meta (a new tab, switching windows), modifiers and locks
// alone, Tab, the function keys (F11 full screen, F5 reload), the media,
// volume and browser keys, and the keys of an input method at work. Every
// other key ends it, as any key does natively.
bool endsShow(const EmscriptenKeyboardEvent* e) {
    if (e->ctrlKey || e->altKey || e->metaKey)
        return false;
    const char* key = e->key;
    static const char* const OWN_KEYS[] = {
        "Tab",     "Shift",        "Control",     "Alt",         "AltGraph",   "Meta",
        "OS",      "Super",        "Hyper",       "Fn",          "FnLock",     "CapsLock",
        "NumLock", "ScrollLock",   "Symbol",      "SymbolLock",  "Dead",       "Process",
        "Compose", "Unidentified", "PrintScreen", "ContextMenu", "Power",      "Sleep",
        "WakeUp",  "Eject",        "Help",        "Select",      "ZoomToggle", "ZoomIn",
        "ZoomOut",
    };
    for (const char* own : OWN_KEYS) {
        if (std::strcmp(key, own) == 0)
            return false;
    }
    // F1 to F24 (not the letter F alone), and the families of media, volume,
    // brightness, application-launch and browser keys.
    if (key[0] == 'F' && key[1] >= '1' && key[1] <= '9')
        return false;
    static const char* const OWN_FAMILIES[] = {"Media",  "Audio",   "Volume", "Brightness",
                                               "Launch", "Browser", "Mic"};
    for (const char* family : OWN_FAMILIES) {
        if (startsWith(key, family))
            return false;
    }
    return true;
}

EM_BOOL onKeyDown(int, const EmscriptenKeyboardEvent* e, void*) {
    if (isEscape(e))
        escapeDown = true;
    if (!endsShow(e))
        return EM_FALSE; // the browser's or the system's: it keeps working
    // A key held down repeats; each repeat is a key press, as natively.
    input.push_back({Event::KeyDown, 0, 0});
    // The key is the show's: it neither scrolls nor presses a focused button.
    return EM_TRUE;
}

// A tap on the picture ends the show, as a key press does: a touch screen
// may be all the keyboard there is. Taken from the browser, so that no click
// follows it onto the card that the end of the show brings back.
EM_BOOL onTouchEnd(int, const EmscriptenTouchEvent*, void*) {
    input.push_back({Event::KeyDown, 0, 0});
    return EM_TRUE;
}

EM_BOOL onKeyUp(int, const EmscriptenKeyboardEvent* e, void*) {
    if (isEscape(e))
        escapeDown = false;
    return EM_FALSE;
}

EM_JS(double, pageClockMs, (),
      { return Module.tuhkalaAudio ? Module.tuhkalaAudio.clockMs() : performance.now(); });

uint32_t pageTicks() {
    return static_cast<uint32_t>(static_cast<uint64_t>(pageClockMs()));
}

bool takeInput(Event* out) {
    if (input.empty())
        return false;
    *out = input.front();
    input.pop_front();
    return true;
}

bool webEscapeHeld() {
    return escapeDown;
}

// The page presents the canvas when the animation frame callback returns.
void windowSwap() {}

bool webContextCurrent() {
    return webgl != 0 && emscripten_webgl_get_current_context() == webgl && gl11::contextExists();
}

void webReleaseContext() {
    if (!webgl)
        return;
    gl11::destroyContext();
    emscripten_webgl_make_context_current(0);
    emscripten_webgl_destroy_context(webgl);
    webgl = 0;
}

const Backend windowBackend = {pageTicks,  takeInput,         webEscapeHeld,
                               windowSwap, webContextCurrent, webReleaseContext};

uint32_t virtualClock() {
    return virtualTicks();
}

bool noEvent(Event*) {
    return false;
}

bool neverHeld() {
    return false;
}

void offscreenSwap() {
    callSwapHook();
}

const Backend offscreenBackend = {virtualClock,  noEvent,           neverHeld,
                                  offscreenSwap, webContextCurrent, webReleaseContext};

// A WebGL context on the canvas without multisampling (GL 1.1 has none) and
// without alpha, so that what the frame leaves in alpha never shows through.
// Off-screen, the frame stays in the canvas until the next one is drawn, to be
// read back at any time.
bool makeContext(bool keepFrame, std::string* reason) {
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_TRUE;
    attributes.stencil = EM_FALSE;
    attributes.antialias = EM_FALSE;
    attributes.premultipliedAlpha = EM_FALSE;
    attributes.preserveDrawingBuffer = keepFrame ? EM_TRUE : EM_FALSE;
    attributes.majorVersion = 1;
    attributes.minorVersion = 0;
    webgl = emscripten_webgl_create_context(CANVAS, &attributes);
    if (webgl <= 0) {
        webgl = 0;
        *reason = "the browser gave no WebGL context";
        return false;
    }
    emscripten_webgl_make_context_current(webgl);
    int width = 0, height = 0;
    emscripten_webgl_get_drawing_buffer_size(webgl, &width, &height);
    const char* error = nullptr;
    if (!gl11::createContext(width, height, &error)) {
        *reason = error;
        webReleaseContext();
        return false;
    }
    return true;
}

} // namespace

// ---- The window -------------------------------------------------------------

EM_JS(void, pageShowError, (const char* caption, const char* text), {
    const c = UTF8ToString(caption), t = UTF8ToString(text);
    if (Module.tuhkalaShowError)
        Module.tuhkalaShowError(c, t);
    else
        alert(c + ": " + t);
});

void showSystemErrorBox(const char* caption, const char* text) {
    pageShowError(caption, text);
}

int openWindow(const WindowRequest& request) {
    double cssWidth = 0, cssHeight = 0;
    if (emscripten_get_element_css_size(CANVAS, &cssWidth, &cssHeight) != EMSCRIPTEN_RESULT_SUCCESS)
        return WindowCreateFailed;
    // The page scales the picture to fit; the picture itself is the window's
    // outer size (a page has no frame around it).
    emscripten_set_canvas_element_size(CANVAS, request.width, request.height);
    emscripten_set_window_title(request.title);
    return WindowOk;
}

// The page says why there is no picture, in its own words; the shell's
// message box follows with the native wording.
EM_JS(void, pageContextFailed, (const char* reason), {
    const text = UTF8ToString(reason);
    if (Module.tuhkalaContextFailed)
        Module.tuhkalaContextFailed(text);
    else
        console.error(text);
});

bool createWindowContext() {
    std::string reason;
    if (!makeContext(false, &reason)) {
        pageContextFailed(reason.c_str());
        return false;
    }
    offscreen = false;
    input.clear();
    escapeDown = false;
    if (!inputWatched) {
        emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE,
                                        onKeyDown);
        emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, onKeyUp);
        emscripten_set_touchend_callback(STAGE, nullptr, EM_FALSE, onTouchEnd);
        inputWatched = true;
    }
    setBackend(&windowBackend);
    return true;
}

void closePageWindow() {
    if (inputWatched) {
        emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, nullptr);
        emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, nullptr);
        emscripten_set_touchend_callback(STAGE, nullptr, EM_FALSE, nullptr);
        inputWatched = false;
    }
    webReleaseContext();
    if (currentBackend() == &windowBackend)
        setBackend(nullptr);
}

bool pageEndRequested() {
    for (const Event& event : input) {
        if (event.type == Event::KeyDown)
            return true;
    }
    return escapeDown;
}

void waitForFrame() {
    // Reading a pixel back waits for the drawing before it.
    if (webContextCurrent()) {
        unsigned char pixel[4];
        emscripten_glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    }
}

// ---- Off-screen: the canvas in the page's test mode -----------------------------

bool openOffscreen(int width, int height, std::string* error) {
    closeOffscreen();
    if (emscripten_set_canvas_element_size(CANVAS, width, height) != EMSCRIPTEN_RESULT_SUCCESS) {
        *error = "the page has no canvas";
        return false;
    }
    if (!makeContext(true, error))
        return false;
    offscreen = true;
    surfaceWidth = width;
    surfaceHeight = height;
    setVirtualTicks(0);
    setSwapHook(nullptr, nullptr);
    setBackend(&offscreenBackend);
    return true;
}

void closeOffscreen() {
    if (!offscreen)
        return;
    webReleaseContext();
    if (currentBackend() == &offscreenBackend)
        setBackend(nullptr);
    offscreen = false;
}

bool offscreenOpen() {
    return offscreen;
}

int offscreenWidth() {
    return surfaceWidth;
}

int offscreenHeight() {
    return surfaceHeight;
}

std::vector<unsigned char> readPixelsRGB() {
    std::vector<unsigned char> rgb;
    if (!webContextCurrent())
        return rgb;
    int width = 0, height = 0;
    emscripten_webgl_get_drawing_buffer_size(webgl, &width, &height);
    // WebGL reads RGBA only.
    std::vector<unsigned char> rgba(static_cast<size_t>(width) * height * 4);
    emscripten_glPixelStorei(GL_PACK_ALIGNMENT, 1);
    emscripten_glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    rgb.resize(static_cast<size_t>(width) * height * 3);
    // GL reads bottom row first; callers want the picture as it is shown.
    for (int y = 0; y < height; ++y) {
        const unsigned char* from = &rgba[static_cast<size_t>(height - 1 - y) * width * 4];
        unsigned char* to = &rgb[static_cast<size_t>(y) * width * 3];
        for (int x = 0; x < width; ++x) {
            to[x * 3] = from[x * 4];
            to[x * 3 + 1] = from[x * 4 + 1];
            to[x * 3 + 2] = from[x * 4 + 2];
        }
    }
    return rgb;
}

} // namespace platform
