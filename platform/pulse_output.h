// The show's sound played straight into a PulseAudio server (or PipeWire
// through pipewire-pulse) with the server's client library. Unlike SDL's
// output, libpulse keeps the timing of our own stream: how far the server
// has read it and how long its sink takes to play what it has read, so each
// buffer is handed over knowing when its first sample will be heard.
//
// pulseOutputOpen and pulseOutputClose run on the main thread; the render
// function runs on libpulse's thread, which is the audio thread. Sample
// rates in Hz, counts in mono samples, times in nanoseconds of monotonicNs.
#pragma once

#include <cstdint>

namespace platform {

// Audio thread: fills out[0..samples) with the next samples of the output.
// The first of them is heard latencySamples after nowNs.
using PulseRender = void (*)(float* out, int samples, uint64_t nowNs, int latencySamples);

// The buffer asked of the server, in samples (23 ms at 44100 Hz): the
// server holds about this much of our stream beyond its sink's own latency.
constexpr int PULSE_BUFFER_SAMPLES = 1024;
// How long the open waits for the server to answer and set the stream up.
constexpr int PULSE_OPEN_TIMEOUT_MS = 3000;

// Connects to the server the environment names (PULSE_SERVER, else the
// user's), without ever starting one, and plays a mono float stream at rate
// on its default sink, calling render for every buffer from then on. False
// when no server answers or it refuses the stream; nothing is left running
// then.
bool pulseOutputOpen(int rate, PulseRender render);
// True once the server has told the stream's timing, so that the latencies
// render is given are the server's and not only the buffer asked for.
bool pulseOutputTimed();
// Stops the stream and disconnects; render is not called once this returns.
// Nothing happens when no stream is open.
void pulseOutputClose();

} // namespace platform
