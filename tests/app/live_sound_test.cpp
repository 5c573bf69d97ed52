// The real sound path: the show binary runs on the test's display with SDL's
// disk audio driver, which writes every buffer the player hands to SDL into a
// file, and that stream must be the offline render of the module (the
// capture's sound) from order 0: the same samples within 16-bit rounding, at
// the same level, after nothing but silence.
//
// Test thread; runs the show from the build folder (where tavara/ is) on the
// DISPLAY that test.sh provides. Samples are mono floats at 44100 Hz.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
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

double rms(const float* samples, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(count));
}

// Starts the show with the disk audio driver writing to audioPath; its own
// output goes to logPath. The child's process id.
pid_t startShow(const std::string& audioPath, const std::string& logPath) {
    pid_t pid = fork();
    if (pid == 0) {
        // A test killed by its time limit takes the show with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", audioPath.c_str(), 1);
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

} // namespace

TEST(LiveSound, StreamHandedToSdlIsTheOfflineRenderFromOrderZero) {
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "needs an X display (test.sh starts Xvfb)";
    const std::string dir = kit::scratchDir("live-sound");
    const std::string audioPath = dir + "/live.raw", logPath = dir + "/show.log";
    std::remove(audioPath.c_str());

    // The media load before the music starts (slowly under a sanitizer):
    // wait for the first sound, then let about ten seconds of it play.
    pid_t show = startShow(audioPath, logPath);
    ASSERT_GT(show, 0);
    bool sounding = false;
    for (int i = 0; i < 1200 && !sounding && waitpid(show, nullptr, WNOHANG) != show; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::vector<float> sofar = readFloats(audioPath);
        sounding = firstSound(sofar) < sofar.size();
    }
    if (sounding)
        std::this_thread::sleep_for(std::chrono::seconds(10));
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
    ASSERT_GE(live.size(), size_t(guess) + renderStart + 2048 + 8 * RATE);
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
    const double correlation = best / (rms(heard + renderStart, window) *
                                       rms(&render[renderStart], window) * double(window));
    EXPECT_GT(correlation, 0.9999);

    // Before the module only silence: nothing of it played early or twice.
    EXPECT_EQ(firstSound(live), size_t(lag) + renderStart);
    // The same level, and every sample the same within 16-bit rounding: a
    // gap, a repeat or a click anywhere would break it.
    const double levelDb = 20 * std::log10(rms(heard, length) / rms(render.data(), length));
    EXPECT_LT(std::fabs(levelDb), 0.01);
    double worst = 0;
    size_t worstAt = 0;
    double residual = 0;
    for (size_t i = 0; i < length; i++) {
        double difference = std::fabs(double(heard[i]) - render[i]);
        residual += difference * difference;
        if (difference > worst) {
            worst = difference;
            worstAt = i;
        }
    }
    printf("largest difference %.3g at %.3f s; residual %.1f dB below the signal\n", worst,
           double(worstAt) / RATE,
           20 * std::log10(rms(render.data(), length) / std::sqrt(residual / double(length))));
    EXPECT_LE(worst, LSB16) << "at " << double(worstAt) / RATE << " s of the module";
}
