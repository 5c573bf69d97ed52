// The module's instruments, synthesised from scratch for the media generator:
// drums from shaped noise and swept sines, tonal voices by additive synthesis
// (band-limited, so transposing them does not alias), each with its own
// amplitude envelope and faded in and out so that no note clicks.
//
// Build time, one thread. Sample rate synthRate (44100 Hz); amplitudes -1..1;
// times in seconds. A tonal voice is synthesised at the pitch of its base IT
// note (60 = C-5 = 261.63 Hz) and played back from the module at c5SpeedFor.
// Everything is deterministic: noise comes from a fixed-seed generator.
#pragma once

#include <cstdint>
#include <vector>

namespace synth {

constexpr int RATE = 44100;

// Frequency of an IT note: C-5 (60) is middle C, equal temperament.
double noteHz(int itNote);
// Sample rate at which note C-5 must play a sample synthesised at baseNote so
// that every note sounds at its own pitch.
uint32_t c5SpeedFor(int baseNote);

// Base notes of the tonal voices.
constexpr int BASS_BASE = 36;
constexpr int PAD_BASE = 60;
constexpr int LEAD_BASE = 72;
constexpr int STAB_BASE = 60;
constexpr int PLUCK_BASE = 72;

std::vector<float> kick();
std::vector<float> snare();
std::vector<float> closedHat();
std::vector<float> openHat();
std::vector<float> crash();
std::vector<float> bass();
std::vector<float> pad();
std::vector<float> lead();
std::vector<float> stab();
std::vector<float> pluck();

// Scales to the given peak and quantises to signed 16-bit, rounding to
// nearest; the first and last samples are forced to 0 so that the sample
// starts and ends silently.
std::vector<int16_t> toPcm16(const std::vector<float>& wave, double peak);

} // namespace synth
