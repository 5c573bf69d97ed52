// How long the sound server takes to play what this process gives it: the
// latency of our playback stream as the server itself reports it, for the
// heard clock of the module player. SDL 2.26 does not pass it on, so it is
// asked through the server's own client library (libpulse, which also talks
// to PipeWire through pipewire-pulse).
//
// startServerLatency, serverLatencyUs, serverReportCount and
// stopServerLatency are called from any thread; the questions to the server
// run on libpulse's own thread. Latencies in microseconds.
#pragma once

#include <cstdint>

namespace platform {

// The latency to use from the server's recent reports. The stream's buffer
// goes in a sawtooth: the server drains it and asks for more, SDL tops it up
// and only then calls for the next buffer, so at a callback the buffer is at
// its top. A report catches the buffer anywhere on its way down: the largest
// of the last WINDOW reports is the top. Pure arithmetic; tests script it.
class LatencyReports {
  public:
    static constexpr int WINDOW = 5;
    void add(int64_t us);
    // The largest of the latest WINDOW reports; -1 before the first.
    int64_t latencyUs() const;

  private:
    int64_t recent[WINDOW] = {};
    int next = 0;  // where the next report goes
    int count = 0; // reports held, at most WINDOW
};

// How often the server is asked: often for the first seconds, while the
// show's start waits for the stream to settle, then less. The largest
// latency taken as real: a longer one is a stream the server has stalled,
// not a buffer.
constexpr int SERVER_SETTLE_PERIOD_MS = 40;
constexpr int SERVER_SETTLE_TIME_MS = 4000;
constexpr int SERVER_LATENCY_PERIOD_MS = 250;
constexpr int64_t SERVER_LATENCY_MAX_US = 2000000;

// Starts asking the server named by the environment (PULSE_SERVER, else the
// user's) for the latency of this process's playback stream, at once and
// then periodically, without ever starting a server. False when no client
// could be set up or no server is there to connect to.
bool startServerLatency();
// The latency to use now, or -1 while no server has reported one for our
// stream (no server, another audio driver, a stream not yet seen).
int64_t serverLatencyUs();
// How many reports have come since the start (it tells a fresh one).
int serverReportCount();
// Stops asking and disconnects; serverLatencyUs is -1 again.
void stopServerLatency();

} // namespace platform
