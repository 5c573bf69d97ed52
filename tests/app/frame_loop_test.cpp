// The frame loop against a scripted backend: timing of frameTime, the order
// of a pass's steps, how messages, Escape and teardown end the show, and the
// clock across a wrap of the tick counter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/shell.h"
#include "music/music.h"
#include "tests/app/scripted_backend.h"

namespace {

struct Call {
    char row;
    float frameTime;
    int32_t t;
    int eventsTaken;
};

std::vector<Call> calls;
// Milliseconds each successive render call spends; past the end, none.
std::vector<uint32_t> renderCosts;

void record(char row, float frameTime) {
    scripted::State& s = scripted::state();
    calls.push_back({row, frameTime, static_cast<int32_t>(s.now - startTick), s.eventsTaken});
    const size_t n = calls.size() - 1;
    if (n < renderCosts.size())
        s.now += renderCosts[n];
}

void renderA(float frameTime) {
    record('A', frameTime);
}
void renderB(float frameTime) {
    record('B', frameTime);
}
void renderC(float frameTime) {
    record('C', frameTime);
}

const EffectEntry LONG_TABLE[] = {{"a", renderA, 0, 1000000}, {nullptr, nullptr, 0, 0}};

std::string rows() {
    std::string s;
    for (const Call& c : calls)
        s += c.row;
    return s;
}

class FrameLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        scripted::install();
        calls.clear();
        renderCosts.clear();
        // A position far from the start, so the loop's rewind shows.
        musicScriptPosition(3, 7);
    }
    void TearDown() override {
        platform::setBackend(nullptr);
        platform::clearPostedEvents();
    }
};

TEST_F(FrameLoop, FrameTimeIsTheMeanOfEarlierPassesWithoutMessagesOrPaint) {
    scripted::State& s = scripted::state();
    s.now = 5000;
    // Every pass takes one message costing 500 ms, which must not count;
    // the swap's 2 ms is inside the pass and does.
    for (int i = 0; i < 6; ++i)
        s.events.push_back({platform::Event::Other, 0, 0});
    s.eventCost = 500;
    s.swapCost = 2;
    s.escapeFromCall = 7;
    renderCosts = {10, 20, 33, 7, 0, 1};

    runFrameLoopWith(LONG_TABLE);

    ASSERT_EQ(rows(), "AAAAAA");
    // Passes took 12, 22, 35, 9, 2 and 3 ms.
    const float expected[] = {0.0f, 12.0f, 17.0f, 23.0f, 19.5f, 16.0f};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_FLOAT_EQ(calls[i].frameTime, expected[i]) << "pass " << i + 1;
    EXPECT_EQ(startTick, 5000u);
    // The schedule clock does see the message time: 500 ms of the first
    // message, then 12 + 500 per pass after it.
    EXPECT_EQ(calls[0].t, 500);
    EXPECT_EQ(calls[1].t, 500 + 12 + 500);
    // Three clock readings per pass (schedule time, pass start, pass end),
    // one at the start, none in the pass that Escape ends.
    EXPECT_EQ(s.tickReads, 1 + 3 * 6);
    EXPECT_EQ(s.swaps, 6);
    // The loop rewound the music to the start of order 0.
    EXPECT_EQ(musicOrder(), 0);
    EXPECT_EQ(musicRow(), 0);
}

TEST_F(FrameLoop, ScheduleTimeIsTheSameAcrossAWrapOfTheCounter) {
    EXPECT_EQ(platform::ticksBetween(0xFFFFFF00u, 0x00000100u), 0x200u);
    EXPECT_EQ(platform::ticksBetween(0x7FFFFFFFu, 0x80000001u), 2u);
    EXPECT_EQ(platform::ticksBetween(42u, 42u), 0u);

    scripted::State& s = scripted::state();
    s.now = 0xFFFFFFF0u; // wraps 16 ms into the show
    renderCosts.assign(20, 5);
    const EffectEntry table[] = {{"a", renderA, 0, 9},
                                 {"b", renderB, 10, 29},
                                 {"c", renderC, 30, 40},
                                 {nullptr, nullptr, 0, 0}};

    runFrameLoopWith(table);

    EXPECT_EQ(rows(), "AABBBBCCC");
    ASSERT_EQ(calls.size(), 9u);
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i].t, static_cast<int32_t>(5 * i));
    // The pass past the end draws nothing but still swaps, then ends.
    EXPECT_EQ(s.swaps, 10);
    EXPECT_EQ(s.tickReads, 1 + 3 * 10);
}

TEST_F(FrameLoop, EscapeHeldEndsThePassBeforeTheClockIsRead) {
    scripted::State& s = scripted::state();
    s.escapeFromCall = 3;
    renderCosts = {4, 4, 4, 4};

    runFrameLoopWith(LONG_TABLE);

    EXPECT_EQ(rows(), "AA");
    EXPECT_EQ(s.swaps, 2);
    EXPECT_EQ(s.tickReads, 1 + 3 * 2);
    EXPECT_EQ(s.releases, 0); // Escape ends the loop without a teardown
}

TEST_F(FrameLoop, QuitMessageEndsTheLoopBeforeDrawingOrSwapping) {
    scripted::State& s = scripted::state();
    s.events = {{platform::Event::Other, 0, 0},
                {platform::Event::Quit, 0, 0},
                {platform::Event::Other, 0, 0}};

    runFrameLoopWith(LONG_TABLE);

    EXPECT_EQ(rows(), "A");
    EXPECT_EQ(s.swaps, 1);
    EXPECT_EQ(s.eventsTaken, 2);
    EXPECT_EQ(s.tickReads, 1 + 3 * 1);
}

TEST_F(FrameLoop, OneMessageIsHandledPerPass) {
    scripted::State& s = scripted::state();
    s.events = {{platform::Event::Other, 0, 0},
                {platform::Event::Other, 0, 0},
                {platform::Event::Other, 0, 0}};
    s.escapeFromCall = 6;

    runFrameLoopWith(LONG_TABLE);

    ASSERT_EQ(rows(), "AAAAA");
    const int takenBefore[] = {1, 2, 3, 3, 3};
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(calls[i].eventsTaken, takenBefore[i]) << "pass " << i + 1;
}

TEST_F(FrameLoop, KeyPressEndsTheShowThroughDestroyAndQuit) {
    scripted::State& s = scripted::state();
    s.events = {{platform::Event::KeyDown, 0, 0}};

    runFrameLoopWith(LONG_TABLE);

    // Pass 1 takes the key and posts the destroy, and still draws. Pass 2
    // takes the destroy: teardown releases the context, so that pass neither
    // draws nor swaps. Pass 3 reads the quit.
    EXPECT_EQ(rows(), "A");
    EXPECT_EQ(s.swaps, 1);
    EXPECT_EQ(s.releases, 1);
    EXPECT_EQ(s.tickReads, 1 + 3 * 2);
    platform::Event left;
    EXPECT_FALSE(platform::takeEvent(&left));
}

TEST_F(FrameLoop, CloseRequestRunsTeardownTwiceAndEnds) {
    scripted::State& s = scripted::state();
    s.events = {{platform::Event::Close, 0, 0}, {platform::Event::Other, 0, 0}};

    runFrameLoopWith(LONG_TABLE);

    EXPECT_EQ(rows(), "");
    EXPECT_EQ(s.swaps, 0);
    EXPECT_EQ(s.releases, 2);
    // The second teardown's quit is still queued; the backend's event is not
    // reached because the first quit ended the loop.
    platform::Event left;
    ASSERT_TRUE(platform::takeEvent(&left));
    EXPECT_EQ(left.type, platform::Event::Quit);
    ASSERT_TRUE(platform::takeEvent(&left));
    EXPECT_EQ(left.type, platform::Event::Other);
    EXPECT_EQ(s.eventsTaken, 2);
}

TEST_F(FrameLoop, ScheduleOverAtTheFirstPassReturnsAfterOneSwap) {
    scripted::State& s = scripted::state();
    const EffectEntry empty[] = {{nullptr, nullptr, 0, 0}};

    runFrameLoopWith(empty);

    EXPECT_EQ(rows(), "");
    EXPECT_EQ(s.swaps, 1);
}

TEST(PostedEvents, ComeBeforeTheBackendsEventsInPostingOrder) {
    scripted::install();
    scripted::state().events = {{platform::Event::Resize, 320, 200}};
    platform::postEvent({platform::Event::Destroy, 0, 0});
    platform::postEvent({platform::Event::Quit, 0, 0});

    platform::Event e;
    ASSERT_TRUE(platform::takeEvent(&e));
    EXPECT_EQ(e.type, platform::Event::Destroy);
    ASSERT_TRUE(platform::takeEvent(&e));
    EXPECT_EQ(e.type, platform::Event::Quit);
    ASSERT_TRUE(platform::takeEvent(&e));
    EXPECT_EQ(e.type, platform::Event::Resize);
    EXPECT_EQ(e.width, 320);
    EXPECT_EQ(e.height, 200);
    EXPECT_FALSE(platform::takeEvent(&e));

    platform::postEvent({platform::Event::Quit, 0, 0});
    platform::clearPostedEvents();
    EXPECT_FALSE(platform::takeEvent(&e));
    platform::setBackend(nullptr);
}

TEST(PostedEvents, WithoutABackendOnlyPostedEventsExist) {
    platform::setBackend(nullptr);
    platform::clearPostedEvents();
    EXPECT_EQ(platform::tickCount(), 0u);
    EXPECT_FALSE(platform::escapeHeld());
    EXPECT_FALSE(platform::contextCurrent());
    platform::swapBuffers();
    platform::releaseContext();

    platform::Event e;
    EXPECT_FALSE(platform::takeEvent(&e));
    platform::postEvent({platform::Event::KeyDown, 0, 0});
    ASSERT_TRUE(platform::takeEvent(&e));
    EXPECT_EQ(e.type, platform::Event::KeyDown);
}

} // namespace
