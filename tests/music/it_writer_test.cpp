// The generator's Impulse Tracker writer and instrument synthesiser: a small
// module written in memory and read back through libopenmpt, the writer's
// refusals, and the properties every synthesised sample must have.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "media/it_writer.h"
#include "media/synth.h"
#include "platform/module_player.h"
#include "platform/offline_module.h"

using platform::OfflineModule;

namespace {

ItModule smallModule() {
    ItModule m;
    m.name = "test";
    m.initialSpeed = 4;
    m.initialTempo = 120; // 4 ticks of 20.833 ms: 83.33 ms a row
    m.channels = 3;
    ItSample s;
    s.name = "tone";
    s.pcm.resize(4410);
    for (size_t i = 0; i < s.pcm.size(); ++i)
        s.pcm[i] = static_cast<int16_t>(12000 * std::sin(i * 0.0627));
    m.samples.push_back(s);
    m.samples.push_back(s);
    ItPattern a(3), b(3);
    a.at(0, 0) = ItCell{60, 1, 40, 0, 0};
    a.at(5, 2) = ItCell{71, 2, -1, 0, 0};
    a.at(6, 2).note = ItCell::NOTE_CUT;
    b.at(63, 1) = ItCell{0, 1, 64, 0, 0};
    m.patterns = {a, b};
    m.orders = {1, 0, 1};
    return m;
}

bool loadBytes(OfflineModule& m, const std::vector<unsigned char>& bytes,
               std::vector<std::string>* log) {
    return !bytes.empty() && m.load(bytes.data(), bytes.size(), log);
}

} // namespace

TEST(ItWriter, SmallModuleReadsBackCellForCell) {
    const std::vector<unsigned char> bytes = writeIt(smallModule());
    ASSERT_GT(bytes.size(), 192u + 2 * 80u + 2 * 4410u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "IMPM");
    OfflineModule m;
    std::vector<std::string> log;
    ASSERT_TRUE(loadBytes(m, bytes, &log));
    for (const std::string& line : log)
        ADD_FAILURE() << "libopenmpt said: " << line;
    EXPECT_EQ(m.orderCount(), 3);
    EXPECT_EQ(m.channelCount(), 3);
    // Order 1 plays pattern 0: the library counts notes from 1 (C-0).
    EXPECT_EQ(m.cell(1, 0, 0, OfflineModule::CellNote), 61);
    EXPECT_EQ(m.cell(1, 0, 0, OfflineModule::CellSample), 1);
    EXPECT_EQ(m.cell(1, 0, 0, OfflineModule::CellVolume), 40);
    EXPECT_EQ(m.cell(1, 5, 2, OfflineModule::CellNote), 72);
    EXPECT_EQ(m.cell(1, 5, 2, OfflineModule::CellSample), 2);
    EXPECT_EQ(m.cell(1, 6, 2, OfflineModule::CellNote), ItCell::NOTE_CUT);
    EXPECT_EQ(m.cell(1, 1, 0, OfflineModule::CellNote), 0);
    // Orders 0 and 2 play pattern 1.
    EXPECT_EQ(m.cell(0, 63, 1, OfflineModule::CellNote), 1);
    EXPECT_EQ(m.cell(2, 63, 1, OfflineModule::CellVolume), 64);
    // Speed 4 at tempo 120: a row lasts 4 * 2.5 / 120 s, a pattern 64 of them.
    const double pattern = 64 * 4 * 2.5 / 120;
    EXPECT_NEAR(m.orderStartSeconds(1), pattern, 1e-3);
    EXPECT_NEAR(m.orderStartSeconds(2), 2 * pattern, 1e-3);
    EXPECT_NEAR(m.durationSeconds(), 3 * pattern, 1e-3);
}

TEST(ItWriter, SampleDataSurvivesTheRoundTrip) {
    // One full-level sample played at its own rate on an otherwise silent
    // channel must come out with the sample's shape (a sine at 440 Hz).
    ItModule mod;
    mod.initialSpeed = 6;
    mod.initialTempo = 125;
    mod.channels = 1;
    ItSample s;
    s.name = "a440";
    s.pcm.resize(44100);
    for (size_t i = 0; i < s.pcm.size(); ++i)
        s.pcm[i] = static_cast<int16_t>(20000 * std::sin(2 * M_PI * 440.0 * i / 44100.0));
    mod.samples.push_back(s);
    ItPattern p(1);
    p.at(0, 0) = ItCell{60, 1, 64, 0, 0};
    mod.patterns.push_back(p);
    mod.orders = {0};
    OfflineModule m;
    ASSERT_TRUE(loadBytes(m, writeIt(mod), nullptr));
    m.renderTo(44100 / 2);
    // Count rising zero crossings over 0.1..0.4 s: 440 Hz gives 132.
    const std::vector<float>& a = m.samples();
    int crossings = 0;
    for (size_t i = 4410 + 1; i < 17640; ++i)
        crossings += a[i - 1] < 0.0f && a[i] >= 0.0f;
    EXPECT_NEAR(crossings, 132, 1);
}

TEST(ItWriter, RefusesWhatTheFormatCannotHold) {
    ItModule m = smallModule();
    m.channels = 65;
    EXPECT_TRUE(writeIt(m).empty());
    m = smallModule();
    m.orders.push_back(7); // no such pattern
    EXPECT_TRUE(writeIt(m).empty());
    m = smallModule();
    m.patterns.push_back(ItPattern(2)); // wrong channel count
    EXPECT_TRUE(writeIt(m).empty());
    m = smallModule();
    m.orders.clear();
    EXPECT_TRUE(writeIt(m).empty());
}

TEST(Synth, PitchesAndRates) {
    EXPECT_NEAR(synth::noteHz(57), 220.0, 1e-9);
    EXPECT_NEAR(synth::noteHz(69), 440.0, 1e-9);
    EXPECT_NEAR(synth::noteHz(60), 261.6256, 1e-4);
    EXPECT_EQ(synth::c5SpeedFor(60), 44100u);
    EXPECT_EQ(synth::c5SpeedFor(36), 176400u);
    EXPECT_EQ(synth::c5SpeedFor(72), 22050u);
}

TEST(Synth, EveryVoiceStartsAndEndsSilentlyWithoutClicks) {
    using Voice = std::vector<float> (*)();
    const Voice voices[] = {synth::kick,  synth::snare, synth::closedHat, synth::openHat,
                            synth::crash, synth::bass,  synth::pad,       synth::lead,
                            synth::stab,  synth::pluck};
    for (Voice voice : voices) {
        const std::vector<int16_t> pcm = synth::toPcm16(voice(), 0.9);
        ASSERT_GT(pcm.size(), 2000u);
        EXPECT_EQ(pcm.front(), 0);
        EXPECT_EQ(pcm.back(), 0);
        int peak = 0;
        for (int16_t v : pcm)
            peak = std::max(peak, std::abs(int(v)));
        EXPECT_NEAR(peak, 0.9 * 32767, 2);
        // Ramps at both ends: the first and last few samples stay small, so
        // neither the start nor the end of a note jumps.
        for (int i = 0; i < 8; ++i) {
            EXPECT_LT(std::abs(int(pcm[i])), 8000) << i;
            EXPECT_LT(std::abs(int(pcm[pcm.size() - 1 - i])), 800) << i;
        }
    }
}

TEST(Synth, DeterministicAndInTune) {
    EXPECT_TRUE(synth::snare() == synth::snare());
    EXPECT_TRUE(synth::crash() == synth::crash());
    // The pluck is synthesised at its base note (C-6, 523.25 Hz): count rising
    // zero crossings over 0.2..0.6 s, once the bright attack has faded.
    const std::vector<float> w = synth::pluck();
    int crossings = 0;
    for (size_t i = 8820; i < 26460; ++i)
        crossings += w[i - 1] < 0.0f && w[i] >= 0.0f;
    EXPECT_NEAR(crossings, 523.25 * 0.4, 3);
}

TEST(Synth, ToPcm16ScalesAndRounds) {
    const std::vector<int16_t> pcm = synth::toPcm16({0.0f, 0.5f, -1.0f, 0.25f, 0.1f}, 0.5);
    ASSERT_EQ(pcm.size(), 5u);
    EXPECT_EQ(pcm[1], 8192);   // 0.5 * 0.5 * 32767 = 8191.75
    EXPECT_EQ(pcm[2], -16384); // -16383.5 rounds away from zero
    EXPECT_EQ(pcm[3], 4096);
    EXPECT_EQ(pcm[4], 0); // the end is forced silent
    EXPECT_TRUE(synth::toPcm16({0.0f, 0.0f}, 0.9) == std::vector<int16_t>({0, 0}));
}
