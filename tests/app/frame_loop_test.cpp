// The frame loop against a scripted backend: the timing of frameTime, how
// messages, Escape and teardown end the show, the clock across a wrap of the
// tick counter, and the posted-message queue.
//
// Main thread of the test process. Ticks are milliseconds.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "app/shell.h"
#include "music/music.h"
#include "platform/module_player.h"

namespace {

using platform::Event;

// The scripted window system: a clock that moves only when the test, a taken
// message, a swap or a render call moves it; Escape goes down at a chosen
// call (by default late enough that a loop that never ends fails instead of
// hanging).
struct Script {
    uint32_t now = 0, eventCost = 0, swapCost = 0;
    std::deque<Event> events;
    int tickReads = 0, eventsTaken = 0, escapeFromCall = 1000, escapeCalls = 0;
    int swaps = 0, releases = 0;
    bool current = true;
    std::vector<uint32_t> renderCosts; // per successive render call
    std::string rows;                  // which callback each render call was
    std::vector<float> frameTimes;
    std::vector<int32_t> times;     // schedule time of each render call
    std::vector<int> takenAtRender; // messages taken before each render call
} s;

const platform::Backend BACKEND = {
    [] { return ++s.tickReads, s.now; },
    [](Event* out) {
        if (s.events.empty())
            return false;
        *out = s.events.front();
        s.events.pop_front();
        ++s.eventsTaken;
        s.now += s.eventCost;
        return true;
    },
    [] { return ++s.escapeCalls >= s.escapeFromCall; },
    [] { ++s.swaps, s.now += s.swapCost; },
    [] { return s.current; },
    [] { ++s.releases, s.current = false; },
};

void record(char row, float frameTime) {
    const size_t n = s.rows.size();
    s.rows += row;
    s.frameTimes.push_back(frameTime);
    s.times.push_back(static_cast<int32_t>(s.now - startTick));
    s.takenAtRender.push_back(s.eventsTaken);
    if (n < s.renderCosts.size())
        s.now += s.renderCosts[n];
}
// A scene's render call, recorded as Row.
template <char Row> void render(float t) {
    record(Row, t);
}

const EffectEntry LONG_TABLE[] = {{"a", render<'A'>, 0, 1000000}, {nullptr, nullptr, 0, 0}};

// What a run left: the callbacks called, swaps, releases, clock readings,
// messages taken, and the types of the events still queued (emptying it).
std::string tally() {
    std::string text = s.rows + " swaps " + std::to_string(s.swaps) + " releases " +
                       std::to_string(s.releases) + " reads " + std::to_string(s.tickReads) +
                       " taken " + std::to_string(s.eventsTaken) + " left";
    for (Event e; platform::takeEvent(&e);)
        text += " " + std::to_string(e.type);
    return text;
}

class FrameLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        s = Script();
        platform::clearPostedEvents();
        platform::setBackend(&BACKEND);
        musicScriptPosition(3, 7); // far from the start, so the loop's rewind shows
    }
    void TearDown() override {
        platform::setBackend(nullptr);
        platform::clearPostedEvents();
    }
};

TEST_F(FrameLoop, FrameTimeIsTheMeanOfEarlierPassesWithoutMessages) {
    s.now = 5000;
    // Every pass takes one message costing 500 ms, which must not count; the
    // swap's 2 ms is inside the pass and does. Escape ends the seventh pass,
    // before its clock readings and without a teardown.
    s.events.assign(6, {Event::Other, 0, 0});
    s.eventCost = 500;
    s.swapCost = 2;
    s.escapeFromCall = 7;
    s.renderCosts = {10, 20, 33, 7, 0, 1};
    runFrameLoopWith(LONG_TABLE);
    EXPECT_EQ(tally(), "AAAAAA swaps 6 releases 0 reads 19 taken 6 left");
    // Passes took 12, 22, 35, 9, 2 and 3 ms; the schedule clock sees the
    // message time.
    EXPECT_EQ(s.frameTimes, std::vector<float>({0.0f, 12.0f, 17.0f, 23.0f, 19.5f, 16.0f}));
    EXPECT_EQ(startTick, 5000u);
    EXPECT_EQ(s.times[1], 500 + 12 + 500);
    EXPECT_EQ(musicOrder() * 100 + musicRow(), 0) << "the music starts again with the loop";
}

TEST_F(FrameLoop, AStallIsLeftOutOfTheMeanAndRunsUnderASecondAreUnchanged) {
    const struct {
        std::vector<uint32_t> passes; // ms each pass takes
        std::vector<float> frameTimes;
        int32_t lastTime; // schedule time of the last pass
    } cases[] = {
        // A 10 s stall (a hidden page, a stopped process) between ordinary
        // passes: the passes after it get the mean they would have had.
        {{16, 18, 16, 18, 10000, 16, 18},
         {0.0f, 16.0f, 17.0f, float(50.0 / 3), 17.0f, 17.0f, float(84.0 / 5)},
         10084},
        // Passes under a second all count, however uneven.
        {{20, 999, 20, 5}, {0.0f, 20.0f, 509.5f, float(1039.0 / 3)}, 1039},
        // A machine that turns slow for good: the first long pass is taken
        // for a stall, the next ones count.
        {{20, 20, 1500, 1500, 1500}, {0.0f, 20.0f, 20.0f, 20.0f, float(1540.0 / 3)}, 3040},
        // Nothing to compare the first pass with but the second.
        {{1200, 20, 20}, {0.0f, 0.0f, 20.0f}, 1220},
    };
    for (const auto& c : cases) {
        SetUp();
        s.renderCosts = c.passes;
        s.escapeFromCall = static_cast<int>(c.passes.size()) + 1;
        runFrameLoopWith(LONG_TABLE);
        EXPECT_EQ(s.frameTimes, c.frameTimes) << c.passes.size() << " passes";
        // The schedule follows the wall clock, stalls included.
        EXPECT_EQ(s.times.back(), c.lastTime);
    }
}

TEST_F(FrameLoop, ScheduleTimeIsTheSameAcrossAWrapOfTheCounter) {
    EXPECT_EQ(platform::ticksBetween(0xFFFFFF00u, 0x00000100u), 0x200u);
    s.now = 0xFFFFFFF0u; // wraps 16 ms into the show
    s.renderCosts.assign(20, 5);
    const EffectEntry table[] = {{"a", render<'A'>, 0, 9},
                                 {"b", render<'B'>, 10, 29},
                                 {"c", render<'C'>, 30, 40},
                                 {nullptr, nullptr, 0, 0}};
    runFrameLoopWith(table);
    // The pass past the end draws nothing but still swaps, then ends.
    EXPECT_EQ(tally(), "AABBBBCCC swaps 10 releases 0 reads 31 taken 0 left");
    EXPECT_EQ(s.times, std::vector<int32_t>({0, 5, 10, 15, 20, 25, 30, 35, 40}));
}

TEST_F(FrameLoop, MessagesOnePerPassAndHowEachEndsTheShow) {
    const std::string quit = std::to_string(Event::Quit), other = std::to_string(Event::Other);
    const struct {
        std::vector<Event> events;
        std::string gives;
    } cases[] = {
        // A quit ends the loop before drawing or swapping.
        {{{Event::Other, 0, 0}, {Event::Other, 0, 0}, {Event::Quit, 0, 0}, {Event::Other, 0, 0}},
         "AA swaps 2 releases 0 reads 7 taken 3 left " + other},
        // Pass 1 takes the key, posts the destroy and still draws; pass 2 takes
        // the destroy, whose teardown releases the context, so it neither
        // draws nor swaps; pass 3 reads the quit.
        {{{Event::KeyDown, 0, 0}}, "A swaps 1 releases 1 reads 7 taken 1 left"},
        // A close request tears down twice; the first quit ends the loop, the
        // second is still queued ahead of the backend's own event.
        {{{Event::Close, 0, 0}, {Event::Other, 0, 0}},
         " swaps 0 releases 2 reads 4 taken 1 left " + quit + " " + other},
    };
    for (const auto& c : cases) {
        SetUp();
        s.events.assign(c.events.begin(), c.events.end());
        runFrameLoopWith(LONG_TABLE);
        EXPECT_EQ(tally(), c.gives);
    }
    s = Script();
    s.events = {{Event::Other, 0, 0}, {Event::Other, 0, 0}};
    s.escapeFromCall = 3;
    runFrameLoopWith(LONG_TABLE);
    EXPECT_EQ(s.takenAtRender, std::vector<int>({1, 2}));
}

// Music whose output hears order 0 at a chosen tick: each question takes the
// scripted clock 4 ms on, as a pass that only waits would.
uint32_t heardAt = 0;
const MusicSource HEARD_LATER = {[](void*) { return platform::positionWord(0, 0); },
                                 [](void*, int) { return 1; },
                                 [](void*) {
                                     const int ms = static_cast<int>(heardAt - s.now);
                                     s.now += 4;
                                     return ms;
                                 },
                                 nullptr, false};

TEST_F(FrameLoop, ScheduleStartsWhenOrderZeroIsHeard) {
    musicSetSource(&HEARD_LATER);
    // Heard 30 ms after the rewind: the passes until then take their message
    // and test Escape, but draw, swap and count nothing; show time 0 is the
    // heard tick, and the first pass drawn gets frameTime 0.
    s.now = 1000;
    heardAt = 1030;
    s.events = {{Event::Other, 0, 0}, {Event::Other, 0, 0}};
    s.renderCosts = {10, 6};
    s.escapeFromCall = 11;
    runFrameLoopWith(LONG_TABLE);
    EXPECT_EQ(startTick, 1030u);
    EXPECT_EQ(s.rows, "AAA");
    EXPECT_EQ(s.swaps, 3);
    EXPECT_EQ(s.eventsTaken, 2);
    EXPECT_EQ(s.takenAtRender, std::vector<int>({2, 2, 2}));
    EXPECT_EQ(s.times, std::vector<int32_t>({6, 16, 22}));
    EXPECT_EQ(s.frameTimes, std::vector<float>({0.0f, 10.0f, 8.0f}));

    // Heard 25 ms before the loop asked (a slow start-up): the clock starts
    // in the past and the first pass draws at once.
    SetUp();
    musicSetSource(&HEARD_LATER);
    s.now = 5000;
    heardAt = 4975;
    s.escapeFromCall = 2;
    runFrameLoopWith(LONG_TABLE);
    EXPECT_EQ(startTick, 4975u);
    EXPECT_EQ(s.times, std::vector<int32_t>({29}));

    // Never heard: the loop waits, without ending, until Escape is held.
    SetUp();
    musicSetSource(&HEARD_LATER);
    heardAt = 1u << 30;
    s.escapeFromCall = 50;
    runFrameLoopWith(LONG_TABLE);
    EXPECT_EQ(tally(), " swaps 0 releases 0 reads 50 taken 0 left");
    musicSetSource(nullptr);
}

// Music from a sound device that runs 4 % fast against the tick counter and
// heard order 0 at tick 1000; at tick 1500 its clock wavers 25 ms back.
const MusicSource FAST_DEVICE = {
    [](void*) { return platform::positionWord(0, 0); }, [](void*, int) { return 1; },
    [](void*) {
        const int heardMs =
            static_cast<int>((int64_t(s.now) - 1000) * 104 / 100 - (s.now == 1500 ? 25 : 0));
        return -heardMs;
    },
    nullptr, true};

TEST_F(FrameLoop, ScheduleRunsOnTheHeardClockOfASoundDevice) {
    const EffectEntry table[] = {
        {"a", render<'A'>, 0, 499}, {"b", render<'B'>, 500, 10000}, {nullptr, nullptr, 0, 0}};
    musicSetSource(&FAST_DEVICE);
    s.now = 1000;
    s.renderCosts.assign(60, 10);
    s.escapeFromCall = 53;
    runFrameLoopWith(table);
    // Pass k starts at tick 1000 + 10 k, heard 10.4 k ms: "b" from pass 49
    // (509 ms), where the tick counter would say 490 ms. The wavering pass
    // keeps the time of the pass before, and its scene.
    EXPECT_EQ(s.rows, std::string(49, 'A') + "BBB");
    ASSERT_EQ(s.times.size(), 52u);
    EXPECT_EQ(s.times[48], 499);
    EXPECT_EQ(s.times[49], 509);
    EXPECT_EQ(s.times[50], 509);
    EXPECT_EQ(s.times[51], 530);
    // startTick stays the tick when order 0 was heard, by the device's clock.
    EXPECT_EQ(startTick, 1510u - 530u);
    musicSetSource(nullptr);
}

// The live show draws each pass for one and a half recent passes ahead:
// with 10 ms passes, the next row (from 101 ms) is drawn from the pass that
// starts at 90 ms (its time 105), two passes before the loop that does not
// draw ahead gets there (110). The first pass, with no pass before it, draws
// the present.
TEST_F(FrameLoop, DrawingAheadLeadsByOneAndAHalfPasses) {
    const EffectEntry table[] = {
        {"a", render<'A'>, 0, 100}, {"b", render<'B'>, 101, 1000}, {nullptr, nullptr, 0, 0}};
    for (bool ahead : {false, true}) {
        SetUp();
        s.renderCosts.assign(20, 10);
        s.escapeFromCall = 14;
        runFrameLoopWith(table, ahead);
        EXPECT_EQ(s.rows, ahead ? "AAAAAAAAABBBB" : "AAAAAAAAAAABB") << ahead;
    }
}

TEST_F(FrameLoop, PostedEventsComeFirstInPostingOrder) {
    s.events = {{Event::Resize, 320, 200}};
    platform::postEvent({Event::Destroy, 0, 0});
    platform::postEvent({Event::Quit, 0, 0});
    Event e;
    std::string order;
    while (platform::takeEvent(&e))
        order += std::to_string(e.type) + "/" + std::to_string(e.width * 1000 + e.height) + " ";
    EXPECT_EQ(order, std::to_string(Event::Destroy) + "/0 " + std::to_string(Event::Quit) + "/0 " +
                         std::to_string(Event::Resize) + "/320200 ");
    platform::postEvent({Event::Quit, 0, 0});
    platform::clearPostedEvents();
    EXPECT_FALSE(platform::takeEvent(&e));
    // Without a backend only posted events exist, and nothing else crashes.
    platform::setBackend(nullptr);
    EXPECT_EQ(platform::tickCount(), 0u);
    EXPECT_FALSE(platform::escapeHeld() || platform::contextCurrent());
    platform::swapBuffers();
    platform::releaseContext();
    platform::postEvent({Event::KeyDown, 0, 0});
    ASSERT_TRUE(platform::takeEvent(&e));
    EXPECT_EQ(e.type, Event::KeyDown);
}

} // namespace
