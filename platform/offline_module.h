// Offline, deterministic rendering of a tracker module, for the capture
// program and the tests: the module is rendered from time 0 in fixed 1 ms
// slices with the real player's settings (module_player.h), and the position
// word at the start of every slice is kept, so the position at any sample
// time is known exactly. Two renders of the same file give identical samples.
//
// One thread (whichever owns the object). Output is mono float at
// PLAYER_RATE (44100 Hz); times are sample indices from the start of the song
// or seconds; position words hold the order in bits 0-15, the row in 16-31.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct openmpt_module;

namespace platform {

class OfflineModule {
  public:
    OfflineModule() = default;
    ~OfflineModule();
    OfflineModule(const OfflineModule&) = delete;
    OfflineModule& operator=(const OfflineModule&) = delete;

    // Loads a module held in memory. False when the library cannot load it.
    // Every line the library logs while loading is appended to log (when given).
    bool load(const unsigned char* data, size_t size, std::vector<std::string>* log);
    // Reads the file first. False when it cannot be read or loaded.
    bool loadFile(const std::string& path, std::vector<std::string>* log);
    bool loaded() const { return module != nullptr; }

    // What the file holds (0 when nothing is loaded).
    int orderCount() const;
    int patternRowsAtOrder(int order) const;
    double durationSeconds() const;
    int channelCount() const;
    // One field of a pattern cell at (order, row, channel): the note (0 none,
    // 1-120 = IT notes 0-119 plus one, 254/255 cut/off as the library counts
    // them), the sample or instrument number, or the volume. 0 when empty or
    // out of range.
    enum CellField { CellNote = 0, CellSample = 1, CellVolume = 4 };
    int cell(int order, int row, int channel, CellField field) const;
    // Seconds at which row 0 of order starts, from the library's own timing;
    // a negative value when the order is out of range. Does not disturb the
    // render (it uses a second copy of the module).
    double orderStartSeconds(int order);

    // Renders until endSample samples exist (no-op when already there).
    void renderTo(uint64_t endSample);
    // Position word at the given sample index, rendering up to it if needed.
    uint32_t positionAtSample(uint64_t sample);
    // Position word at a virtual time in milliseconds.
    uint32_t positionAtMs(uint32_t ms);
    // Everything rendered so far.
    const std::vector<float>& samples() const { return audio; }

    // Where each row starts, to the sample, up to endSample: a fresh copy of
    // the module is rendered one sample at a time, so the position changes
    // on the very sample that starts a row (the slices above know it only to
    // within a slice). About 3 s of work for a three-minute song; does not
    // disturb the render.
    struct RowStart {
        uint64_t sample;
        uint32_t word;
    };
    std::vector<RowStart> rowStarts(uint64_t endSample) const;

  private:
    openmpt_module* module = nullptr;
    openmpt_module* probe = nullptr; // for timing questions
    std::vector<unsigned char> file;
    std::vector<float> audio;
    std::vector<uint32_t> sliceWords; // position at the start of each slice
};

} // namespace platform
