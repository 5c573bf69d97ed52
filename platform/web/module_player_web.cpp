// Real-time module playback in the browser: libopenmpt renders the module in
// the page's audio worklet (web/audio-worklet.js, on the browser's audio
// thread) with the settings of module_player_settings.h, and the page answers
// which position is being heard, from the audio context's output timestamp
// (web/show.js, Module.tuhkalaAudio). The page's program holds no libopenmpt:
// whether the file is a module the library can load, and how many orders it
// has, is the worklet's answer. The worklet answers only asynchronously, so
// the page hands it the file before the show starts (web/main.cpp,
// tuhkalaReadMusic); loading here takes that answer for the same bytes, and a
// bad module fails here, at load, as natively.
//
// The page's main thread. Position words hold the order in bits 0-15 and the
// row in bits 16-31; times are milliseconds of the page's heard clock.
#include <emscripten.h>

#include <cmath>
#include <vector>

#include "platform/module_player.h"
#include "platform/platform.h"

namespace platform {
namespace {

int lastError = PlayerOk;
bool opened = false;
int orderCount = 0;

} // namespace

EM_JS(int, pageAudioReady, (),
      { return Module.tuhkalaAudio && Module.tuhkalaAudio.ready() ? 1 : 0; });
EM_JS(int, pageAudioLoad, (const unsigned char* data, int size),
      { return Module.tuhkalaAudio.loadedOrders(HEAPU8.subarray(data, data + size)); });
EM_JS(void, pageAudioPlay, (), { Module.tuhkalaAudio.play(); });
EM_JS(void, pageAudioGain, (int millibel), { Module.tuhkalaAudio.setGain(millibel); });
EM_JS(int, pageAudioPosition, (), { return Module.tuhkalaAudio.position(); });
EM_JS(int, pageAudioPositionAhead, (int ms), { return Module.tuhkalaAudio.positionAhead(ms); });
EM_JS(void, pageAudioSetOrder, (int order), { Module.tuhkalaAudio.setOrder(order); });
EM_JS(int, pageAudioMsUntilHeard, (), { return Module.tuhkalaAudio.msUntilHeard(); });
EM_JS(void, pageAudioStop, (), {
    if (Module.tuhkalaAudio)
        Module.tuhkalaAudio.stop();
});

int modulePlayerOpen(int) {
    // The page made the audio context (at the rate asked for) and started the
    // worklet's renderer when the viewer pressed Play: browsers start sound
    // only then.
    if (!pageAudioReady()) {
        lastError = PlayerDeviceOpen;
        return lastError;
    }
    opened = true;
    lastError = PlayerOk;
    return PlayerOk;
}

int modulePlayerLoad(const std::string& path) {
    if (!opened) {
        lastError = PlayerNotStarted;
        return lastError;
    }
    std::vector<unsigned char> bytes;
    if (!readDataFile(path.c_str(), bytes)) {
        lastError = PlayerFileOpen;
        return lastError;
    }
    // The worklet's orders for exactly these bytes; 0 when it refused them or
    // was never given them.
    orderCount = pageAudioLoad(bytes.data(), static_cast<int>(bytes.size()));
    if (orderCount <= 0) {
        orderCount = 0;
        lastError = PlayerFileFormat;
        return lastError;
    }
    lastError = PlayerOk;
    return PlayerOk;
}

void modulePlayerStart() {
    if (opened)
        pageAudioPlay();
}

void modulePlayerSetVolume(double amplitude) {
    if (!opened)
        return;
    const double a = amplitude > 1e-5 ? amplitude : 1e-5;
    pageAudioGain(static_cast<int>(std::lround(2000.0 * std::log10(a))));
}

uint32_t modulePlayerPosition() {
    return opened ? static_cast<uint32_t>(pageAudioPosition()) : 0;
}

// The page's loop draws ahead as the native one does (web/main.cpp): the
// position heard aheadMs from now, as far as the worklet has reported.
uint32_t modulePlayerPositionAhead(int aheadMs) {
    return opened ? static_cast<uint32_t>(pageAudioPositionAhead(aheadMs > 0 ? aheadMs : 0)) : 0;
}

int modulePlayerSetOrder(int order) {
    if (!opened || order < 0 || order >= orderCount)
        return 0;
    pageAudioSetOrder(order);
    return 1;
}

int modulePlayerMsUntilHeard() {
    return opened ? pageAudioMsUntilHeard() : 0;
}

int modulePlayerLastError() {
    return lastError;
}

void modulePlayerClose() {
    pageAudioStop();
    opened = false;
    orderCount = 0;
}

} // namespace platform
