// A small Impulse Tracker (.it) writer for the media generator: sample mode,
// 16-bit signed mono samples, one pattern per order, no message, no
// instruments. Enough for the show's module, which the generator composes in
// code.
//
// Build time, one thread. Notes are IT note numbers (0 = C-0, 60 = C-5, 119 =
// B-9); sample numbers count from 1 in cells, as in the format; volumes 0-64.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ItSample {
    std::string name;         // up to 25 characters are kept
    std::vector<int16_t> pcm; // mono, signed 16-bit
    uint32_t c5Speed = 44100; // playback rate of note C-5, Hz
    int defaultVolume = 64;   // 0-64
    int globalVolume = 64;    // 0-64
};

// One cell of a pattern. Fields left at their "none" values are not written.
struct ItCell {
    static constexpr int NO_NOTE = -1;
    static constexpr int NOTE_CUT = 254;
    static constexpr int NOTE_OFF = 255;
    int note = NO_NOTE; // 0-119, NOTE_CUT, NOTE_OFF or NO_NOTE
    int sample = 0;     // 1-based; 0 for none
    int volume = -1;    // 0-64; -1 for none
    int command = 0;    // effect letter as 1 = A ... 26 = Z; 0 for none
    int param = 0;
};

struct ItPattern {
    static constexpr int ROWS = 64;
    int channels = 0;
    std::vector<ItCell> cells; // ROWS x channels, row-major

    explicit ItPattern(int channelCount);
    ItCell& at(int row, int channel) { return cells[row * channels + channel]; }
    const ItCell& at(int row, int channel) const { return cells[row * channels + channel]; }
};

struct ItModule {
    std::string name;        // up to 25 characters are kept
    int initialSpeed = 6;    // ticks per row
    int initialTempo = 125;  // BPM in the tracker's sense (ticks = tempo * 2 / 5 per second)
    int globalVolume = 128;  // 0-128
    int mixVolume = 48;      // 0-128
    int rowsPerBeat = 4;     // highlight only
    int rowsPerMeasure = 16; // highlight only
    int channels = 0;        // channels in use (1-64); the rest are disabled
    std::vector<int> orders; // pattern numbers, played in this order
    std::vector<ItPattern> patterns;
    std::vector<ItSample> samples;
};

// Serialises the module. Empty when it cannot be written (more than 64
// channels, 200 orders or 240 patterns or samples, a pattern whose channel
// count differs from the module's, an order naming a missing pattern).
std::vector<unsigned char> writeIt(const ItModule& module);
