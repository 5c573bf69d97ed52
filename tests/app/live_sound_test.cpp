// The real sound path: the show binary runs on the test's display with SDL's
// disk audio driver, which writes every buffer the player hands to SDL into a
// file, and that stream must be the offline render of the module (the
// capture's sound) from order 0: the same samples within 16-bit rounding, at
// the same level, after nothing but silence.
//
// The same run checks the position the scenes read against that stream: the
// show's heard-clock trace (TUHKALA_HEARD_TRACE) says when each buffer was
// handed over, how much had been rendered, and when each position was asked
// and for how far ahead (the show draws each picture for when it will be
// seen). The sample heard then is the samples handed over, less the
// device's buffer, plus what it will have played by then at the rate (at
// most the buffer handed over plus the look-ahead), and no further than the
// render has got; the position asked must be the offline render's at the
// start of the 1 ms slice that holds it (the render itself knows the
// position only to its own slice). The show runs with its picture delayed
// by 100 ms (TUHKALA_SYNC_DELAY_MS: the heard clock takes the output to hold
// that much more than the device's buffer), as far as the frame loop ever
// looks ahead: otherwise, where passes are slow (a loaded machine, a
// sanitizer), the look-ahead would pass the render in most questions, whose
// answers would then be the newest slice's whatever the latency or the rate.
//
// Test thread; runs the show from the build folder (where tavara/ is) on the
// DISPLAY that test.sh provides. Samples are mono floats at 44100 Hz; times
// in nanoseconds of the show's monotonic clock.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/module_player.h"
#include "platform/offline_module.h"
#include "tests/support/kit.h"

namespace {

constexpr int RATE = platform::PLAYER_RATE;
// One step of 16-bit audio, the capture's resolution.
constexpr double LSB16 = 1.0 / 32768.0;
// The picture's delay the show runs with, in ms and in samples, no less than
// the frame loop's longest look-ahead.
constexpr int PICTURE_DELAY_MS = 100;
constexpr int PICTURE_DELAY = PICTURE_DELAY_MS * RATE / 1000;

std::vector<float> readFloats(const std::string& path) {
    const kit::Bytes bytes = kit::readFile(path);
    std::vector<float> out(bytes.size() / sizeof(float));
    if (!out.empty())
        std::memcpy(out.data(), bytes.data(), out.size() * sizeof(float));
    return out;
}

size_t firstSound(const std::vector<float>& samples) {
    size_t i = 0;
    while (i < samples.size() && samples[i] == 0.0f)
        ++i;
    return i;
}

// Starts the show with the disk audio driver writing to audioPath and its
// heard-clock trace to tracePath; its own output goes to logPath. The
// child's process id.
pid_t startShow(const std::string& audioPath, const std::string& tracePath,
                const std::string& logPath) {
    pid_t pid = fork();
    if (pid == 0) {
        // A test killed by its time limit takes the show with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", audioPath.c_str(), 1);
        setenv("TUHKALA_HEARD_TRACE", tracePath.c_str(), 1);
        setenv("TUHKALA_SYNC_DELAY_MS", std::to_string(PICTURE_DELAY_MS).c_str(), 1);
        // Its exit leak check is the window tests' concern (and Mesa's driver
        // leaves blocks behind); here only the sound matters.
        std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
        setenv("ASAN_OPTIONS", (asan + ":detect_leaks=0").c_str(), 1);
        freopen(logPath.c_str(), "w", stdout);
        dup2(fileno(stdout), fileno(stderr));
        std::string show = std::string(TUHKALA_BINARY_DIR) + "/tuhkalademo";
        execl(show.c_str(), show.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Ends the show as a close request would (SDL turns SIGTERM into a quit
// event), or kills it when it does not end within a minute.
void stopShow(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 600 && waitpid(pid, nullptr, WNOHANG) != pid; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

size_t countLines(const std::string& path, const std::string& start) {
    const kit::Bytes bytes = kit::readFile(path);
    const std::string text(bytes.begin(), bytes.end());
    size_t count = 0;
    for (size_t at = 0; (at = text.find("\n" + start, at)) != std::string::npos; ++at)
        ++count;
    return count;
}

// The show's heard-clock trace: "callback NS SAMPLES LATENCY", "rendered
// SAMPLES", "jump NS FIRST_SAMPLE" and "position NS WORD AHEAD_NS" lines,
// from two threads, in the order the heard clock saw them.
struct Callback {
    uint64_t ns;
    int count, latency;
};
struct Position {
    uint64_t ns;
    uint32_t word;
    uint64_t aheadNs;
    size_t callbacks;  // callback lines before it
    uint64_t rendered; // samples rendered before it
};
struct HeardTrace {
    std::vector<Callback> callbacks; // in time order
    std::vector<Position> positions;
    bool jumped = false;
    uint64_t jumpSample = 0;
};

HeardTrace readTrace(const std::string& path) {
    HeardTrace trace;
    const kit::Bytes bytes = kit::readFile(path);
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    std::string kind;
    uint64_t rendered = 0;
    while (lines >> kind) {
        if (kind == "callback") {
            Callback c{};
            lines >> c.ns >> c.count >> c.latency;
            trace.callbacks.push_back(c);
        } else if (kind == "rendered") {
            lines >> rendered;
        } else if (kind == "position") {
            Position p{};
            lines >> p.ns >> p.word >> p.aheadNs;
            p.callbacks = trace.callbacks.size();
            p.rendered = rendered;
            trace.positions.push_back(p);
        } else if (kind == "jump") {
            uint64_t ns = 0;
            lines >> ns >> trace.jumpSample;
            trace.jumped = true;
        }
    }
    return trace;
}

} // namespace

TEST(LiveSound, StreamHandedToSdlIsTheOfflineRenderFromOrderZero) {
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "needs an X display (test.sh starts Xvfb)";
    const std::string dir = kit::scratchDir("live-sound");
    const std::string audioPath = dir + "/live.raw", logPath = dir + "/show.log";
    const std::string tracePath = dir + "/heard.trace";
    std::remove(audioPath.c_str());
    std::remove(tracePath.c_str());

    // The media load before the music starts (slowly under a sanitizer):
    // wait for the first sound, then let about three seconds of it play.
    pid_t show = startShow(audioPath, tracePath, logPath);
    ASSERT_GT(show, 0);
    bool sounding = false;
    for (int i = 0; i < 1200 && !sounding && waitpid(show, nullptr, WNOHANG) != show; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::vector<float> sofar = readFloats(audioPath);
        sounding = firstSound(sofar) < sofar.size();
    }
    if (sounding)
        std::this_thread::sleep_for(std::chrono::seconds(3));
    // A slow machine (a sanitizer build) draws few frames: play on, up to
    // 30 s more, until the scenes have asked for the position 120 times.
    for (int i = 0; sounding && i < 300 && countLines(tracePath, "position ") < 120 &&
                    waitpid(show, nullptr, WNOHANG) != show;
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stopShow(show);
    const std::vector<float> live = readFloats(audioPath);
    const kit::Bytes log = kit::readFile(logPath);
    ASSERT_TRUE(sounding) << "no sound reached SDL; the show said:\n"
                          << std::string(log.begin(), log.end());

    platform::OfflineModule offline;
    ASSERT_TRUE(offline.loadFile("tavara/amerikka.it", nullptr));
    offline.renderTo(live.size());
    const std::vector<float>& render = offline.samples();

    // Align by cross-correlation over one second from the module's first
    // sound, around where the first sounds of both streams put it.
    const size_t renderStart = firstSound(render);
    const long guess = long(firstSound(live)) - long(renderStart);
    const size_t window = RATE;
    ASSERT_GE(guess, 0);
    ASSERT_GE(live.size(), size_t(guess) + renderStart + 2048 + 2 * RATE);
    long lag = -1;
    double best = -1;
    for (long candidate = std::max(0L, guess - 2048); candidate <= guess + 2048; candidate++) {
        const float* a = &live[renderStart + candidate];
        const float* b = &render[renderStart];
        double dot = 0;
        for (size_t i = 0; i < window; ++i)
            dot += double(a[i]) * b[i];
        if (dot > best) {
            best = dot;
            lag = candidate;
        }
    }
    ASSERT_GE(lag, 0);
    const size_t length = live.size() - size_t(lag);
    const float* heard = &live[size_t(lag)];
    printf("the module starts %ld samples (%.1f ms) into the stream; %.1f s compared\n", lag,
           lag * 1000.0 / RATE, double(length) / RATE);

    // Before the module only silence: nothing of it played early or twice.
    EXPECT_EQ(firstSound(live), size_t(lag) + renderStart);
    // Every sample the same within 16-bit rounding (so the same level too): a
    // gap, a repeat or a click anywhere would break it.
    double worst = 0;
    size_t worstAt = 0;
    for (size_t i = 0; i < length; i++) {
        const double difference = std::fabs(double(heard[i]) - render[i]);
        if (difference > worst) {
            worst = difference;
            worstAt = i;
        }
    }
    EXPECT_LE(worst, LSB16) << "at " << double(worstAt) / RATE << " s of the module";

    // The heard position. The file starts with whatever SDL wrote while the
    // device was still paused, then holds every buffer of the trace's
    // callbacks; the module starts at the first sample after the jump.
    const HeardTrace trace = readTrace(tracePath);
    ASSERT_GT(trace.callbacks.size(), 100u);
    const int buffer = trace.callbacks[0].count;
    uint64_t handed = 0;
    for (const Callback& c : trace.callbacks) {
        ASSERT_EQ(c.count, buffer) << "SDL's disk driver asks for whole buffers";
        // No sound server: the latency is the device's buffer, and the
        // picture's delay.
        ASSERT_EQ(c.latency, buffer + PICTURE_DELAY);
        handed += uint64_t(c.count);
    }
    ASSERT_GE(live.size(), handed);
    const uint64_t paused = live.size() - handed;
    EXPECT_EQ(paused % uint64_t(buffer), 0u);
    ASSERT_TRUE(trace.jumped);
    EXPECT_EQ(trace.jumpSample + paused, uint64_t(lag)) << "the module starts at the jump";
    ASSERT_GE(trace.positions.size(), 60u);

    constexpr int64_t SLICE = platform::PLAYER_SLICE_SAMPLES;
    auto offlineWord = [&offline](int64_t sample) {
        return offline.positionAtSample(uint64_t(std::max<int64_t>(sample, 0)));
    };
    auto wordText = [](uint32_t word) {
        return std::to_string(word & 0xFFFF) + ":" + std::to_string(word >> 16);
    };
    // Each callback, starting the buffer from output sample base, tells
    // when output sample 0 was heard: at its start less base - latency
    // samples. The clock runs from the median of the last 31 such accounts
    // (the upper one of an even count).
    std::vector<double> referenceNs;
    {
        std::vector<double> accounts;
        uint64_t at = 0;
        for (const Callback& c : trace.callbacks) {
            accounts.push_back(double(c.ns) - (double(at) - c.latency) * 1e9 / RATE);
            at += uint64_t(c.count);
            std::vector<double> recent(accounts.end() - std::min<ptrdiff_t>(accounts.size(), 31),
                                       accounts.end());
            std::nth_element(recent.begin(), recent.begin() + recent.size() / 2, recent.end());
            referenceNs.push_back(recent[recent.size() / 2]);
        }
    }
    // The output sample heard aheadNs after the question, for a question
    // that came after callback k, which started the buffer from output
    // sample base: the samples played since the reference, where the output
    // cannot get further than the buffer handed over, less the latency, plus
    // what it plays meanwhile.
    auto heardSample = [&](const Position& p, size_t k, uint64_t base, uint64_t aheadNs) {
        const Callback& c = trace.callbacks[k];
        const int64_t played =
            int64_t(std::floor((double(p.ns + aheadNs) - referenceNs[k]) * RATE / 1e9));
        const int64_t aheadSamples = int64_t(aheadNs * RATE / 1000000000ull);
        return std::min(played, int64_t(base) + c.count + aheadSamples - c.latency);
    };
    // Where the start of the slice that holds output sample heardAt lies in
    // the module: each buffer is cut into slices from its start, and the
    // position is recorded as each slice begins. Past what was rendered when
    // asked, the newest slice's.
    auto moduleSample = [&](int64_t heardAt, uint64_t rendered) {
        heardAt = std::min(heardAt, int64_t(rendered) - 1);
        const int64_t sliceStart = heardAt / buffer * buffer + heardAt % buffer / SLICE * SLICE;
        return sliceStart - int64_t(trace.jumpSample);
    };
    size_t wrong = 0, telling = 0, tellingAhead = 0, capped = 0;
    uint64_t base = 0, longestAheadNs = 0;
    size_t counted = 0; // callbacks summed into base
    std::string firstWrong;
    for (const Position& p : trace.positions) {
        if (p.callbacks == 0)
            continue; // asked before any callback: nothing is playing
        // The latest callback before the question.
        for (; counted + 1 < p.callbacks; ++counted)
            base += uint64_t(trace.callbacks[counted].count);
        const Callback& c = trace.callbacks[p.callbacks - 1];
        ASSERT_GE(p.ns, c.ns) << "the trace's lines come in the clock's order";
        ASSERT_GE(p.rendered, base) << "a callback renders before the next one starts";
        ASSERT_LE(p.rendered, base + uint64_t(c.count));
        longestAheadNs = std::max(longestAheadNs, p.aheadNs);
        const int64_t heardAt = heardSample(p, p.callbacks - 1, base, p.aheadNs);
        capped += heardAt >= int64_t(p.rendered);
        const int64_t sample = moduleSample(heardAt, p.rendered);
        // The render knows the position on its own slice grid: the word at
        // the sample lies between its grid points on either side.
        const uint32_t early = offlineWord(sample), late = offlineWord(sample + SLICE - 1);
        if (p.word != early && p.word != late && !(sample < 0 && p.word == 0)) {
            if (wrong++ == 0)
                firstWrong = "at " + std::to_string(sample) + " samples of the module (" +
                             std::to_string(p.aheadNs / 1000000) + " ms ahead) the scenes read " +
                             wordText(p.word) + ", the render has " + wordText(early) + " to " +
                             wordText(late);
        }
        // Questions whose answer a buffer's error in the latency, or
        // ignoring the look-ahead, would change.
        if (sample >= buffer && offlineWord(sample) != offlineWord(sample - buffer))
            ++telling;
        if (offlineWord(sample) !=
            offlineWord(moduleSample(heardSample(p, p.callbacks - 1, base, 0), p.rendered)))
            ++tellingAhead;
    }
    printf("%zu positions asked, %zu of them within a buffer of a row change, %zu across one "
           "by their look-ahead (at most %.0f ms), %zu past the render\n",
           trace.positions.size(), telling, tellingAhead, double(longestAheadNs) / 1e6, capped);
    EXPECT_EQ(wrong, 0u) << firstWrong;
    EXPECT_GE(telling, 15u) << "too few questions near a row change to tell a wrong latency";
    // The live show draws ahead, no further than the frame loop's limit.
    EXPECT_GE(tellingAhead, 15u) << "too few questions looking across a row change to tell a "
                                    "wrong look-ahead";
    EXPECT_LE(longestAheadNs, uint64_t(PICTURE_DELAY_MS) * 1000000);
}
