// The renderer inside the page's audio worklet (audio-worklet.js): libopenmpt
// renders the module, mono float, with the settings the native player and the
// offline renderer share, in slices of PLAYER_SLICE_SAMPLES whose starting
// positions it keeps, so the page can tell which order and row are heard when.
// It is also the page's only copy of the library: it tells whether a file is a
// module it can load and how many orders it has.
//
// The browser's audio thread, one call at a time. Rates in Hz, counts in
// samples; a position word holds the order in bits 0-15, the row in 16-31.
#include <emscripten.h>
#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <vector>

#include "platform/module_player.h"
#include "platform/module_player_settings.h"

namespace {

openmpt_module* module = nullptr;
std::vector<unsigned char> file;
std::vector<float> samples;
std::vector<uint32_t> sliceWords;  // position at the start of each slice
std::vector<int32_t> sliceOffsets; // its first sample within the render

void silentLog(const char*, void*) {}

} // namespace

extern "C" {

// A buffer of size bytes for the module file; the page copies the file there.
EMSCRIPTEN_KEEPALIVE unsigned char* playerFileBuffer(int size) {
    file.assign(static_cast<size_t>(std::max(0, size)), 0);
    return file.data();
}

// Loads the file in the buffer; 1 when the library took it.
EMSCRIPTEN_KEEPALIVE int playerLoad() {
    if (module)
        openmpt_module_destroy(module);
    int error = 0;
    module = openmpt_module_create_from_memory2(file.data(), file.size(), silentLog, nullptr,
                                                openmpt_error_func_ignore, nullptr, &error, nullptr,
                                                nullptr);
    file.clear();
    if (!module)
        return 0;
    platform::applyShowSettings(module);
    return 1;
}

// The loaded module's orders (0 when none is loaded).
EMSCRIPTEN_KEEPALIVE int playerOrderCount() {
    return module ? openmpt_module_get_num_orders(module) : 0;
}

EMSCRIPTEN_KEEPALIVE void playerSetGain(int millibel) {
    if (module)
        openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_MASTERGAIN_MILLIBEL,
                                        millibel);
}

// Row 0 of order; 1 when the module has that order.
EMSCRIPTEN_KEEPALIVE int playerSetOrder(int order) {
    if (!module || order < 0 || order >= openmpt_module_get_num_orders(module))
        return 0;
    openmpt_module_set_position_order_row(module, order, 0);
    return 1;
}

// Renders count samples at rate; returns them (silence past the end).
EMSCRIPTEN_KEEPALIVE float* playerRender(int rate, int count) {
    samples.assign(static_cast<size_t>(std::max(0, count)), 0.0f);
    sliceWords.clear();
    sliceOffsets.clear();
    for (int done = 0; done < count && module;) {
        const int want = std::min(platform::PLAYER_SLICE_SAMPLES, count - done);
        sliceWords.push_back(platform::positionWord(openmpt_module_get_current_order(module),
                                                    openmpt_module_get_current_row(module)));
        sliceOffsets.push_back(done);
        openmpt_module_read_float_mono(module, rate, want, &samples[done]);
        done += want;
    }
    return samples.data();
}

EMSCRIPTEN_KEEPALIVE int playerSliceCount() {
    return static_cast<int>(sliceWords.size());
}

EMSCRIPTEN_KEEPALIVE uint32_t* playerSliceWords() {
    return sliceWords.data();
}

EMSCRIPTEN_KEEPALIVE int32_t* playerSliceOffsets() {
    return sliceOffsets.data();
}

} // extern "C"
