// The sound server's latency for this process's playback stream (see
// sound_server.h), asked through libpulse.
//
// A threaded libpulse main loop runs the questions on its own thread: a
// timer lists the server's playback streams (sink inputs) and takes the one that this process
// (application.process.id) plays through SDL. What it still holds is the stream's buffer plus the
// sink's own latency (buffer_usec + sink_usec). The result is published in an atomic that the audio
// thread reads. Microseconds throughout.
#include "platform/sound_server.h"

#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace platform {

void LatencyReports::add(int64_t us) {
    recent[next] = us;
    next = (next + 1) % WINDOW;
    if (count < WINDOW)
        ++count;
}

int64_t LatencyReports::latencyUs() const {
    if (count == 0)
        return -1;
    // Until the window is full the reports are its first count entries.
    return *std::max_element(recent, recent + count);
}

namespace {

// Everything but the atomics is touched on libpulse's thread, or by the
// caller while that thread is stopped or its lock held.
struct Watcher {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_time_event* timer = nullptr;
    std::string pid; // this process, as the server's properties spell it
    LatencyReports reports;
    bool listing = false; // a listing of the streams is under way
    int64_t found = -1;   // our stream's latency in that listing
};

Watcher* watcher = nullptr;
std::atomic<int64_t> latencyNow{-1};
std::atomic<int> reportCount{0};
std::chrono::steady_clock::time_point startedAt;

void onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* user) {
    Watcher* w = static_cast<Watcher*>(user);
    if (eol == 0 && info) {
        const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
        if (pid && w->pid == pid && !info->corked) {
            const int64_t us =
                static_cast<int64_t>(info->buffer_usec) + static_cast<int64_t>(info->sink_usec);
            w->found = std::max(w->found, us);
        }
        return;
    }
    // The end of the list (or a failed listing, eol < 0, which reports nothing).
    w->listing = false;
    if (eol > 0 && w->found >= 0 && w->found <= SERVER_LATENCY_MAX_US) {
        w->reports.add(w->found);
        latencyNow.store(w->reports.latencyUs());
        reportCount.fetch_add(1);
    }
}

void ask(Watcher* w) {
    if (w->listing || pa_context_get_state(w->context) != PA_CONTEXT_READY)
        return;
    w->found = -1;
    pa_operation* op = pa_context_get_sink_input_info_list(w->context, onSinkInput, w);
    if (op) {
        w->listing = true;
        pa_operation_unref(op);
    }
}

void onTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* user) {
    ask(static_cast<Watcher*>(user));
    const bool settling = std::chrono::steady_clock::now() - startedAt <
                          std::chrono::milliseconds(SERVER_SETTLE_TIME_MS);
    const int periodMs = settling ? SERVER_SETTLE_PERIOD_MS : SERVER_LATENCY_PERIOD_MS;
    struct timeval next;
    pa_timeval_add(pa_gettimeofday(&next), periodMs * PA_USEC_PER_MSEC);
    api->time_restart(event, &next);
}

void onContextState(pa_context* context, void* user) {
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        // The first question at once: the show's start needs the answer.
        ask(static_cast<Watcher*>(user));
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        // No server (or it went away): the caller's own rule applies again.
        latencyNow.store(-1);
        break;
    default:
        break;
    }
}

void freeWatcher(Watcher* w) {
    if (w->context) {
        pa_context_disconnect(w->context);
        pa_context_unref(w->context);
    }
    if (w->loop)
        pa_threaded_mainloop_free(w->loop);
    delete w;
}

} // namespace

bool startServerLatency() {
    if (watcher)
        return true;
    Watcher* w = new Watcher;
    w->pid = std::to_string(static_cast<long>(getpid()));
    latencyNow.store(-1);
    reportCount.store(0);
    startedAt = std::chrono::steady_clock::now();
    w->loop = pa_threaded_mainloop_new();
    if (w->loop)
        w->context = pa_context_new(pa_threaded_mainloop_get_api(w->loop), nullptr);
    if (!w->context) {
        freeWatcher(w);
        return false;
    }
    pa_context_set_state_callback(w->context, onContextState, w);
    // Never start a server of our own: without one there is no latency
    // beyond the device's to know.
    if (pa_context_connect(w->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        freeWatcher(w);
        return false;
    }
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(w->loop);
    struct timeval first;
    pa_timeval_add(pa_gettimeofday(&first), SERVER_SETTLE_PERIOD_MS * PA_USEC_PER_MSEC);
    w->timer = api->time_new(api, &first, onTimer, w);
    if (pa_threaded_mainloop_start(w->loop) < 0) {
        freeWatcher(w);
        return false;
    }
    watcher = w;
    return true;
}

int64_t serverLatencyUs() {
    return latencyNow.load();
}

int serverReportCount() {
    return reportCount.load();
}

void stopServerLatency() {
    if (!watcher)
        return;
    // Stopping the loop's thread first leaves nothing running its callbacks.
    pa_threaded_mainloop_stop(watcher->loop);
    freeWatcher(watcher);
    watcher = nullptr;
    latencyNow.store(-1);
}

} // namespace platform
