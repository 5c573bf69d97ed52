// Offline rendering of a module (see offline_module.h): libopenmpt renders
// slice by slice, the position being read before each slice.
//
// One thread. 44100 Hz mono float; slices of PLAYER_SLICE_SAMPLES (1 ms).
#include "platform/offline_module.h"

#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <cstdio>

#include "platform/module_player.h"
#include "platform/module_player_settings.h"

namespace platform {

namespace {

void collectLog(const char* message, void* user) {
    if (user && message)
        static_cast<std::vector<std::string>*>(user)->push_back(message);
}

openmpt_module* create(const std::vector<unsigned char>& file, std::vector<std::string>* log) {
    int error = 0;
    openmpt_module* m = openmpt_module_create_from_memory2(file.data(), file.size(), collectLog,
                                                           log, openmpt_error_func_ignore, nullptr,
                                                           &error, nullptr, nullptr);
    if (m)
        applyShowSettings(m);
    return m;
}

} // namespace

OfflineModule::~OfflineModule() {
    if (module)
        openmpt_module_destroy(module);
    if (probe)
        openmpt_module_destroy(probe);
}

bool OfflineModule::load(const unsigned char* data, size_t size, std::vector<std::string>* log) {
    if (module)
        openmpt_module_destroy(module);
    if (probe)
        openmpt_module_destroy(probe);
    module = probe = nullptr;
    audio.clear();
    sliceWords.clear();
    file.assign(data, data + size);
    module = create(file, log);
    if (!module)
        return false;
    probe = create(file, nullptr);
    return probe != nullptr;
}

bool OfflineModule::loadFile(const std::string& path, std::vector<std::string>* log) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::vector<unsigned char> bytes;
    unsigned char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok && load(bytes.data(), bytes.size(), log);
}

int OfflineModule::orderCount() const {
    return module ? openmpt_module_get_num_orders(module) : 0;
}

int OfflineModule::patternRowsAtOrder(int order) const {
    if (!module || order < 0 || order >= orderCount())
        return 0;
    return openmpt_module_get_pattern_num_rows(module,
                                               openmpt_module_get_order_pattern(module, order));
}

double OfflineModule::durationSeconds() const {
    return module ? openmpt_module_get_duration_seconds(module) : 0.0;
}

int OfflineModule::channelCount() const {
    return module ? openmpt_module_get_num_channels(module) : 0;
}

int OfflineModule::cell(int order, int row, int channel, CellField field) const {
    if (!module || order < 0 || order >= orderCount() || row < 0 ||
        row >= patternRowsAtOrder(order) || channel < 0 || channel >= channelCount())
        return 0;
    return openmpt_module_get_pattern_row_channel_command(
        module, openmpt_module_get_order_pattern(module, order), row, channel, field);
}

double OfflineModule::orderStartSeconds(int order) {
    if (!probe || order < 0 || order >= orderCount())
        return -1.0;
    return openmpt_module_set_position_order_row(probe, order, 0);
}

void OfflineModule::renderTo(uint64_t endSample) {
    if (!module)
        return;
    while (audio.size() < endSample) {
        const size_t at = audio.size();
        sliceWords.push_back(positionWord(openmpt_module_get_current_order(module),
                                          openmpt_module_get_current_row(module)));
        audio.resize(at + PLAYER_SLICE_SAMPLES, 0.0f);
        // With endless repetition the library never runs out; anything it
        // leaves unwritten stays silent.
        openmpt_module_read_float_mono(module, PLAYER_RATE, PLAYER_SLICE_SAMPLES, &audio[at]);
    }
}

uint32_t OfflineModule::positionAtSample(uint64_t sample) {
    renderTo(sample + 1);
    const size_t slice = static_cast<size_t>(sample / PLAYER_SLICE_SAMPLES);
    return slice < sliceWords.size() ? sliceWords[slice] : 0;
}

std::vector<OfflineModule::RowStart> OfflineModule::rowStarts(uint64_t endSample) const {
    std::vector<RowStart> starts;
    openmpt_module* scan = create(file, nullptr);
    if (!scan)
        return starts;
    // The library plays a row's first tick as soon as it renders that tick's
    // first sample; the position read after each single sample is the row
    // that sample belongs to.
    uint32_t last = 0xFFFFFFFFu;
    float sample = 0.0f;
    for (uint64_t i = 0; i < endSample; ++i) {
        openmpt_module_read_float_mono(scan, PLAYER_RATE, 1, &sample);
        const uint32_t word = positionWord(openmpt_module_get_current_order(scan),
                                           openmpt_module_get_current_row(scan));
        if (word != last)
            starts.push_back({i, word});
        last = word;
    }
    openmpt_module_destroy(scan);
    return starts;
}

uint32_t OfflineModule::positionAtMs(uint32_t ms) {
    return positionAtSample(static_cast<uint64_t>(ms) * PLAYER_RATE / 1000);
}

} // namespace platform
