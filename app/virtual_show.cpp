// The show under a virtual clock (see virtual_show.h). The clock only moves
// in the swap hook, one frame period per pass, so the timing the frame loop
// measures is exact and frameTime is the frame period.
//
// Main thread. Show time in milliseconds of the virtual clock.
#include "app/virtual_show.h"

#include "effects/demo_rand.h"
#include "music/music.h"
#include "platform/offline_module.h"
#include "platform/offscreen.h"
#include "platform/platform.h"

namespace {

// The position of the offline render at the virtual clock.
uint32_t virtualPosition(void* user) {
    const VirtualClock* clock = static_cast<const VirtualClock*>(user);
    return clock->music->positionAtMs(platform::ticksBetween(startTick, platform::virtualTicks()));
}

// The frame loop moves the music to order 0 as its clock starts; the offline
// render starts there already. Any other order cannot be reached offline.
int virtualSetPosition(void*, int order) {
    return order == 0 ? 1 : 0;
}

// The offline render has no output: order 0 is heard the moment it is set.
int virtualMsUntilHeard(void*) {
    return 0;
}

MusicSource virtualSource = {virtualPosition, virtualSetPosition, virtualMsUntilHeard, nullptr,
                             false};

// After every swap: the frame of pass n is finished. Hand it over, then move
// the clock to pass n + 1's time, so that the loop's closing tick reading
// makes this pass last exactly one frame period and the next pass sees its
// own time; at the stop pass, end the loop the way a quit message does.
void onVirtualSwap(void* user) {
    VirtualClock* clock = static_cast<VirtualClock*>(user);
    if (clock->frameDone)
        clock->frameDone(clock->pass);
    platform::setVirtualTicks(startTick + passTimeMs(clock->pass + 1, clock->fps));
    clock->pass += 1;
    if (clock->pass >= clock->stopPass)
        platform::postEvent({platform::Event::Quit, 0, 0});
}

} // namespace

uint32_t passTimeMs(uint64_t pass, int fps) {
    return static_cast<uint32_t>(pass * 1000 / static_cast<uint64_t>(fps));
}

uint64_t firstPassAtOrAfter(uint64_t ms, int fps) {
    // floor(n * 1000 / f) >= ms  <=>  n * 1000 >= ms * f.
    return (ms * static_cast<uint64_t>(fps) + 999) / 1000;
}

uint64_t lastPassAtOrBefore(uint64_t ms, int fps) {
    // floor(n * 1000 / f) <= ms  <=>  n * 1000 < (ms + 1) * f.
    return firstPassAtOrAfter(ms + 1, fps) - 1;
}

void startVirtualShow(int width, int height, PictureFit fit) {
    setPictureFit(fit);
    initGl();
    if (fit == PictureFit::KeepAspect || width != windowWidth || height != windowHeight)
        resizeViewport(width, height);
    startVirtualScenes();
}

void startVirtualScenes() {
    // The random numbers start from their seed as in a fresh process.
    demoSeedRand(1);
    runEffectSetups();
}

void startVirtualClock(VirtualClock* clock) {
    clock->pass = 0;
    virtualSource.user = clock;
    musicSetSource(&virtualSource);
    platform::setSwapHook(onVirtualSwap, clock);
    platform::setVirtualTicks(0);
}

void stopVirtualClock() {
    platform::setSwapHook(nullptr, nullptr);
    musicSetSource(nullptr);
    // A quit posted after the last pass was read; one left unread (the
    // schedule ran out first) must not end a later loop.
    platform::clearPostedEvents();
}

uint64_t runVirtualFrameLoop(const EffectEntry* table, int fps, uint64_t stopPass,
                             platform::OfflineModule* music,
                             const std::function<void(uint64_t pass)>& frameDone) {
    VirtualClock clock;
    clock.fps = fps;
    clock.music = music;
    clock.stopPass = stopPass;
    clock.frameDone = frameDone;
    startVirtualClock(&clock);
    runFrameLoopWith(table);
    stopVirtualClock();
    return clock.pass;
}
