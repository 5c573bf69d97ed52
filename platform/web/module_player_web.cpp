// Real-time module playback in the browser: libopenmpt renders the module in
// the page's audio worklet (web/audio-worklet.js, on the browser's audio
// thread) with the settings of module_player_settings.h, and the page answers
// which position is being heard, from the audio context's output timestamp
// (web/show.js, Module.tuhkalaAudio). This side checks the file with its own
// copy of the library, so that a bad module fails here, at load, as natively.
//
// The page's main thread. Position words hold the order in bits 0-15 and the
// row in bits 16-31.
#include <emscripten.h>
#include <libopenmpt/libopenmpt.h>

#include <cmath>
#include <vector>

#include "platform/module_player.h"
#include "platform/platform.h"

namespace platform {
namespace {

int lastError = PlayerOk;
bool opened = false;
int orderCount = 0;

void silentLog(const char*, void*) {}

} // namespace

EM_JS(int, pageAudioReady, (),
      { return Module.tuhkalaAudio && Module.tuhkalaAudio.ready() ? 1 : 0; });
EM_JS(void, pageAudioLoad, (const unsigned char* data, int size),
      { Module.tuhkalaAudio.load(HEAPU8.slice(data, data + size)); });
EM_JS(void, pageAudioPlay, (), { Module.tuhkalaAudio.play(); });
EM_JS(void, pageAudioGain, (int millibel), { Module.tuhkalaAudio.setGain(millibel); });
EM_JS(int, pageAudioPosition, (), { return Module.tuhkalaAudio.position(); });
EM_JS(void, pageAudioSetOrder, (int order), { Module.tuhkalaAudio.setOrder(order); });
EM_JS(void, pageAudioStop, (), {
    if (Module.tuhkalaAudio)
        Module.tuhkalaAudio.stop();
});

int modulePlayerOpen(int) {
    // The page made the audio context (at the rate asked for) and loaded the
    // worklet when the viewer pressed Play: browsers start sound only then.
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
    int error = 0;
    openmpt_module* module = openmpt_module_create_from_memory2(
        bytes.data(), bytes.size(), silentLog, nullptr, openmpt_error_func_ignore, nullptr, &error,
        nullptr, nullptr);
    if (!module) {
        lastError = PlayerFileFormat;
        return lastError;
    }
    orderCount = openmpt_module_get_num_orders(module);
    openmpt_module_destroy(module);
    pageAudioLoad(bytes.data(), static_cast<int>(bytes.size()));
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

int modulePlayerSetOrder(int order) {
    if (!opened || order < 0 || order >= orderCount)
        return 0;
    pageAudioSetOrder(order);
    return 1;
}

int modulePlayerMsUntilHeard() {
    // The page does not tell yet when the first sample after a jump is heard:
    // the schedule starts at the jump, as it always has in the browser.
    return 0;
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
