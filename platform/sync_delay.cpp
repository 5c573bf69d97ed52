// The injected delay of the picture or the sound (see sync_delay.h): the
// value, and the sound's delay line.
//
// setSyncDelay and syncDelayFromEnvironment on the main thread before the
// output runs; syncDelaySound on the audio thread. Milliseconds; samples.
#include "platform/sync_delay.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace platform {

namespace {

constexpr int LIMIT_MS = 1000;

int delayMs = 0;
// The sound's delay line: a ring as long as the delay, first all silence.
// What comes in now goes out once the ring has come round.
std::vector<float> line;
size_t lineAt = 0;

} // namespace

bool parseSyncDelay(const char* text, int* ms) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < -LIMIT_MS || value > LIMIT_MS)
        return false;
    *ms = static_cast<int>(value);
    return true;
}

void setSyncDelay(int ms, int rate) {
    delayMs = std::max(-LIMIT_MS, std::min(LIMIT_MS, ms));
    const int soundSamples =
        delayMs < 0 ? static_cast<int>(-static_cast<long>(delayMs) * rate / 1000) : 0;
    line.assign(static_cast<size_t>(std::max(0, soundSamples)), 0.0f);
    lineAt = 0;
}

int syncDelayFromEnvironment(int rate) {
    const char* text = std::getenv("TUHKALA_SYNC_DELAY_MS");
    int ms = 0;
    if (text && *text && !parseSyncDelay(text, &ms))
        std::fprintf(stderr,
                     "TUHKALA_SYNC_DELAY_MS=%s is not a whole number of milliseconds from %d to "
                     "%d; nothing is delayed\n",
                     text, -LIMIT_MS, LIMIT_MS);
    setSyncDelay(ms, rate);
    return static_cast<int>(static_cast<long>(syncDelayPictureMs()) * rate / 1000);
}

int syncDelayPictureMs() {
    return std::max(0, delayMs);
}

void syncDelaySound(float* samples, int count) {
    if (line.empty())
        return;
    for (int i = 0; i < count; ++i) {
        std::swap(samples[i], line[lineAt]);
        lineAt = lineAt + 1 == line.size() ? 0 : lineAt + 1;
    }
}

} // namespace platform
