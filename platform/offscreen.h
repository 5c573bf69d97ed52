// Headless OpenGL: a compatibility context with no display at all (EGL on
// Mesa, surfaceless or pbuffer), for the tests and the capture program.
//
// Main thread only. Sizes in pixels; times in milliseconds.
//
// openOffscreen installs an off-screen Backend (platform.h): its clock is a
// virtual clock that only moves when told to, it has no events, Escape is
// never held, and a swap finishes the frame (glFinish) and calls the swap hook.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Creates a width x height RGBA8 surface with a 24-bit depth buffer, makes a
// GL context current on it (GL 1.1 immediate mode and GLU work), sets the
// viewport to the whole surface and installs the off-screen backend.
// False with a one-line reason in *error when no context can be had.
bool openOffscreen(int width, int height, std::string* error);
void closeOffscreen();
bool offscreenOpen();
int offscreenWidth();
int offscreenHeight();

// The off-screen backend's virtual clock.
void setVirtualTicks(uint32_t ms);
uint32_t virtualTicks();
// Called with user after every swap of the off-screen backend (null hook for
// none); the capture program advances its clock and grabs the frame here.
void setSwapHook(void (*hook)(void* user), void* user);

// The current colour buffer as tightly packed RGB, top row first.
std::vector<unsigned char> readPixelsRGB();

} // namespace platform
