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
#include "platform/sync_delay.h"

using platform::positionWord;

namespace {

constexpr uint64_t SECOND = 1000000000ull, MS = SECOND / 1000;
constexpr int RATE = 44100, BUFFER = 1024, ROW_SAMPLES = 2205; // 50 ms rows

uint32_t wordAtSample(uint64_t at) {
    return positionWord(int(at / (64 * ROW_SAMPLES)), int(at / ROW_SAMPLES) % 64);
}

// A steady device: callback k at t0 + k * BUFFER / RATE, each rendering
// BUFFER samples in 1 ms slices whose words follow the 50 ms row grid.
struct FakeDevice {
    platform::HeardClock clock;
    const uint64_t t0 = 5 * SECOND;
    int callbacks = 0;
    FakeDevice() {
        clock.configure(RATE, BUFFER);
        clock.reset(0);
    }
    uint64_t callbackTime(int k) const { return t0 + uint64_t(k) * BUFFER * SECOND / RATE; }
    // Runs every callback due by time t.
    void advanceTo(uint64_t t) {
        for (; callbackTime(callbacks) <= t; ++callbacks) {
            clock.callbackStarted(callbackTime(callbacks), BUFFER);
            for (int done = 0; done < BUFFER; done += platform::PLAYER_SLICE_SAMPLES)
                clock.recordSlice(wordAtSample(clock.renderedSamples()),
                                  std::min(platform::PLAYER_SLICE_SAMPLES, BUFFER - done));
        }
    }
};

} // namespace

TEST(HeardClock, ReportsWhatIsHeardOneBufferBehindTheRender) {
    FakeDevice d;
    EXPECT_EQ(d.clock.heardSample(d.t0 + SECOND), 0u); // nothing rendered yet
    // 20 s of 1 ms slices is more than the ring holds: the recent past stays.
    for (uint64_t ms : {100u, 1234u, 7777u, 20000u}) {
        d.advanceTo(d.t0 + ms * MS);
        const uint64_t heard = ms * RATE / 1000 - BUFFER;
        EXPECT_NEAR(double(d.clock.heardSample(d.t0 + ms * MS)), heard, 1.0) << ms;
        EXPECT_EQ(d.clock.positionAt(d.t0 + ms * MS), wordAtSample(heard)) << ms;
    }
    // A late callback (an underrun): the heard sample cannot pass what the
    // device was given, and an earlier query after a later one reports no
    // earlier sample.
    const uint64_t lastCallback = d.callbackTime(d.callbacks - 1);
    const uint64_t ceiling = d.clock.renderedSamples() - BUFFER;
    EXPECT_EQ(d.clock.heardSample(lastCallback + 10 * SECOND), ceiling);
    EXPECT_EQ(d.clock.heardSample(lastCallback), ceiling);

    // Rows change within a slice (1 ms) of when their audio is heard: row 20
    // starts at sample 44100, heard 1024 samples later, while the render is
    // already a buffer ahead.
    FakeDevice e;
    const uint64_t rowStart = e.t0 + (44100ull + BUFFER) * SECOND / RATE;
    e.advanceTo(rowStart + 10 * MS);
    EXPECT_EQ(e.clock.positionAt(rowStart - MS), positionWord(0, 19));
    EXPECT_EQ(e.clock.positionAt(rowStart + 2 * MS), positionWord(0, 20));
}

TEST(HeardClock, JumpIsReportedAtOnceAndOldAudioIsForgotten) {
    FakeDevice d;
    const uint64_t t = d.t0 + 2 * SECOND;
    d.advanceTo(t);
    ASSERT_EQ(d.clock.positionAt(t), positionWord(0, 39)); // 2 s - 1024 samples
    d.clock.jumpTo(positionWord(7, 0), t);
    // The slices rendered before the jump (rows 40 and on) are never
    // reported, even once their time comes; those after it are, when heard.
    const uint64_t later = t + 20 * MS;
    EXPECT_EQ(d.clock.positionAt(t), positionWord(7, 0));
    EXPECT_EQ(d.clock.positionAt(later), positionWord(7, 0));
    d.clock.callbackStarted(later, BUFFER);
    d.clock.recordSlice(positionWord(7, 0), 44);
    d.clock.recordSlice(positionWord(7, 1), BUFFER - 44);
    EXPECT_EQ(d.clock.positionAt(later + (44 + 10) * SECOND / RATE + MS), positionWord(7, 0));
    d.clock.callbackStarted(later + BUFFER * SECOND / RATE, BUFFER);
    d.clock.recordSlice(positionWord(7, 2), BUFFER);
    EXPECT_EQ(d.clock.positionAt(later + (BUFFER + 100) * SECOND / RATE), positionWord(7, 1));
}

TEST(SyncDelay, ValuesSoundDelayLineAndPictureDelayOnTheHeardClock) {
    int ms = 7;
    EXPECT_TRUE(platform::parseSyncDelay("40", &ms) && ms == 40);
    EXPECT_TRUE(platform::parseSyncDelay("-1000", &ms) && ms == -1000);
    for (const char* bad : {"", "4o", "40 ", "1001", "-1001", "1e2", "99999999999999999999"}) {
        ms = 7;
        EXPECT_FALSE(platform::parseSyncDelay(bad, &ms)) << bad;
        EXPECT_EQ(ms, 7) << bad;
    }
    // From the environment: a picture delay in samples for the heard clock;
    // a value that cannot be read is said and ignored.
    setenv("TUHKALA_SYNC_DELAY_MS", "25", 1);
    EXPECT_EQ(platform::syncDelayFromEnvironment(RATE), 1102);
    EXPECT_EQ(platform::syncDelayPictureMs(), 25);
    setenv("TUHKALA_SYNC_DELAY_MS", "soon", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::syncDelayFromEnvironment(RATE), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "TUHKALA_SYNC_DELAY_MS=soon is not a whole number of milliseconds from -1000 to "
              "1000; nothing is delayed\n");
    EXPECT_EQ(platform::syncDelayPictureMs(), 0);
    unsetenv("TUHKALA_SYNC_DELAY_MS");

    // A sound delayed by 10 ms leaves the player 441 samples late, silence
    // first, whatever the buffers' sizes; the picture is not delayed.
    std::vector<float> in(5000), out;
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = float(i + 1);
    for (int delay : {-10, 40, 0}) {
        platform::setSyncDelay(delay, RATE);
        out = in;
        size_t at = 0;
        for (size_t piece : {1, 7, 440, 1024, 3528}) {
            platform::syncDelaySound(&out[at], int(piece));
            at += piece;
        }
        const size_t late = delay < 0 ? 441 : 0;
        EXPECT_EQ(platform::syncDelayPictureMs(), delay > 0 ? delay : 0);
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], i < late ? 0.0f : in[i - late]) << delay << " " << i;
    }

    // A picture delayed by 40 ms is the heard clock taking the output to
    // hold 40 ms more: every position is reported 40 ms later.
    FakeDevice plain, delayed;
    delayed.clock.configure(RATE, BUFFER + 40 * RATE / 1000);
    for (uint64_t at : {700 * MS, 2345 * MS, 9000 * MS})
        for (uint64_t t = at; t < at + 60 * MS; t += 5 * MS) {
            plain.advanceTo(plain.t0 + t);
            delayed.advanceTo(delayed.t0 + t + 40 * MS);
            EXPECT_NEAR(double(delayed.clock.heardSample(delayed.t0 + t + 40 * MS)),
                        double(plain.clock.heardSample(plain.t0 + t)), 1.0);
            EXPECT_EQ(delayed.clock.positionAt(delayed.t0 + t + 40 * MS),
                      plain.clock.positionAt(plain.t0 + t));
        }
}

TEST(MusicPosition, ScriptedWordAndRowChanges) {
    musicScriptPosition(65535, 65535); // both halves of the word, in full
    EXPECT_EQ(musicOrder(), 65535);
    EXPECT_EQ(musicRow(), 65535);
    EXPECT_EQ(musicSetPosition(3), 1);
    EXPECT_EQ(musicOrder(), 3);
    EXPECT_EQ(musicRow(), 0);
    // The first call reports the current row, then -1 until the position
    // changes; a new order on the same row number counts as a change.
    const int script[][3] = {{4, 20, 20}, {4, 20, -1}, {4, 21, 21}, {4, 21, -1},
                             {5, 21, 21}, {5, 21, -1}, {0, 0, 0}};
    for (const auto& step : script) {
        musicScriptPosition(step[0], step[1]);
        EXPECT_EQ(musicRowChanged(), step[2]) << step[0] << ":" << step[1];
    }
}

TEST(MusicPosition, CustomSourceIsAskedAfreshEachTimeWithItsUserPointer) {
    struct Script {
        uint32_t word;
        int calls, lastOrder;
    } script = {positionWord(12, 34), 0, -1};
    const MusicSource source = {
        [](void* user) {
            Script* s = static_cast<Script*>(user);
            return ++s->calls, s->word;
        },
        [](void* user, int order) { return static_cast<Script*>(user)->lastOrder = order, 0; },
        &script};
    musicSetSource(&source);
    EXPECT_EQ(musicOrder(), 12);
    EXPECT_EQ(musicRow(), 34);
    EXPECT_EQ(script.calls, 2);
    EXPECT_EQ(musicSetPosition(0x10005), 0); // only the low 16 bits are an order
    EXPECT_EQ(script.lastOrder, 5);
    musicSetSource(nullptr);
}

TEST(MusicPlayer, SetPositionOnAPlayingModule) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(musicInit(), 0);
    // Loaded, the module stays at its start until it is told to play.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(musicOrder() * 100 + musicRow(), 0);
    musicPlay();
    // Waits (up to 5 s on a busy machine) until the position is seen to move.
    auto reaches = [](int order, int row) {
        for (int i = 0; i < 500 && !(musicOrder() == order && musicRow() >= row); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return musicOrder() == order && musicRow() >= row;
    };
    EXPECT_TRUE(reaches(0, 2));
    for (int order : {3, 0}) {
        // The jump is reported at once, then playback goes on from there.
        EXPECT_EQ(musicSetPosition(order), 1);
        EXPECT_EQ(musicOrder(), order);
        EXPECT_EQ(musicRow(), 0);
        EXPECT_EQ(musicRowChanged(), 0);
        EXPECT_TRUE(reaches(order, 2)) << order;
        EXPECT_EQ(musicOrder(), order);
    }
    // An order past the end is refused and the position stays.
    EXPECT_EQ(musicSetPosition(53), 0);
    EXPECT_EQ(musicOrder(), 0);
}

TEST(MusicFailureDeathTest, FailuresPrintTheirLineAndExitWithStatus1) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char dir[] = "/tmp/tuhkala-music-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    // The child's standard output goes to standard error, where EXPECT_EXIT
    // matches it. A missing module, then a driver that cannot open.
    for (const char* driver : {"dummy", "nonexistent"}) {
        const bool missing = driver[0] == 'd';
        EXPECT_EXIT(
            {
                std::fflush(stdout);
                dup2(2, 1);
                setenv("SDL_AUDIODRIVER", driver, 1);
                if (missing && chdir(dir) != 0)
                    std::abort();
                musicInit();
            },
            testing::ExitedWithCode(1),
            missing ? "^Error\\(2\\): Can't play the file\n$"
                    : "^Error\\(3\\): Can't initialize device\n$");
    }
    rmdir(dir);
}
