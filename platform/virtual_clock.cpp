// The off-screen backends' virtual clock and swap hook (see virtual_clock.h).
//
// Main thread only. Times in milliseconds.
#include "platform/virtual_clock.h"

#include <cstdint>

#include "platform/offscreen.h"

namespace platform {

namespace {

uint32_t ticks = 0;
void (*swapHook)(void*) = nullptr;
void* swapHookUser = nullptr;

} // namespace

void setVirtualTicks(uint32_t ms) {
    ticks = ms;
}

uint32_t virtualTicks() {
    return ticks;
}

void setSwapHook(void (*hook)(void* user), void* user) {
    swapHook = hook;
    swapHookUser = user;
}

void callSwapHook() {
    if (swapHook)
        swapHook(swapHookUser);
}

} // namespace platform
