// The generator's Impulse Tracker writer: small modules written in memory and
// read back through libopenmpt cell for cell, and the
// writer's refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "media/it_writer.h"
#include "platform/offline_module.h"

using platform::OfflineModule;

namespace {

// A module with two copies of one sine sample (amplitude, radians per sample,
// length); its patterns and orders are the caller's.
ItModule toneModule(int channels, double amplitude, double step, size_t length) {
    ItModule m;
    m.channels = channels;
    ItSample s;
    s.name = "tone";
    for (size_t i = 0; i < length; ++i)
        s.pcm.push_back(static_cast<int16_t>(amplitude * std::sin(i * step)));
    m.samples = {s, s};
    return m;
}

ItModule smallModule() {
    ItModule m = toneModule(3, 12000, 0.0627, 4410);
    m.initialSpeed = 4;
    m.initialTempo = 120;
    ItPattern a(3), b(3);
    a.at(0, 0) = ItCell{60, 1, 40, 0, 0};
    a.at(5, 2) = ItCell{71, 2, -1, 0, 0};
    a.at(6, 2).note = ItCell::NOTE_CUT;
    b.at(63, 1) = ItCell{0, 1, 64, 0, 0};
    m.patterns = {a, b};
    m.orders = {1, 0, 1};
    return m;
}

} // namespace

TEST(ItWriter, SmallModuleReadsBackCellForCell) {
    const std::vector<unsigned char> bytes = writeIt(smallModule());
    OfflineModule m;
    std::vector<std::string> log;
    ASSERT_TRUE(m.load(bytes.data(), bytes.size(), &log));
    for (const std::string& line : log)
        ADD_FAILURE() << "libopenmpt said: " << line;
    EXPECT_EQ(m.orderCount(), 3);
    EXPECT_EQ(m.channelCount(), 3);
    // {order, row, channel, field, value}: order 1 plays pattern 0, orders 0
    // and 2 pattern 1; the library counts notes from 1 (C-0).
    const int N = OfflineModule::CellNote, S = OfflineModule::CellSample,
              V = OfflineModule::CellVolume;
    const int cells[][5] = {{1, 0, 0, N, 61}, {1, 0, 0, S, 1},  {1, 0, 0, V, 40},
                            {1, 5, 2, N, 72}, {1, 5, 2, S, 2},  {1, 6, 2, N, ItCell::NOTE_CUT},
                            {1, 1, 0, N, 0},  {0, 63, 1, N, 1}, {2, 63, 1, V, 64}};
    for (const auto& c : cells)
        EXPECT_EQ(m.cell(c[0], c[1], c[2], OfflineModule::CellField(c[3])), c[4])
            << c[0] << ":" << c[1] << ":" << c[2] << " field " << c[3];
    // Speed 4 at tempo 120: a row lasts 4 * 2.5 / 120 s, a pattern 64 of them.
    const double pattern = 64 * 4 * 2.5 / 120;
    EXPECT_NEAR(m.orderStartSeconds(2), 2 * pattern, 1e-3);
    EXPECT_NEAR(m.durationSeconds(), 3 * pattern, 1e-3);
}

TEST(ItWriter, RefusesWhatTheFormatCannotHold) {
    void (*const faults[])(ItModule&) = {
        [](ItModule& m) { m.channels = 65; },
        [](ItModule& m) { m.orders.push_back(7); },              // no such pattern
        [](ItModule& m) { m.patterns.push_back(ItPattern(2)); }, // wrong channel count
        [](ItModule& m) { m.orders.clear(); },
    };
    for (size_t i = 0; i < std::size(faults); ++i) {
        ItModule m = smallModule();
        faults[i](m);
        EXPECT_TRUE(writeIt(m).empty()) << "fault " << i;
    }
}
