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
    int order, row;
    char scene;
};
std::vector<Seen> seen;
std::vector<uint64_t> done;

template <char SCENE> void render(float frameTime) {
    seen.push_back({platform::virtualTicks(), frameTime, musicOrder(), musicRow(), SCENE});
}

const EffectEntry TABLE[] = {
    {"a", render<'a'>, 0, 999}, {"b", render<'b'>, 1000, 1500}, {nullptr, nullptr, 0, 0}};
const char* const SONG = TUHKALA_BINARY_DIR "/tavara/amerikka.it";

} // namespace

TEST(VirtualLoop, PassesRunAtFixedTimesAndEndWithTheSchedule) {
    std::string error;
    if (!platform::openOffscreen(32, 24, &error))
        GTEST_SKIP() << "no off-screen GL: " << error;
    struct Close {
        ~Close() { platform::closeOffscreen(); }
    } close;
    platform::OfflineModule music, reference;
    ASSERT_TRUE(music.loadFile(SONG, nullptr) && reference.loadFile(SONG, nullptr));
    auto frameDone = [](uint64_t pass) { done.push_back(pass); };
    ASSERT_EQ(runVirtualFrameLoop(TABLE, 60, 90, &music, frameDone), 90u);
    ASSERT_EQ(seen.size(), 90u);
    ASSERT_EQ(done.size(), 90u);
    std::set<int> rows;
    for (size_t n = 0; n < seen.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(done[n], n);
        EXPECT_EQ(seen[n].t, passTimeMs(n, 60));
        // Every pass lasted its frame period, so the mean over passes 0..n-1
        // is the time reached divided by the passes done.
        EXPECT_EQ(seen[n].frameTime, n == 0 ? 0.0f : static_cast<float>(double(seen[n].t) / n));
        EXPECT_EQ(seen[n].scene, seen[n].t < 1000 ? 'a' : 'b');
        const uint32_t word = reference.positionAtMs(seen[n].t);
        EXPECT_EQ(seen[n].order, static_cast<int>(word & 0xFFFF));
        EXPECT_EQ(seen[n].row, static_cast<int>(word >> 16));
        rows.insert(seen[n].row);
    }
    EXPECT_EQ(seen[0].order + seen[0].row, 0);
    EXPECT_GE(rows.size(), 3u) << "the music moves on during 1.5 s";
    EXPECT_FLOAT_EQ(seen[89].frameTime, 1483.0f / 89); // pass 89 runs at 1483 ms

    // 10 fps: passes at 0, 100, ... 1500 draw; the pass at 1600 finds no
    // scene, still swaps, and ends the loop.
    seen.clear();
    done.clear();
    EXPECT_EQ(runVirtualFrameLoop(TABLE, 10, 100000, &music, frameDone), 17u);
    EXPECT_EQ(seen.size(), 16u);
    EXPECT_EQ(seen.back().t, 1500u);
    EXPECT_EQ(done.size(), 17u);
    // A later loop stops exactly at its given pass, not cut short by anything
    // the one before left behind.
    seen.clear();
    EXPECT_EQ(runVirtualFrameLoop(TABLE, 25, 2, &music, nullptr), 2u);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].frameTime, 0.0f);
    EXPECT_EQ(seen[1].t, 40u);
}
