// The generated show module (build folder's tavara/amerikka.it) read back
// through libopenmpt with the player's settings: the timeline the scenes and
// the reference frames' instants rely on, and renders that repeat exactly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/module_player.h"
#include "platform/offline_module.h"

using platform::OfflineModule;
using platform::positionWord;

namespace {

class ModuleFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m.loadFile("tavara/amerikka.it", &log)) << "cannot load the module";
    }
    OfflineModule m;
    std::vector<std::string> log;
};

} // namespace

TEST_F(ModuleFile, LoadsCleanlyAsFiftyThreeOrdersOf3200Ms) {
    for (const std::string& line : log)
        ADD_FAILURE() << "libopenmpt said: " << line;
    ASSERT_EQ(m.orderCount(), 53);
    for (int order = 0; order < 53; ++order) {
        EXPECT_EQ(m.patternRowsAtOrder(order), 64) << "order " << order;
        EXPECT_NEAR(m.orderStartSeconds(order), 3.2 * order, 0.001) << "order " << order;
    }
    EXPECT_EQ(m.orderStartSeconds(53), -1.0); // no such order
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

TEST_F(ModuleFile, TwoRendersAreIdentical) {
    OfflineModule b;
    ASSERT_TRUE(b.loadFile("tavara/amerikka.it", nullptr));
    m.renderTo(44100 * 20);
    b.renderTo(44100 * 20);
    ASSERT_GE(m.samples().size(), 44100u * 20);
    EXPECT_TRUE(m.samples() == b.samples());
    EXPECT_EQ(m.positionAtMs(15000), b.positionAtMs(15000));
}
