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

namespace {

const char* MODULE_PATH = "tavara/amerikka.it";
constexpr int KICK = 1, SNARE = 2, CLOSED_HAT = 3, OPEN_HAT = 4, STAB = 9;

bool loadShowModule(OfflineModule& m, std::vector<std::string>* log) {
    return m.loadFile(MODULE_PATH, log);
}

// Sample numbers struck on a row of an order, over all channels.
std::vector<int> samplesOnRow(const OfflineModule& m, int order, int row) {
    std::vector<int> found;
    for (int ch = 0; ch < m.channelCount(); ++ch) {
        const int note = m.cell(order, row, ch, OfflineModule::CellNote);
        if (note >= 1 && note <= 120)
            found.push_back(m.cell(order, row, ch, OfflineModule::CellSample));
    }
    return found;
}

bool struck(const OfflineModule& m, int order, int row, int sample) {
    for (int s : samplesOnRow(m, order, row))
        if (s == sample)
            return true;
    return false;
}

double rmsDb(const std::vector<float>& a, size_t begin, size_t end) {
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i)
        sum += double(a[i]) * a[i];
    return 10.0 * std::log10(sum / double(end - begin) + 1e-15);
}

} // namespace

TEST(ModuleFile, LoadsWithoutAnyLibraryMessage) {
    OfflineModule m;
    std::vector<std::string> log;
    ASSERT_TRUE(loadShowModule(m, &log)) << "cannot load " << MODULE_PATH;
    for (const std::string& line : log)
        ADD_FAILURE() << "libopenmpt said: " << line;
    EXPECT_EQ(m.orderCount(), 53);
}

TEST(ModuleFile, TimelineIsFiftyThreeOrdersOf3200Ms) {
    OfflineModule m;
    ASSERT_TRUE(loadShowModule(m, nullptr));
    ASSERT_EQ(m.orderCount(), 53);
    for (int order = 0; order < 53; ++order) {
        EXPECT_EQ(m.patternRowsAtOrder(order), 64) << "order " << order;
        EXPECT_NEAR(m.orderStartSeconds(order), 3.2 * order, 0.001) << "order " << order;
    }
    EXPECT_GE(m.durationSeconds(), 169.0);
    EXPECT_NEAR(m.durationSeconds(), 169.6, 0.001);
}

TEST(ModuleFile, RenderedPositionFollowsTheRowGrid) {
    OfflineModule m;
    ASSERT_TRUE(loadShowModule(m, nullptr));
    // Mid-row probes across the whole song: row r of order n at 3200n + 50r ms.
    for (int order = 0; order < 53; order += 4) {
        for (int row : {0, 1, 13, 32, 63}) {
            const uint32_t ms = 3200u * order + 50u * row + 25u;
            EXPECT_EQ(m.positionAtMs(ms), platform::positionWord(order, row))
                << "order " << order << " row " << row;
        }
    }
    // Row boundaries are exact to the 1 ms slice: 1 ms before and 1 ms after.
    EXPECT_EQ(m.positionAtMs(3200 * 10 - 2), platform::positionWord(9, 63));
    EXPECT_EQ(m.positionAtMs(3200 * 10 + 1), platform::positionWord(10, 0));
    // Endless repetition: past the end it starts over at order 0.
    EXPECT_EQ(m.positionAtMs(169600 + 75), platform::positionWord(0, 1));
}

TEST(ModuleFile, DrumsFollowTheArrangement) {
    OfflineModule m;
    ASSERT_TRUE(loadShowModule(m, nullptr));
    // No drums in the intro or the breaks on orders 15 (except its roll) and 45.
    for (int order : {0, 1, 2, 3, 45})
        for (int row = 0; row < 64; ++row)
            for (int s : {KICK, SNARE, CLOSED_HAT, OPEN_HAT})
                EXPECT_FALSE(struck(m, order, row, s)) << order << ":" << row << " sample " << s;
    for (int row = 0; row < 64; ++row) {
        EXPECT_FALSE(struck(m, 15, row, KICK)) << row;
        EXPECT_FALSE(struck(m, 15, row, CLOSED_HAT)) << row;
    }
    // The beat: kick on rows 0/16/32/48, snare on 8/24/40/56, hits on 13-14, 45-46.
    for (int order : {4, 9, 10, 14, 16, 24, 39, 44, 46, 49}) {
        for (int row = 0; row < 64; ++row) {
            EXPECT_EQ(struck(m, order, row, KICK), row % 16 == 0) << order << ":" << row;
            const bool snareRow = row % 16 == 8 || row % 32 == 13 || row % 32 == 14;
            EXPECT_EQ(struck(m, order, row, SNARE), snareRow) << order << ":" << row;
        }
    }
    // Sixteenth-note hats on every even row through orders 24-39, none on odd rows.
    for (int order = 24; order <= 39; ++order)
        for (int row = 0; row < 64; ++row)
            EXPECT_EQ(struck(m, order, row, CLOSED_HAT), row % 2 == 0) << order << ":" << row;
    // Accents on rows 8, 12, 16 and 20 where the beat enters and before the break.
    for (int order : {4, 5, 14, 15})
        for (int row : {8, 12, 16, 20})
            EXPECT_TRUE(struck(m, order, row, STAB)) << order << ":" << row;
    EXPECT_FALSE(struck(m, 4, 4, STAB));
    EXPECT_FALSE(struck(m, 4, 24, STAB));
}

TEST(ModuleFile, LevelsShowTheStructureWithoutClipping) {
    OfflineModule m;
    ASSERT_TRUE(loadShowModule(m, nullptr));
    m.renderTo(170 * 44100);
    const std::vector<float>& a = m.samples();
    float peak = 0.0f;
    for (float v : a)
        peak = std::max(peak, std::fabs(v));
    EXPECT_LT(peak, 0.95f);
    EXPECT_GT(peak, 0.3f);
    const size_t ORDER = 3200 * 44100 / 1000;
    auto orderDb = [&](int o) { return rmsDb(a, o * ORDER, (o + 1) * ORDER); };
    EXPECT_LT(orderDb(0), orderDb(4) - 6.0);   // the intro is quiet
    EXPECT_GT(orderDb(10), orderDb(6));        // the drop is the loudest part
    EXPECT_LT(orderDb(15), orderDb(14) - 4.0); // break
    EXPECT_LT(orderDb(45), orderDb(44) - 4.0); // break
    EXPECT_LT(orderDb(52), orderDb(50) - 6.0); // outro fades
    // Silent once the show is over at 169 s.
    EXPECT_LT(rmsDb(a, 169 * 44100, 169 * 44100 + 22050), -50.0);
    // And no moment of the song is silent before the fade.
    for (int o = 0; o < 52; ++o)
        EXPECT_GT(orderDb(o), -35.0) << "order " << o;
}

TEST(ModuleFile, TwoRendersAreIdentical) {
    OfflineModule a, b;
    ASSERT_TRUE(loadShowModule(a, nullptr));
    ASSERT_TRUE(loadShowModule(b, nullptr));
    a.renderTo(44100 * 20);
    b.renderTo(44100 * 20);
    ASSERT_EQ(a.samples().size(), b.samples().size());
    EXPECT_TRUE(a.samples() == b.samples());
    EXPECT_EQ(a.positionAtMs(15000), b.positionAtMs(15000));
}
