// The shell's frame loop under the capture's virtual clock: pass times,
// frameTime, the music position each pass sees, and how the loop ends.
#include <gtest/gtest.h>

#include <set>

#include "app/shell.h"
#include "music/music.h"
#include "platform/offline_module.h"
#include "platform/offscreen.h"
#include "tools/capture_run.h"

namespace {

struct Seen {
    uint32_t t;
    float frameTime;
    int order;
    int row;
    char scene;
};
std::vector<Seen> seen;
std::vector<uint64_t> done;

void record(char scene, float frameTime) {
    seen.push_back({platform::virtualTicks(), frameTime, musicOrder(), musicRow(), scene});
}
void renderA(float frameTime) {
    record('a', frameTime);
}
void renderB(float frameTime) {
    record('b', frameTime);
}
void frameDone(uint64_t pass) {
    done.push_back(pass);
}

const EffectEntry TABLE[] = {
    {"a", renderA, 0, 999}, {"b", renderB, 1000, 1500}, {nullptr, nullptr, 0, 0}};

class VirtualLoop : public ::testing::Test {
  protected:
    platform::OfflineModule music;

    void SetUp() override {
        std::string error;
        if (!platform::openOffscreen(32, 24, &error))
            GTEST_SKIP() << "no off-screen GL: " << error;
        ASSERT_TRUE(music.loadFile(TUHKALA_BINARY_DIR "/tavara/amerikka.it", nullptr));
        seen.clear();
        done.clear();
    }
    void TearDown() override { platform::closeOffscreen(); }
};

} // namespace

TEST_F(VirtualLoop, PassesRunAtFixedTimesWithTheMeanAsFrameTime) {
    ASSERT_EQ(runVirtualFrameLoop(TABLE, 60, 90, &music, frameDone), 90u);
    ASSERT_EQ(seen.size(), 90u);
    ASSERT_EQ(done.size(), 90u);
    platform::OfflineModule reference;
    ASSERT_TRUE(reference.loadFile(TUHKALA_BINARY_DIR "/tavara/amerikka.it", nullptr));
    std::set<int> rows;
    for (size_t n = 0; n < seen.size(); ++n) {
        EXPECT_EQ(done[n], n);
        EXPECT_EQ(seen[n].t, passTimeMs(n, 60)) << n;
        // Every pass lasted its frame period, so the mean over passes 0..n-1
        // is the time reached divided by the passes done.
        const float expected =
            n == 0 ? 0.0f : static_cast<float>(static_cast<double>(passTimeMs(n, 60)) / n);
        EXPECT_EQ(seen[n].frameTime, expected) << n;
        EXPECT_EQ(seen[n].scene, seen[n].t < 1000 ? 'a' : 'b') << n;
        const uint32_t word = reference.positionAtMs(seen[n].t);
        EXPECT_EQ(seen[n].order, static_cast<int>(word & 0xFFFF)) << n;
        EXPECT_EQ(seen[n].row, static_cast<int>(word >> 16)) << n;
        rows.insert(seen[n].row);
    }
    EXPECT_EQ(seen[0].order, 0);
    EXPECT_EQ(seen[0].row, 0);
    EXPECT_GE(rows.size(), 3u) << "the music moves on during 1.5 s";
    // Pass 89 runs at floor(89000 / 60) = 1483 ms.
    EXPECT_FLOAT_EQ(seen[89].frameTime, 1483.0f / 89);
}

TEST_F(VirtualLoop, TheScheduleRunningOutEndsTheLoopAndLeavesNoQuitBehind) {
    // 10 fps: passes at 0, 100, ... 1500 draw; the pass at 1600 finds no
    // scene, still swaps, and ends the loop.
    EXPECT_EQ(runVirtualFrameLoop(TABLE, 10, 100000, &music, frameDone), 17u);
    EXPECT_EQ(seen.size(), 16u);
    EXPECT_EQ(seen.back().t, 1500u);
    EXPECT_EQ(done.size(), 17u);

    // Stopping at a given pass ends exactly there, and a second loop in the
    // same process is not cut short by anything the first one left.
    seen.clear();
    EXPECT_EQ(runVirtualFrameLoop(TABLE, 10, 3, &music, nullptr), 3u);
    EXPECT_EQ(seen.size(), 3u);
    seen.clear();
    EXPECT_EQ(runVirtualFrameLoop(TABLE, 25, 1, &music, nullptr), 1u);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].frameTime, 0.0f);
}
