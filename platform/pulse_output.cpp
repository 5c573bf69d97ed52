// The show's sound played straight into a PulseAudio server (see
// pulse_output.h).
//
// A threaded libpulse main loop runs the stream on its own thread, the audio
// thread: whenever the server asks for more, the write callback hands over
// buffers of at most PULSE_BUFFER_SAMPLES, each rendered knowing the
// stream's latency at that moment. The latency is libpulse's account of our
// stream (pa_stream_get_latency): what the server has yet to read of it, as
// its write and read indices tell, plus its sink's latency, brought up to
// the moment by interpolating from the server's last timing update. The
// sink input's figures that the server lists for any client do not say
// where in the stream the sink is, and come out one to two milliseconds
// short of when the sound is played.
#include "platform/pulse_output.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/module_player.h"

namespace platform {

namespace {

// Everything here is touched on libpulse's thread, or by the main thread
// while that thread is stopped or before the stream is connected.
struct Output {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    int rate = PLAYER_RATE;
    PulseRender render = nullptr;
    std::vector<float> buffer;
};

Output* output = nullptr;
std::atomic<bool> timed{false};

// Audio thread. Hands over what the server asks for in whole multiples of
// its minimum request, a buffer at a time. The server asks for a few samples
// more than a buffer now and then; handed over at once as buffers of their
// own, those put the stream's timing out by up to 20 ms on a null sink, so
// the remainder waits for the next request.
void onWrite(pa_stream* stream, size_t bytes, void* user) {
    Output* o = static_cast<Output*>(user);
    const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream);
    const size_t step = attr && attr->minreq >= sizeof(float) && attr->minreq != uint32_t(-1)
                            ? attr->minreq / sizeof(float) * sizeof(float)
                            : sizeof(float);
    bytes -= bytes % step;
    // A server whose least request is more than a buffer gets it whole (the
    // buffer grows once, on the first such request).
    if (o->buffer.size() < step / sizeof(float))
        o->buffer.resize(step / sizeof(float));
    while (bytes > 0) {
        const int samples =
            static_cast<int>(std::min<size_t>(bytes / sizeof(float), o->buffer.size()));
        // Until the server's first timing update the stream holds what was
        // asked of it; libpulse says so with PA_ERR_NODATA.
        int64_t latencyUs = 0;
        pa_usec_t usec = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream, &usec, &negative) == 0) {
            latencyUs = negative ? 0 : static_cast<int64_t>(usec);
            timed.store(true);
        } else if (attr) {
            latencyUs = static_cast<int64_t>(attr->tlength / sizeof(float)) * 1000000 / o->rate;
        }
        const int latency = static_cast<int>(latencyUs * o->rate / 1000000);
        o->render(o->buffer.data(), samples, monotonicNs(), latency);
        if (pa_stream_write(stream, o->buffer.data(), samples * sizeof(float), nullptr, 0,
                            PA_SEEK_RELATIVE) < 0)
            return;
        bytes -= samples * sizeof(float);
    }
}

void freeOutput(Output* o) {
    // Stopping the loop's thread first leaves nothing running the callbacks.
    if (o->loop)
        pa_threaded_mainloop_stop(o->loop);
    if (o->stream) {
        pa_stream_set_write_callback(o->stream, nullptr, nullptr);
        pa_stream_disconnect(o->stream);
        pa_stream_unref(o->stream);
    }
    if (o->context) {
        pa_context_disconnect(o->context);
        pa_context_unref(o->context);
    }
    if (o->loop)
        pa_threaded_mainloop_free(o->loop);
    delete o;
}

// Waits, polling under the loop's lock, until ready() or failed() holds or
// the open's time is up; true when ready.
template <typename Ready, typename Failed> bool waitUntil(Output* o, Ready ready, Failed failed) {
    constexpr int STEP_MS = 2;
    for (int waited = 0; waited <= PULSE_OPEN_TIMEOUT_MS; waited += STEP_MS) {
        pa_threaded_mainloop_lock(o->loop);
        const bool isReady = ready(), hasFailed = failed();
        pa_threaded_mainloop_unlock(o->loop);
        if (isReady)
            return true;
        if (hasFailed)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(STEP_MS));
    }
    return false;
}

} // namespace

bool pulseOutputOpen(int rate, PulseRender render) {
    if (output || !render || rate <= 0)
        return false;
    timed.store(false);
    Output* o = new Output;
    o->rate = rate;
    o->render = render;
    o->buffer.assign(PULSE_BUFFER_SAMPLES, 0.0f);
    o->loop = pa_threaded_mainloop_new();
    if (o->loop)
        o->context = pa_context_new(pa_threaded_mainloop_get_api(o->loop), "tuhkalademo");
    // Never start a server of our own: without one, SDL's output plays.
    if (!o->context ||
        pa_context_connect(o->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(o->loop) < 0) {
        freeOutput(o);
        return false;
    }
    const bool connected = waitUntil(
        o, [o] { return pa_context_get_state(o->context) == PA_CONTEXT_READY; },
        [o] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(o->context)); });
    if (!connected) {
        freeOutput(o);
        return false;
    }

    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(rate), 1};
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = PULSE_BUFFER_SAMPLES * sizeof(float);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = PULSE_BUFFER_SAMPLES * sizeof(float);
    attr.fragsize = static_cast<uint32_t>(-1);
    // The server sizes its sink's latency to the buffer asked for, and
    // keeps our stream's timing up to date by itself.
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    pa_threaded_mainloop_lock(o->loop);
    o->stream = pa_stream_new(o->context, "music", &format, nullptr);
    bool started = false;
    if (o->stream) {
        pa_stream_set_write_callback(o->stream, onWrite, o);
        started =
            pa_stream_connect_playback(o->stream, nullptr, &attr, flags, nullptr, nullptr) == 0;
    }
    pa_threaded_mainloop_unlock(o->loop);
    const bool playing =
        started && waitUntil(
                       o, [o] { return pa_stream_get_state(o->stream) == PA_STREAM_READY; },
                       [o] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(o->stream)); });
    if (!playing) {
        freeOutput(o);
        return false;
    }
    output = o;
    return true;
}

bool pulseOutputTimed() {
    return timed.load();
}

void pulseOutputClose() {
    if (!output)
        return;
    freeOutput(output);
    output = nullptr;
    timed.store(false);
}

} // namespace platform
