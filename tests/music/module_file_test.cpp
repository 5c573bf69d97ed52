// The generated show module (build folder's tavara/amerikka.it) read back
// through libopenmpt with the player's settings: its timeline, arrangement,
// level and determinism.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/module_player.h"
#include "platform/offline_module.h"

using platform::OfflineModule;
using platform::positionWord;

namespace {

constexpr int KICK = 1, SNARE = 2, CLOSED_HAT = 3, OPEN_HAT = 4, STAB = 9;

class ModuleFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m.loadFile("tavara/amerikka.it", &log)) << "cannot load the module";
    }
    // Whether the sample is struck on a row of an order, on any channel.
    bool struck(int order, int row, int sample) const {
        for (int ch = 0; ch < m.channelCount(); ++ch) {
            const int note = m.cell(order, row, ch, OfflineModule::CellNote);
            if (note >= 1 && note <= 120 &&
                m.cell(order, row, ch, OfflineModule::CellSample) == sample)
                return true;
        }
        return false;
    }
    OfflineModule m;
    std::vector<std::string> log;
};

double rmsDb(const std::vector<float>& a, size_t begin, size_t end) {
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i)
        sum += double(a[i]) * a[i];
    return 10.0 * std::log10(sum / double(end - begin) + 1e-15);
}

} // namespace

TEST_F(ModuleFile, LoadsCleanlyAsFiftyThreeOrdersOf3200Ms) {
    for (const std::string& line : log)
        ADD_FAILURE() << "libopenmpt said: " << line;
    ASSERT_EQ(m.orderCount(), 53);
    for (int order = 0; order < 53; ++order) {
        EXPECT_EQ(m.patternRowsAtOrder(order), 64) << "order " << order;
        EXPECT_NEAR(m.orderStartSeconds(order), 3.2 * order, 0.001) << "order " << order;
    }
    EXPECT_NEAR(m.durationSeconds(), 169.6, 0.001);
    // Rendered, row r of order n sounds from 3200n + 50r ms (probed mid-row),
    // exact to the 1 ms slice at a boundary, and the song loops.
    for (int order = 0; order < 53; order += 4)
        for (int row : {0, 13, 63})
            EXPECT_EQ(m.positionAtMs(3200u * order + 50u * row + 25u), positionWord(order, row))
                << order << ":" << row;
    EXPECT_EQ(m.positionAtMs(3200 * 10 - 2), positionWord(9, 63));
    EXPECT_EQ(m.positionAtMs(3200 * 10 + 1), positionWord(10, 0));
    EXPECT_EQ(m.positionAtMs(169600 + 75), positionWord(0, 1));
}

TEST_F(ModuleFile, DrumsFollowTheArrangement) {
    // No drums in the intro or the break on order 45; order 15's break keeps
    // only its roll.
    for (int row = 0; row < 64; ++row) {
        for (int order : {0, 1, 2, 3, 45})
            for (int s : {KICK, SNARE, CLOSED_HAT, OPEN_HAT})
                EXPECT_FALSE(struck(order, row, s)) << order << ":" << row << " sample " << s;
        EXPECT_FALSE(struck(15, row, KICK) || struck(15, row, CLOSED_HAT)) << row;
    }
    // The beat: kick on rows 0/16/32/48, snare on 8/24/40/56, hits on 13-14, 45-46.
    for (int order : {4, 9, 10, 14, 16, 24, 39, 44, 46, 49})
        for (int row = 0; row < 64; ++row) {
            EXPECT_EQ(struck(order, row, KICK), row % 16 == 0) << order << ":" << row;
            EXPECT_EQ(struck(order, row, SNARE), row % 16 == 8 || row % 32 == 13 || row % 32 == 14)
                << order << ":" << row;
        }
    // Sixteenth-note hats on every even row through orders 24-39.
    for (int order = 24; order <= 39; ++order)
        for (int row = 0; row < 64; ++row)
            EXPECT_EQ(struck(order, row, CLOSED_HAT), row % 2 == 0) << order << ":" << row;
    // Accents on rows 8, 12, 16 and 20 (only) where the beat enters and before the break.
    for (int order : {4, 5, 14, 15})
        for (int row : {8, 12, 16, 20})
            EXPECT_TRUE(struck(order, row, STAB)) << order << ":" << row;
    EXPECT_FALSE(struck(4, 4, STAB) || struck(4, 24, STAB));
}

TEST_F(ModuleFile, LevelsShowTheStructureWithoutClipping) {
    m.renderTo(170 * 44100);
    const std::vector<float>& a = m.samples();
    float peak = 0.0f;
    for (float v : a)
        peak = std::max(peak, std::fabs(v));
    EXPECT_LT(peak, 0.95f);
    EXPECT_GT(peak, 0.3f);
    const size_t ORDER = 3200 * 44100 / 1000;
    auto db = [&](int o) { return rmsDb(a, o * ORDER, (o + 1) * ORDER); };
    EXPECT_LT(db(0), db(4) - 6.0);   // the intro is quiet
    EXPECT_GT(db(10), db(6));        // the drop is the loudest part
    EXPECT_LT(db(15), db(14) - 4.0); // breaks
    EXPECT_LT(db(45), db(44) - 4.0);
    EXPECT_LT(db(52), db(50) - 6.0); // the outro fades, silent after 169 s
    EXPECT_LT(rmsDb(a, 169 * 44100, 169 * 44100 + 22050), -50.0);
    // And no moment of the song is silent before the fade.
    for (int o = 0; o < 52; ++o)
        EXPECT_GT(db(o), -35.0) << "order " << o;
}

TEST_F(ModuleFile, TwoRendersAreIdentical) {
    OfflineModule b;
    ASSERT_TRUE(b.loadFile("tavara/amerikka.it", nullptr));
    m.renderTo(44100 * 20);
    b.renderTo(44100 * 20);
    ASSERT_GE(m.samples().size(), 44100u * 20);
    EXPECT_TRUE(m.samples() == b.samples());
    EXPECT_EQ(m.positionAtMs(15000), b.positionAtMs(15000));
}
