// Headless OpenGL through EGL on Mesa: a compatibility context with no window
// system at all, for the tests and the capture program, plus the off-screen
// Backend that the frame loop runs against when no window exists.
//
// Main thread only. Sizes in pixels; the virtual clock in milliseconds.
//
// The display comes from the surfaceless Mesa platform, else from the first
// EGL device; the colour and depth buffers are a pbuffer when a matching config
// offers one, else a framebuffer object made current without any surface.
#include "platform/offscreen.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/virtual_clock.h"

namespace platform {
namespace {

EGLDisplay display = EGL_NO_DISPLAY;
EGLContext context = EGL_NO_CONTEXT;
EGLSurface surface = EGL_NO_SURFACE;
GLuint framebuffer = 0;
GLuint colorBuffer = 0;
GLuint depthBuffer = 0;
int surfaceWidth = 0;
int surfaceHeight = 0;

PFNGLGENFRAMEBUFFERSEXTPROC genFramebuffers = nullptr;
PFNGLBINDFRAMEBUFFEREXTPROC bindFramebuffer = nullptr;
PFNGLDELETEFRAMEBUFFERSEXTPROC deleteFramebuffers = nullptr;
PFNGLGENRENDERBUFFERSEXTPROC genRenderbuffers = nullptr;
PFNGLBINDRENDERBUFFEREXTPROC bindRenderbuffer = nullptr;
PFNGLDELETERENDERBUFFERSEXTPROC deleteRenderbuffers = nullptr;
PFNGLRENDERBUFFERSTORAGEEXTPROC renderbufferStorage = nullptr;
PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC framebufferRenderbuffer = nullptr;
PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC checkFramebufferStatus = nullptr;

bool hasExtension(const char* list, const char* name) {
    if (!list) {
        return false;
    }
    size_t length = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += length) {
        bool startsWord = p == list || p[-1] == ' ';
        bool endsWord = p[length] == ' ' || p[length] == '\0';
        if (startsWord && endsWord) {
            return true;
        }
    }
    return false;
}

EGLDisplay openDisplay() {
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        return EGL_NO_DISPLAY;
    }
    if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay candidate =
            getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (candidate != EGL_NO_DISPLAY && eglInitialize(candidate, nullptr, nullptr)) {
            return candidate;
        }
    }
    // A GPU driver without the Mesa platform still exposes its devices.
    auto queryDevices =
        reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    if (queryDevices && hasExtension(clientExtensions, "EGL_EXT_platform_device")) {
        EGLDeviceEXT devices[8];
        EGLint count = 0;
        if (queryDevices(8, devices, &count)) {
            for (EGLint i = 0; i < count; ++i) {
                EGLDisplay candidate =
                    getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
                if (candidate != EGL_NO_DISPLAY && eglInitialize(candidate, nullptr, nullptr)) {
                    return candidate;
                }
            }
        }
    }
    return EGL_NO_DISPLAY;
}

bool chooseConfig(EGLint surfaceType, EGLConfig* config) {
    const EGLint attributes[] = {EGL_SURFACE_TYPE,
                                 surfaceType,
                                 EGL_RENDERABLE_TYPE,
                                 EGL_OPENGL_BIT,
                                 EGL_RED_SIZE,
                                 8,
                                 EGL_GREEN_SIZE,
                                 8,
                                 EGL_BLUE_SIZE,
                                 8,
                                 EGL_ALPHA_SIZE,
                                 8,
                                 EGL_DEPTH_SIZE,
                                 24,
                                 EGL_NONE};
    EGLint count = 0;
    return eglChooseConfig(display, attributes, config, 1, &count) && count > 0;
}

template <typename Function> bool loadProc(Function* out, const char* name) {
    *out = reinterpret_cast<Function>(eglGetProcAddress(name));
    return *out != nullptr;
}

bool loadFramebufferProcs() {
    return loadProc(&genFramebuffers, "glGenFramebuffersEXT") &&
           loadProc(&bindFramebuffer, "glBindFramebufferEXT") &&
           loadProc(&deleteFramebuffers, "glDeleteFramebuffersEXT") &&
           loadProc(&genRenderbuffers, "glGenRenderbuffersEXT") &&
           loadProc(&bindRenderbuffer, "glBindRenderbufferEXT") &&
           loadProc(&deleteRenderbuffers, "glDeleteRenderbuffersEXT") &&
           loadProc(&renderbufferStorage, "glRenderbufferStorageEXT") &&
           loadProc(&framebufferRenderbuffer, "glFramebufferRenderbufferEXT") &&
           loadProc(&checkFramebufferStatus, "glCheckFramebufferStatusEXT");
}

// Colour and depth renderbuffers for a context current without a surface.
bool makeFramebuffer(int width, int height) {
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (!hasExtension(extensions, "GL_EXT_framebuffer_object") || !loadFramebufferProcs()) {
        return false;
    }
    genFramebuffers(1, &framebuffer);
    bindFramebuffer(GL_FRAMEBUFFER_EXT, framebuffer);
    genRenderbuffers(1, &colorBuffer);
    bindRenderbuffer(GL_RENDERBUFFER_EXT, colorBuffer);
    renderbufferStorage(GL_RENDERBUFFER_EXT, GL_RGBA8, width, height);
    framebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT,
                            colorBuffer);
    genRenderbuffers(1, &depthBuffer);
    bindRenderbuffer(GL_RENDERBUFFER_EXT, depthBuffer);
    renderbufferStorage(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT24, width, height);
    framebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                            depthBuffer);
    bindRenderbuffer(GL_RENDERBUFFER_EXT, 0);
    glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT);
    glReadBuffer(GL_COLOR_ATTACHMENT0_EXT);
    return checkFramebufferStatus(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT;
}

// Drops the context, its surface and its framebuffer; the display stays.
void destroyContext() {
    if (display == EGL_NO_DISPLAY) {
        return;
    }
    if (context != EGL_NO_CONTEXT && framebuffer != 0 && eglGetCurrentContext() == context) {
        bindFramebuffer(GL_FRAMEBUFFER_EXT, 0);
        deleteFramebuffers(1, &framebuffer);
        deleteRenderbuffers(1, &colorBuffer);
        deleteRenderbuffers(1, &depthBuffer);
    }
    framebuffer = colorBuffer = depthBuffer = 0;
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context != EGL_NO_CONTEXT) {
        eglDestroyContext(display, context);
        context = EGL_NO_CONTEXT;
    }
    if (surface != EGL_NO_SURFACE) {
        eglDestroySurface(display, surface);
        surface = EGL_NO_SURFACE;
    }
}

uint32_t offscreenTickCount() {
    return virtualTicks();
}

bool offscreenTakeEvent(Event*) {
    return false;
}

bool offscreenEscapeHeld() {
    return false;
}

void offscreenSwapBuffers() {
    if (eglGetCurrentContext() != EGL_NO_CONTEXT) {
        glFinish();
    }
    callSwapHook();
}

bool offscreenContextCurrent() {
    return eglGetCurrentContext() != EGL_NO_CONTEXT;
}

void offscreenReleaseContext() {
    destroyContext();
}

const Backend offscreenBackend = {offscreenTickCount,      offscreenTakeEvent,
                                  offscreenEscapeHeld,     offscreenSwapBuffers,
                                  offscreenContextCurrent, offscreenReleaseContext};

bool fail(std::string* error, const char* reason) {
    if (error) {
        *error = reason;
    }
    closeOffscreen();
    return false;
}

} // namespace

bool openOffscreen(int width, int height, std::string* error) {
    closeOffscreen();
    if (width <= 0 || height <= 0) {
        return fail(error, "off-screen surface size must be positive");
    }
    if (display == EGL_NO_DISPLAY) {
        display = openDisplay();
    }
    if (display == EGL_NO_DISPLAY) {
        return fail(error, "no EGL display without a window system (surfaceless or device)");
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        return fail(error, "EGL cannot bind the desktop OpenGL API");
    }
    EGLConfig config = nullptr;
    // The tests reach the framebuffer object on a driver that offers pbuffers
    // through TUHKALA_TEST_OFFSCREEN_FBO; without it nothing changes.
    const char* fboWanted = std::getenv("TUHKALA_TEST_OFFSCREEN_FBO");
    bool pbuffer = !(fboWanted && *fboWanted) && chooseConfig(EGL_PBUFFER_BIT, &config);
    if (!pbuffer && !chooseConfig(0, &config)) {
        return fail(error, "no EGL config with RGBA8, 24-bit depth and desktop OpenGL");
    }
    // No attributes: the default is a compatibility context, where GL 1.1
    // immediate mode and GLU keep working.
    context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) {
        return fail(error, "eglCreateContext failed for desktop OpenGL");
    }
    if (pbuffer) {
        const EGLint size[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
        surface = eglCreatePbufferSurface(display, config, size);
    }
    if (surface != EGL_NO_SURFACE) {
        if (!eglMakeCurrent(display, surface, surface, context)) {
            return fail(error, "eglMakeCurrent failed on the pbuffer");
        }
    } else {
        if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
            return fail(error, "eglMakeCurrent failed without a surface");
        }
        if (!makeFramebuffer(width, height)) {
            return fail(error, "no pbuffer and no complete framebuffer object");
        }
    }
    surfaceWidth = width;
    surfaceHeight = height;
    glViewport(0, 0, width, height);
    setVirtualTicks(0);
    setBackend(&offscreenBackend);
    return true;
}

void closeOffscreen() {
    // The display stays initialised for the next open: terminating it unloads
    // the driver, which loses track of memory it still holds, and a new
    // initialisation costs more than keeping the display.
    destroyContext();
    surfaceWidth = 0;
    surfaceHeight = 0;
    if (currentBackend() == &offscreenBackend) {
        setBackend(nullptr);
    }
}

bool offscreenOpen() {
    return context != EGL_NO_CONTEXT;
}

int offscreenWidth() {
    return surfaceWidth;
}

int offscreenHeight() {
    return surfaceHeight;
}

std::vector<unsigned char> readPixelsRGB() {
    std::vector<unsigned char> pixels;
    if (context == EGL_NO_CONTEXT || eglGetCurrentContext() != context) {
        return pixels;
    }
    size_t rowBytes = static_cast<size_t>(surfaceWidth) * 3;
    pixels.resize(rowBytes * static_cast<size_t>(surfaceHeight));
    // Tight rows in the result; the caller's pack alignment is put back.
    GLint alignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, surfaceWidth, surfaceHeight, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, alignment);
    // GL reads bottom row first; callers want the picture as it is shown.
    std::vector<unsigned char> row(rowBytes);
    for (int top = 0, bottom = surfaceHeight - 1; top < bottom; ++top, --bottom) {
        unsigned char* a = pixels.data() + rowBytes * static_cast<size_t>(top);
        unsigned char* b = pixels.data() + rowBytes * static_cast<size_t>(bottom);
        std::memcpy(row.data(), a, rowBytes);
        std::memcpy(a, b, rowBytes);
        std::memcpy(b, row.data(), rowBytes);
    }
    return pixels;
}

} // namespace platform
