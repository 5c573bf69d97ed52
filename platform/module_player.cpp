// Real-time module playback: libopenmpt renders the module (mono float at
// 44100 Hz) for the output, and HeardClock turns "now" into the position that
// is reaching the listener. The output is our own stream on a sound server
// where one answers (pulse_output.h), which says with every buffer how long
// the server will take to play it; elsewhere (SDL_AUDIODRIVER naming another
// driver, no server) it is SDL2's audio device, whose buffer is taken as the
// whole latency.
//
// The modulePlayer* functions run on the main thread; renderOutput runs on
// the audio thread (SDL's or libpulse's). The libopenmpt module object is not
// thread-safe, so every call on it holds moduleMutex; the position ring is
// guarded by the lighter clockMutex, which the main thread's queries take
// alone.
#include "platform/module_player.h"

#include <SDL.h>
#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/module_player_settings.h"
#include "platform/pulse_output.h"
#include "platform/sync_delay.h"

namespace platform {

// ---- HeardClock: pure arithmetic, no locking --------------------------------

namespace {

constexpr int64_t SECOND_NS = 1000000000;

// Sample counts and nanoseconds at rate Hz, either side of 0, exact to the
// nanosecond or the sample (toward 0), without overflow for years of samples.
int64_t samplesToNs(int64_t samples, int rate) {
    return samples / rate * SECOND_NS + samples % rate * SECOND_NS / rate;
}
int64_t nsToSamples(int64_t ns, int rate) {
    return ns / SECOND_NS * rate + ns % SECOND_NS * rate / SECOND_NS;
}

} // namespace

HeardClock::HeardClock() : ring(CAPACITY) {}

void HeardClock::configure(int newRate, int latencySamples) {
    rate = newRate > 0 ? newRate : PLAYER_RATE;
    latency = std::max(0, latencySamples);
}

void HeardClock::reset(uint32_t word) {
    started = false;
    accountCount = 0;
    accountNext = 0;
    referenceNs = 0;
    callbackBase = 0;
    callbackCount = 0;
    rendered = 0;
    lastHeard = 0;
    jumped = false;
    jumpNs = 0;
    jumpSample = 0;
    fallbackWord = word;
    head = 0;
    count = 0;
}

void HeardClock::callbackStarted(uint64_t nowNs, int samples) {
    started = true;
    callbackBase = rendered;
    callbackCount = std::max(0, samples);
    // Sample callbackBase - latency is heard now.
    const int64_t heardNow = static_cast<int64_t>(callbackBase) - latency;
    accounts[accountNext] = static_cast<int64_t>(nowNs) - samplesToNs(heardNow, rate);
    accountNext = (accountNext + 1) % REFERENCE_CALLBACKS;
    accountCount = std::min(accountCount + 1, REFERENCE_CALLBACKS);
    // Until the ring is full its accounts are its first accountCount entries.
    int64_t sorted[REFERENCE_CALLBACKS] = {};
    std::copy(accounts, accounts + accountCount, sorted);
    int64_t* middle = sorted + accountCount / 2;
    std::nth_element(sorted, middle, sorted + accountCount);
    referenceNs = *middle;
}

void HeardClock::recordSlice(uint32_t word, int samples) {
    ring[head] = Slice{rendered, word};
    head = (head + 1) % CAPACITY;
    if (count < CAPACITY)
        ++count;
    rendered += static_cast<uint64_t>(std::max(0, samples));
}

uint64_t HeardClock::sampleAt(uint64_t nowNs, uint64_t aheadNs) const {
    // The device plays on in real time from the reference, but cannot get
    // past the samples the latest callback supplied (less what it still
    // holds) before the next callback comes. Looking ahead counts on those
    // next callbacks coming in time: the ceiling moves on by what the output
    // plays meanwhile.
    const int64_t sinceNs = static_cast<int64_t>(nowNs + aheadNs) - referenceNs;
    const int64_t played = nsToSamples(sinceNs, rate);
    const int64_t aheadSamples = nsToSamples(static_cast<int64_t>(aheadNs), rate);
    const int64_t ceiling =
        static_cast<int64_t>(callbackBase) + callbackCount + aheadSamples - latency;
    const int64_t heard = std::min(played, ceiling);
    return heard > 0 ? static_cast<uint64_t>(heard) : 0;
}

uint64_t HeardClock::heardSample(uint64_t nowNs) {
    if (!started)
        return lastHeard;
    lastHeard = std::max(lastHeard, sampleAt(nowNs, 0));
    return lastHeard;
}

uint32_t HeardClock::positionAt(uint64_t nowNs) {
    return wordAt(heardSample(nowNs));
}

uint32_t HeardClock::positionAhead(uint64_t nowNs, uint64_t aheadNs) {
    // Never before what is heard now; the prediction is not kept in
    // lastHeard, since what is reported as heard now must not take its value.
    uint64_t heard = heardSample(nowNs);
    if (started)
        heard = std::max(heard, sampleAt(nowNs, aheadNs));
    return wordAt(heard);
}

uint32_t HeardClock::wordAt(uint64_t heard) const {
    for (int i = 1; i <= count; ++i) {
        const Slice& s = ring[(head - i + CAPACITY) % CAPACITY];
        if (s.start <= heard)
            return s.word;
    }
    return fallbackWord;
}

void HeardClock::jumpTo(uint32_t word, uint64_t nowNs) {
    const uint64_t heard = heardSample(nowNs);
    // Slices still waiting in the device buffer belong to the old position.
    while (count > 0) {
        const int newest = (head - 1 + CAPACITY) % CAPACITY;
        if (ring[newest].start <= heard)
            break;
        head = newest;
        --count;
    }
    ring[head] = Slice{heard, word};
    head = (head + 1) % CAPACITY;
    if (count < CAPACITY)
        ++count;
    jumped = true;
    jumpNs = nowNs;
    jumpSample = rendered;
}

int64_t HeardClock::nsUntilJumpHeard(uint64_t nowNs) const {
    if (!jumped)
        return 0;
    // The inverse of heardSample: sample s is heard s samples after the
    // reference.
    int64_t heardAtNs = 0;
    if (!started) {
        heardAtNs = static_cast<int64_t>(jumpNs) + samplesToNs(latency, rate);
    } else {
        heardAtNs = referenceNs + samplesToNs(static_cast<int64_t>(jumpSample), rate);
    }
    int64_t untilNs = heardAtNs - static_cast<int64_t>(nowNs);
    // Not rendered yet, the sample is heard no sooner than one latency after
    // the next callback: the output has stalled (a server still setting up
    // the stream). After JUMP_STALL_LIMIT_NS without it, the output is taken
    // to be gone and the prediction stands.
    const bool stalled = jumpSample >= rendered && nowNs - jumpNs < JUMP_STALL_LIMIT_NS;
    if (stalled)
        untilNs = std::max(untilNs, samplesToNs(latency, rate));
    return untilNs;
}

uint64_t monotonicNs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

// ---- The player -------------------------------------------------------------

namespace {

// How long the start waits at most for the sound server's stream to settle.
constexpr int SERVER_SETTLE_MS = 3000;

// Where the sound goes.
enum class Output { None, Sdl, Pulse };

std::mutex moduleMutex; // guards module, playing, startAtJump
std::mutex clockMutex;  // guards heardClock
openmpt_module* module = nullptr;
bool playing = false;
// Told to play, but sounding only from the next jump: what a callback
// rendered before the jump would be heard a second time after it.
bool startAtJump = false;
HeardClock heardClock;
Output output = Output::None;
SDL_AudioDeviceID device = 0; // SDL's device, when it is the output
int outputRate = PLAYER_RATE;
int deviceSamples = 0;       // SDL's obtained buffer
int callbacksSeen = 0;       // buffers rendered since the output opened (under clockMutex)
int pictureDelaySamples = 0; // a delayed picture for a sync meter's check (sync_delay.h)
int lastError = PlayerOk;
bool audioStarted = false;
// The tests' trace of the heard clock, when TUHKALA_HEARD_TRACE names a file:
// a line per callback ("callback NS SAMPLES LATENCY_SAMPLES"), per batch of
// slices it recorded ("rendered SAMPLES", all samples recorded so far), per
// jump ("jump NS FIRST_SAMPLE") and per position asked ("position NS WORD
// AHEAD_NS", the position to be heard AHEAD_NS after NS), in nanoseconds of
// monotonicNs and output samples. Every line is written under clockMutex,
// and a position's time is taken there too, so the lines' order is the
// order in which the clock saw them. Unset, nothing is written.
FILE* trace = nullptr;

void closeTrace() {
    if (trace)
        std::fclose(trace);
    trace = nullptr;
}

uint32_t currentWord() {
    if (!module)
        return 0;
    return positionWord(openmpt_module_get_current_order(module),
                        openmpt_module_get_current_row(module));
}

// Audio thread. Renders the buffer in 1 ms slices and records which position
// each slice starts at, so the main thread can tell what is being heard. The
// output says when the buffer's first sample will be heard: outputLatency
// samples after now.
void renderOutput(float* out, int total, uint64_t now, int outputLatency) {
    // Small scratch list of (word, samples); a callback buffer is a few
    // thousand samples at most, so this stays on a fixed-size stack array in
    // chunks of 64 slices.
    constexpr int BATCH = 64;
    uint32_t words[BATCH];
    int counts[BATCH];
    std::lock_guard<std::mutex> moduleLock(moduleMutex);
    {
        std::lock_guard<std::mutex> clockLock(clockMutex);
        // The server's figure changes while the show runs (a new sink, a
        // resumed one): each buffer takes the latest.
        const int latency = outputLatency + pictureDelaySamples;
        heardClock.configure(outputRate, latency);
        heardClock.callbackStarted(now, total);
        ++callbacksSeen;
        if (trace)
            std::fprintf(trace, "callback %llu %d %d\n", static_cast<unsigned long long>(now),
                         total, latency);
    }
    int done = 0;
    while (done < total) {
        int n = 0;
        while (n < BATCH && done < total) {
            const int want = std::min(PLAYER_SLICE_SAMPLES, total - done);
            words[n] = currentWord();
            int got = 0;
            if (module && playing)
                got = static_cast<int>(
                    openmpt_module_read_float_mono(module, outputRate, want, out + done));
            // Past the end (it never ends while repeating) or stopped: silence.
            std::fill(out + done + got, out + done + want, 0.0f);
            counts[n] = want;
            done += want;
            ++n;
        }
        std::lock_guard<std::mutex> clockLock(clockMutex);
        for (int i = 0; i < n; ++i)
            heardClock.recordSlice(words[i], counts[i]);
        if (trace)
            std::fprintf(trace, "rendered %llu\n",
                         static_cast<unsigned long long>(heardClock.renderedSamples()));
    }
    syncDelaySound(out, total);
}

// Audio thread: SDL's device holds what it was handed, its buffer.
void SDLCALL audioCallback(void*, Uint8* stream, int bytes) {
    renderOutput(reinterpret_cast<float*>(stream), bytes / static_cast<int>(sizeof(float)),
                 monotonicNs(), deviceSamples);
}

void closeOutput() {
    if (device != 0) {
        SDL_CloseAudioDevice(device);
        device = 0;
    }
    pulseOutputClose();
    output = Output::None;
}

// At exit the audio thread must stop before the player's globals are
// destroyed under it; the show never closes the player on its own.
void closeDeviceAtExit() {
    closeOutput();
    closeTrace();
}

// A new stream through a sound server first plays out what the server
// buffered while it set the stream up (tenths of a second to seconds on a
// sink that was idle): the buffers are asked for in bursts meanwhile. The
// start waits, at most SERVER_SETTLE_MS, until they keep pace with real
// time, the server has told the stream's timing, and then for more than half
// of the heard clock's window of buffers, so that the clock runs from the
// steady stream.
void waitForSteadyOutput() {
    constexpr int STEP_MS = 10, SPAN_STEPS = 25; // buffers over the last 250 ms
    uint64_t renderedAt[SPAN_STEPS + 1] = {};
    int steps = 0;
    int buffersWhenSteady = -1;
    for (int waited = 0; waited < SERVER_SETTLE_MS; waited += STEP_MS) {
        uint64_t rendered = 0;
        int buffers = 0;
        {
            std::lock_guard<std::mutex> clockLock(clockMutex);
            rendered = heardClock.renderedSamples();
            buffers = callbacksSeen;
        }
        renderedAt[steps % (SPAN_STEPS + 1)] = rendered;
        ++steps;
        // At least 80 % of real time over the span (buffers come in bursts).
        const bool keepingPace =
            steps > SPAN_STEPS && rendered - renderedAt[steps % (SPAN_STEPS + 1)] >=
                                      uint64_t(outputRate) * STEP_MS * SPAN_STEPS / 1000 * 8 / 10;
        if (!keepingPace || !pulseOutputTimed())
            buffersWhenSteady = -1;
        else if (buffersWhenSteady < 0)
            buffersWhenSteady = buffers;
        else if (buffers - buffersWhenSteady > HeardClock::REFERENCE_CALLBACKS / 2)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(STEP_MS));
    }
}

// The sound server's stream is tried first unless SDL_AUDIODRIVER names
// another driver (the tests' dummy and disk drivers, ALSA).
bool serverOutputWanted() {
    const char* named = std::getenv("SDL_AUDIODRIVER");
    return !named || !*named || std::strcmp(named, "pulseaudio") == 0;
}

// Discards libopenmpt's log lines: the show prints nothing but its one error line.
void silentLog(const char*, void*) {}

} // namespace

int modulePlayerOpen(int rate) {
    closeOutput();
    const char* tracePath = std::getenv("TUHKALA_HEARD_TRACE");
    if (tracePath && *tracePath && !trace) {
        trace = std::fopen(tracePath, "w");
        // Whole lines as they come, for a test that reads while the show runs.
        if (trace)
            std::setvbuf(trace, nullptr, _IOLBF, 0);
    }
    static bool exitHandlerSet = false;
    if (!exitHandlerSet) {
        // Registered after the globals above exist, so it runs before they go.
        std::atexit(closeDeviceAtExit);
        exitHandlerSet = true;
    }
    // The output's rate and what its first buffer is taken to hold, set
    // before the output runs. TUHKALA_SYNC_DELAY_MS, for checking a sync
    // meter (sync_delay.h): a delayed picture is the heard clock taking the
    // output to hold more.
    auto prepareClock = [](int openedRate, int latency) {
        outputRate = openedRate;
        pictureDelaySamples = syncDelayFromEnvironment(openedRate);
        std::lock_guard<std::mutex> clockLock(clockMutex);
        heardClock.configure(openedRate, latency + pictureDelaySamples);
        heardClock.reset(0);
        callbacksSeen = 0;
    };

    prepareClock(rate, PULSE_BUFFER_SAMPLES);
    if (serverOutputWanted() && pulseOutputOpen(rate, renderOutput)) {
        output = Output::Pulse;
        waitForSteadyOutput();
        lastError = PlayerOk;
        return PlayerOk;
    }

    if (!audioStarted) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            lastError = PlayerNoDriver;
            return lastError;
        }
        audioStarted = true;
    }
    SDL_AudioSpec want{};
    want.freq = rate;
    want.format = AUDIO_F32SYS;
    want.channels = 1;
    want.samples = 1024;
    want.callback = audioCallback;
    SDL_AudioSpec have{};
    device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (device == 0) {
        lastError = PlayerDeviceOpen;
        return lastError;
    }
    output = Output::Sdl;
    deviceSamples = have.samples;
    prepareClock(have.freq, have.samples);
    // The output runs from now on; it is silent until a module plays.
    SDL_PauseAudioDevice(device, 0);
    lastError = PlayerOk;
    return PlayerOk;
}

int modulePlayerLoad(const std::string& path) {
    std::vector<unsigned char> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        lastError = PlayerFileOpen;
        return lastError;
    }
    unsigned char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    const bool readOk = !std::ferror(f);
    std::fclose(f);
    if (!readOk) {
        lastError = PlayerFileOpen;
        return lastError;
    }
    int error = 0;
    openmpt_module* loaded = openmpt_module_create_from_memory2(
        bytes.data(), bytes.size(), silentLog, nullptr, openmpt_error_func_ignore, nullptr, &error,
        nullptr, nullptr);
    if (!loaded) {
        lastError = PlayerFileFormat;
        return lastError;
    }
    applyShowSettings(loaded);
    std::lock_guard<std::mutex> moduleLock(moduleMutex);
    if (module)
        openmpt_module_destroy(module);
    module = loaded;
    playing = false;
    startAtJump = false;
    lastError = PlayerOk;
    return PlayerOk;
}

void modulePlayerStart() {
    std::lock_guard<std::mutex> moduleLock(moduleMutex);
    startAtJump = module != nullptr && !playing;
}

void modulePlayerSetVolume(double amplitude) {
    std::lock_guard<std::mutex> moduleLock(moduleMutex);
    if (!module)
        return;
    const double a = std::max(amplitude, 1e-5);
    openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_MASTERGAIN_MILLIBEL,
                                    static_cast<int32_t>(std::lround(2000.0 * std::log10(a))));
}

uint32_t modulePlayerPosition() {
    return modulePlayerPositionAhead(0);
}

uint32_t modulePlayerPositionAhead(int aheadMs) {
    const uint64_t aheadNs = static_cast<uint64_t>(std::max(aheadMs, 0)) * 1000000ull;
    std::lock_guard<std::mutex> clockLock(clockMutex);
    // Taken under the lock, so that no callback comes between the time and
    // the answer.
    const uint64_t now = monotonicNs();
    const uint32_t word = heardClock.positionAhead(now, aheadNs);
    if (trace)
        std::fprintf(trace, "position %llu %u %llu\n", static_cast<unsigned long long>(now), word,
                     static_cast<unsigned long long>(aheadNs));
    return word;
}

int modulePlayerSetOrder(int order) {
    std::lock_guard<std::mutex> moduleLock(moduleMutex);
    if (!module)
        return 0;
    const int orders = openmpt_module_get_num_orders(module);
    if (order < 0 || order >= orders)
        return 0;
    openmpt_module_set_position_order_row(module, order, 0);
    // Under the same lock as the move, so no callback renders in between.
    if (startAtJump) {
        playing = true;
        startAtJump = false;
    }
    const uint32_t word = currentWord();
    std::lock_guard<std::mutex> clockLock(clockMutex);
    const uint64_t now = monotonicNs();
    heardClock.jumpTo(word, now);
    if (trace)
        std::fprintf(trace, "jump %llu %llu\n", static_cast<unsigned long long>(now),
                     static_cast<unsigned long long>(heardClock.renderedSamples()));
    return 1;
}

int modulePlayerMsUntilHeard() {
    if (output == Output::None)
        return 0;
    const uint64_t now = monotonicNs();
    int64_t ns = 0;
    {
        std::lock_guard<std::mutex> clockLock(clockMutex);
        ns = heardClock.nsUntilJumpHeard(now);
    }
    // To the nearest millisecond, within what an int holds.
    const int64_t ms = (ns >= 0 ? ns + 500000 : ns - 500000) / 1000000;
    return static_cast<int>(std::clamp<int64_t>(ms, INT32_MIN, INT32_MAX));
}

int modulePlayerLastError() {
    return lastError;
}

void modulePlayerClose() {
    closeOutput();
    closeTrace();
    {
        std::lock_guard<std::mutex> moduleLock(moduleMutex);
        if (module)
            openmpt_module_destroy(module);
        module = nullptr;
        playing = false;
        startAtJump = false;
    }
    if (audioStarted) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audioStarted = false;
    }
}

} // namespace platform
