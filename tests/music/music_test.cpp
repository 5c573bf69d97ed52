// The music layer: position queries over a scripted source, the heard-position
// arithmetic against a fake device clock, the real player on SDL's dummy
// driver, and the two failure lines.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "music/music.h"
#include "platform/module_player.h"

using platform::HeardClock;
using platform::positionWord;

namespace {

constexpr uint64_t SECOND = 1000000000ull;
constexpr int RATE = 44100;
constexpr int BUFFER = 1024;
constexpr int ROW_SAMPLES = 2205; // 50 ms

// A steady device: callback k at t0 + k * BUFFER / RATE, each rendering
// BUFFER samples in 44-sample slices whose words follow a 50 ms row grid
// (order 0; rows count up through the stream).
struct FakeDevice {
    HeardClock clock;
    uint64_t t0 = 5 * SECOND;
    int callbacks = 0;
    FakeDevice() {
        clock.configure(RATE, BUFFER);
        clock.reset(0);
    }
    uint64_t callbackTime(int k) const { return t0 + uint64_t(k) * BUFFER * SECOND / RATE; }
    void runCallback() {
        clock.callbackStarted(callbackTime(callbacks), BUFFER);
        for (int done = 0; done < BUFFER;) {
            const int n = std::min(platform::PLAYER_SLICE_SAMPLES, BUFFER - done);
            const uint64_t at = clock.renderedSamples();
            clock.recordSlice(
                positionWord(int(at / (64 * ROW_SAMPLES)), int(at / ROW_SAMPLES) % 64), n);
            done += n;
        }
        ++callbacks;
    }
    // Runs every callback due by time t.
    void advanceTo(uint64_t t) {
        while (callbackTime(callbacks) <= t)
            runCallback();
    }
};

// Death-test helper: the child's standard output goes to standard error,
// where EXPECT_EXIT can match it.
void stdoutToStderr() {
    std::fflush(stdout);
    dup2(2, 1);
}

} // namespace

TEST(HeardClock, ReportsTheSampleOneBufferBehindTheRender) {
    FakeDevice d;
    EXPECT_EQ(d.clock.positionAt(d.t0), 0u); // nothing rendered yet
    for (uint64_t ms : {100u, 1000u, 1234u, 3000u, 7777u}) {
        const uint64_t t = d.t0 + ms * 1000000ull;
        d.advanceTo(t);
        const uint64_t expected = ms * RATE / 1000 - BUFFER;
        EXPECT_NEAR(double(d.clock.heardSample(t)), double(expected), 1.0) << ms;
    }
    // At 1.000 s the listener hears sample 43076 (row 19), although 45056
    // samples (row 20) have been rendered: the row must not run a buffer ahead.
    FakeDevice e;
    const uint64_t t = e.t0 + SECOND;
    e.advanceTo(t);
    EXPECT_EQ(e.clock.renderedSamples(), 45056u);
    EXPECT_EQ(e.clock.positionAt(t), positionWord(0, 19));
    // Rows change within a slice (1 ms) of when their audio is heard: row 20
    // starts at sample 44100, heard at 44100 + 1024 samples after t0.
    const uint64_t rowStart = e.t0 + (44100ull + BUFFER) * SECOND / RATE;
    e.advanceTo(rowStart + SECOND / 100);
    EXPECT_EQ(e.clock.positionAt(rowStart - SECOND / 1000), positionWord(0, 19));
    EXPECT_EQ(e.clock.positionAt(rowStart + 2 * SECOND / 1000), positionWord(0, 20));
}

TEST(HeardClock, LateCallbackHoldsPositionAndTimeNeverRunsBackwards) {
    FakeDevice d;
    d.advanceTo(d.t0 + SECOND / 2);
    const uint64_t lastCallback = d.callbackTime(d.callbacks - 1);
    // The next callback is late (an underrun): the heard sample cannot pass
    // what the device was given.
    const uint64_t ceiling = d.clock.renderedSamples() - BUFFER;
    EXPECT_EQ(d.clock.heardSample(lastCallback + 10 * SECOND), ceiling);
    // An earlier query time after a later one reports no earlier sample.
    EXPECT_EQ(d.clock.heardSample(lastCallback), ceiling);
    // Before the first callback nothing has been heard.
    FakeDevice fresh;
    EXPECT_EQ(fresh.clock.heardSample(fresh.t0 + SECOND), 0u);
}

TEST(HeardClock, JumpIsReportedAtOnceAndOldAudioIsForgotten) {
    FakeDevice d;
    const uint64_t t = d.t0 + 2 * SECOND;
    d.advanceTo(t);
    ASSERT_EQ(d.clock.positionAt(t), positionWord(0, 39)); // 2 s - 1024 samples = row 39
    d.clock.jumpTo(positionWord(7, 0), t);
    EXPECT_EQ(d.clock.positionAt(t), positionWord(7, 0));
    // The slices rendered before the jump (rows 40 and on) are never reported,
    // even once their time comes.
    const uint64_t later = t + 20 * SECOND / 1000;
    EXPECT_EQ(d.clock.positionAt(later), positionWord(7, 0));
    // Slices rendered after the jump are reported when heard.
    d.clock.callbackStarted(later, BUFFER);
    d.clock.recordSlice(positionWord(7, 0), 44);
    d.clock.recordSlice(positionWord(7, 1), BUFFER - 44);
    const uint64_t heard = later + (44 + 10) * SECOND / RATE + SECOND / 1000;
    EXPECT_EQ(d.clock.positionAt(heard), positionWord(7, 0));
    d.clock.callbackStarted(later + BUFFER * SECOND / RATE, BUFFER);
    d.clock.recordSlice(positionWord(7, 2), BUFFER);
    EXPECT_EQ(d.clock.positionAt(later + (BUFFER + 100) * SECOND / RATE), positionWord(7, 1));
}

TEST(HeardClock, RingWrapsWithoutLosingTheRecentPast) {
    FakeDevice d;
    // 20 s of slices is more than the ring holds (8192 slices of 1 ms).
    const uint64_t t = d.t0 + 20 * SECOND;
    d.advanceTo(t);
    const uint64_t heard = 20 * RATE - BUFFER;
    EXPECT_EQ(d.clock.positionAt(t),
              positionWord(int(heard / (64 * ROW_SAMPLES)), int(heard / ROW_SAMPLES) % 64));
}

TEST(MusicPosition, ScriptedOrderAndRowAreSplitFromTheWord) {
    musicScriptPosition(45, 13);
    EXPECT_EQ(musicOrder(), 45);
    EXPECT_EQ(musicRow(), 13);
    EXPECT_EQ(musicSetPosition(3), 1);
    EXPECT_EQ(musicOrder(), 3);
    EXPECT_EQ(musicRow(), 0);
    musicScriptPosition(65535, 65535);
    EXPECT_EQ(musicOrder(), 65535);
    EXPECT_EQ(musicRow(), 65535);
}

TEST(MusicPosition, RowChangedReportsEachChangeOnce) {
    musicScriptPosition(4, 20);
    EXPECT_EQ(musicRowChanged(), 20); // first call: the current row
    EXPECT_EQ(musicRowChanged(), -1); // same row
    EXPECT_EQ(musicRowChanged(), -1);
    musicScriptPosition(4, 21);
    EXPECT_EQ(musicRowChanged(), 21);
    EXPECT_EQ(musicRowChanged(), -1);
    musicScriptPosition(5, 21); // a new order on the same row number counts
    EXPECT_EQ(musicRowChanged(), 21);
    EXPECT_EQ(musicRowChanged(), -1);
    musicScriptPosition(0, 0);
    EXPECT_EQ(musicRowChanged(), 0);
}

TEST(MusicPosition, CustomSourceIsAskedAfreshEachTime) {
    static uint32_t word = 0;
    static int calls = 0;
    static int lastOrder = -1;
    static const MusicSource source = {[] {
                                           ++calls;
                                           return word;
                                       },
                                       [](int order) {
                                           lastOrder = order;
                                           return 0;
                                       }};
    musicSetSource(&source);
    word = positionWord(12, 34);
    EXPECT_EQ(musicOrder(), 12);
    EXPECT_EQ(musicRow(), 34);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(musicSetPosition(0x10005), 0); // only the low 16 bits are an order
    EXPECT_EQ(lastOrder, 5);
    musicSetSource(nullptr);
}

TEST(MusicPlayer, SetPositionOnAPlayingModule) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(musicInit(), 0);
    musicPlay();
    // Waits (up to 5 s on a busy machine) until the position is seen to move.
    auto waitForRow = [](int order, int atLeast) {
        for (int i = 0; i < 500; ++i) {
            if (musicOrder() == order && musicRow() >= atLeast)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    EXPECT_TRUE(waitForRow(0, 2));
    EXPECT_EQ(musicSetPosition(3), 1);
    EXPECT_EQ(musicOrder(), 3);
    EXPECT_EQ(musicRow(), 0);
    EXPECT_TRUE(waitForRow(3, 2));
    EXPECT_EQ(musicOrder(), 3);
    EXPECT_LT(musicRow(), 63);
    // Back to the start, as the frame loop does when its clock starts.
    EXPECT_EQ(musicSetPosition(0), 1);
    EXPECT_EQ(musicOrder(), 0);
    EXPECT_EQ(musicRow(), 0);
    EXPECT_EQ(musicRowChanged(), 0);
    EXPECT_TRUE(waitForRow(0, 1));
    EXPECT_EQ(musicOrder(), 0);
    // An order past the end is refused and the position stays.
    EXPECT_EQ(musicSetPosition(53), 0);
    EXPECT_EQ(musicOrder(), 0);
}

TEST(MusicFailureDeathTest, MissingModuleEndsWithCantPlayTheFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char dir[] = "/tmp/tuhkala-music-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    EXPECT_EXIT(
        {
            stdoutToStderr();
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            if (chdir(dir) != 0)
                std::abort();
            musicInit();
        },
        testing::ExitedWithCode(1), "^Error\\(2\\): Can't play the file\n$");
    rmdir(dir);
}

TEST(MusicFailureDeathTest, UnopenableDeviceEndsWithCantInitializeDevice) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            stdoutToStderr();
            setenv("SDL_AUDIODRIVER", "nonexistent", 1);
            musicInit();
        },
        testing::ExitedWithCode(1), "^Error\\(3\\): Can't initialize device\n$");
}
