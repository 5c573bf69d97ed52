// The show's schedule: the eight rows, the terminator, and which row each
// millisecond at every boundary belongs to.
#include <gtest/gtest.h>

#include "app/shell.h"
#include "effects/effects.h"

namespace {

const EffectEntry EXPECTED[] = {
    {"eka efu", ekaRender, 0, 19199},         {"toka efu", tokaRender, 19200, 51199},
    {"kaka efu", kakaRender, 51200, 63999},   {"muija efu", muijaRender, 64000, 76799},
    {"joku efu", jokuRender, 76800, 127999},  {"neljas efu", neljasRender, 128000, 140799},
    {"tyma efu", tymaRender, 140800, 159999}, {"loppu efu", loppuRender, 160000, 169000},
};

TEST(Schedule, RowsBoundariesAndTerminator) {
    for (int i = 0; i < 8; ++i) {
        const EffectEntry& want = EXPECTED[i];
        SCOPED_TRACE(want.name);
        ASSERT_NE(effectTable[i].name, nullptr);
        EXPECT_STREQ(effectTable[i].name, want.name);
        EXPECT_EQ(effectTable[i].render, want.render);
        EXPECT_EQ(effectTable[i].start, want.start);
        EXPECT_EQ(effectTable[i].end, want.end);
        // Both ends belong to this row; the millisecond after to the next one.
        EXPECT_EQ(findEffect(effectTable, want.start), &effectTable[i]);
        EXPECT_EQ(findEffect(effectTable, want.end), &effectTable[i]);
        EXPECT_EQ(findEffect(effectTable, want.end + 1), i < 7 ? &effectTable[i + 1] : nullptr);
    }
    const EffectEntry& end = effectTable[8];
    EXPECT_TRUE(!end.name && !end.render && end.start == 0 && end.end == 0);
    // Before the show (a clock that ran backwards) no row matches, and the
    // terminator's 0..0 span never does.
    EXPECT_EQ(findEffect(effectTable, -1), nullptr);
    EXPECT_EQ(findEffect(&effectTable[8], 0), nullptr);
}

TEST(Schedule, FirstMatchWinsWhenSpansOverlap) {
    const EffectEntry overlapping[] = {
        {"x", ekaRender, 0, 10}, {"y", tokaRender, 5, 20}, {nullptr, nullptr, 0, 0}};
    EXPECT_EQ(findEffect(overlapping, 7), &overlapping[0]);
    EXPECT_EQ(findEffect(overlapping, 11), &overlapping[1]);
}

} // namespace
