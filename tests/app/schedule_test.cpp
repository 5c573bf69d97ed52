// The show's schedule: the eight rows and the terminator, and which row each
// millisecond at every boundary belongs to.
#include <gtest/gtest.h>

#include <cstring>

#include "app/shell.h"
#include "effects/effects.h"

namespace {

struct Row {
    const char* name;
    void (*render)(float);
    int start;
    int end;
};

const Row EXPECTED[] = {
    {"eka efu", ekaRender, 0, 19199},         {"toka efu", tokaRender, 19200, 51199},
    {"kaka efu", kakaRender, 51200, 63999},   {"muija efu", muijaRender, 64000, 76799},
    {"joku efu", jokuRender, 76800, 127999},  {"neljas efu", neljasRender, 128000, 140799},
    {"tyma efu", tymaRender, 140800, 159999}, {"loppu efu", loppuRender, 160000, 169000},
};

TEST(Schedule, HasTheEightRowsInOrderAndAnAllZeroTerminator) {
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        ASSERT_NE(effectTable[i].name, nullptr);
        EXPECT_STREQ(effectTable[i].name, EXPECTED[i].name);
        EXPECT_EQ(effectTable[i].render, EXPECTED[i].render);
        EXPECT_EQ(effectTable[i].start, EXPECTED[i].start);
        EXPECT_EQ(effectTable[i].end, EXPECTED[i].end);
    }
    EXPECT_EQ(effectTable[8].name, nullptr);
    EXPECT_EQ(effectTable[8].render, nullptr);
    EXPECT_EQ(effectTable[8].start, 0);
    EXPECT_EQ(effectTable[8].end, 0);
}

TEST(Schedule, EveryBoundaryBelongsToTheEarlierRow) {
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(EXPECTED[i].name);
        const EffectEntry* atStart = findEffect(effectTable, EXPECTED[i].start);
        const EffectEntry* atEnd = findEffect(effectTable, EXPECTED[i].end);
        ASSERT_NE(atStart, nullptr);
        ASSERT_NE(atEnd, nullptr);
        EXPECT_EQ(atStart->render, EXPECTED[i].render);
        EXPECT_EQ(atEnd->render, EXPECTED[i].render);
        if (i + 1 < 8) {
            const EffectEntry* next = findEffect(effectTable, EXPECTED[i].end + 1);
            ASSERT_NE(next, nullptr);
            EXPECT_EQ(next->render, EXPECTED[i + 1].render);
        }
    }
    // The named boundaries, spelt out.
    EXPECT_EQ(findEffect(effectTable, 19199)->render, ekaRender);
    EXPECT_EQ(findEffect(effectTable, 19200)->render, tokaRender);
    EXPECT_EQ(findEffect(effectTable, 127999)->render, jokuRender);
    EXPECT_EQ(findEffect(effectTable, 128000)->render, neljasRender);
    EXPECT_EQ(findEffect(effectTable, 169000)->render, loppuRender);
}

TEST(Schedule, NoRowHoldsTimesOutsideTheShow) {
    EXPECT_EQ(findEffect(effectTable, 169001), nullptr);
    EXPECT_EQ(findEffect(effectTable, 2000000000), nullptr);
    // A negative time (a clock that ran backwards) is outside every span too,
    // and the terminator's 0..0 span is never matched.
    EXPECT_EQ(findEffect(effectTable, -1), nullptr);
    const EffectEntry onlyTerminator[] = {{nullptr, nullptr, 0, 0}};
    EXPECT_EQ(findEffect(onlyTerminator, 0), nullptr);
}

TEST(Schedule, SpansTouchWithoutGapsOrOverlap) {
    int covered = 0;
    for (int t = -5; t <= 169010; ++t) {
        const EffectEntry* row = findEffect(effectTable, t);
        if (row) {
            ++covered;
            // Exactly one row holds t: no later row does as well.
            EXPECT_EQ(findEffect(row + 1, t), nullptr) << t;
        }
    }
    EXPECT_EQ(covered, 169001);
}

TEST(Schedule, FirstMatchWinsWhenSpansOverlap) {
    void (*const first)(float) = ekaRender;
    void (*const second)(float) = tokaRender;
    const EffectEntry overlapping[] = {
        {"x", first, 0, 10}, {"y", second, 5, 20}, {nullptr, nullptr, 0, 0}};
    EXPECT_EQ(findEffect(overlapping, 7)->render, first);
    EXPECT_EQ(findEffect(overlapping, 11)->render, second);
}

} // namespace
