// The picture-only scenes "eka efu", "tyma efu" and "loppu efu": frames
// compared with reference frames drawn from the same pictures, and the random
// draws each frame takes.
#include "tests/effects/scene_harness.h"

namespace {

// Background, centre picture, then the four copies at the given growths:
// what "eka efu" shows on a first frame (its layers still at opacity 0).
Frame ekaReference(const float pulses[4]) {
    Texture* background = loadPicture("tavara\\image8.jpg");
    Texture* pulse = loadPicture("tavara\\gay.jpg");
    clearFrame();
    drawImage(background, 0, 0, 640, 480, 1.0f, false);
    drawImage(pulse, 160, 120, 480, 360, 0.75f, false);
    for (int n = 0; n < 4; ++n) {
        const float p = pulses[n];
        drawImage(pulse, 160 - 1.6f * p, 120 - 1.2f * p, 480 + 1.6f * p, 360 + 1.2f * p, 0.75f,
                  false);
    }
    return grabFrame();
}

} // namespace

TEST(DemoRand, FollowsThePortableGeneratorFromSeedOne) {
    // The first results of the C standard's example generator.
    demoSeedRand(1);
    EXPECT_EQ(demoRand(), 16838);
    EXPECT_EQ(demoRand(), 5758);
    EXPECT_EQ(demoRand(), 10113);
    EXPECT_EQ(demoRand(), 17515);
    int lowest = 32767, highest = 0;
    for (int i = 0; i < 100000; ++i) {
        const int value = demoRand();
        lowest = std::min(lowest, value);
        highest = std::max(highest, value);
    }
    EXPECT_EQ(lowest, 0);
    EXPECT_EQ(highest, 32767);
    demoSeedRand(1);
    EXPECT_EQ(demoRand(), 16838);
}

class EkaTest : public SceneTest {};

TEST_F(EkaTest, BeforeOrderFourOnlyTheBackgroundShows) {
    ekaSetup();
    musicScriptPosition(3, 20);
    ekaRender(0.0f);
    const Frame first = grabFrame();
    ekaRender(1000.0f); // layers now exactly over the screen, still at opacity 0
    const Frame second = grabFrame();

    Texture* background = loadPicture("tavara\\image8.jpg");
    clearFrame();
    drawImage(background, 0, 0, 640, 480, 1.0f, false);
    const Frame reference = grabFrame();
    EXPECT_LE(maxDifference(first, reference), 2);
    EXPECT_LE(maxDifference(second, reference), 2);
}

TEST_F(EkaTest, RowTenGrowsOnlyTheFirstPulse) {
    ekaSetup();
    musicScriptPosition(4, 10);
    ekaRender(1000.0f); // 300 units of growth, bounded to 100
    const Frame frame = grabFrame();
    const float pulses[4] = {100, 0, 0, 0};
    const Frame reference = ekaReference(pulses);
    EXPECT_LE(maxDifference(frame, reference), 2);
    // The background and the pulse picture must differ for this to mean much.
    const float none[4] = {0, 0, 0, 0};
    EXPECT_GT(countDifferences(ekaReference(none), reference, 8), 1000);
}

TEST_F(EkaTest, OneLongFrameAtRowTwentySetsAllPulsesToFull) {
    ekaSetup();
    musicScriptPosition(4, 20);
    ekaRender(1000.0f);
    const Frame frame = grabFrame();
    const float full[4] = {100, 100, 100, 100};
    EXPECT_LE(maxDifference(frame, ekaReference(full)), 2);
    const float one[4] = {100, 0, 0, 0};
    EXPECT_GT(countDifferences(frame, ekaReference(one), 8), 1000);
}

class TymaTest : public SceneTest {};

TEST_F(TymaTest, OrderFortyFiveStartsBlackAndFadesToThePlainFrame) {
    tymaSetup();
    musicScriptPosition(44, 0);
    demoSeedRand(1);
    tymaRender(100.0f);
    const Frame plain = grabFrame();
    EXPECT_GT(maxDistanceFrom(plain, {0, 0, 0}), 50) << "the two pictures add to black";

    musicScriptPosition(45, 0);
    demoSeedRand(1);
    tymaRender(833.3333f); // the fade falls to one half after this frame
    EXPECT_EQ(maxDistanceFrom(grabFrame(), {0, 0, 0}), 0);

    demoSeedRand(1); // same shake as the plain frame
    tymaRender(1000.0f);
    const Frame half = grabFrame();
    for (int y = 0; y < 480; y += 37) {
        for (int x = 0; x < 640; x += 41) {
            const Rgb p = plain.at(x, y);
            ASSERT_LE(distance(half.at(x, y), mix(p, {0, 0, 0}, 0.5)), 2) << x << "," << y;
        }
    }
    // The fade is now below 0 and keeps falling; it darkens nothing.
    demoSeedRand(1);
    tymaRender(16.0f);
    EXPECT_LE(maxDifference(grabFrame(), plain), 1);
}

TEST_F(TymaTest, TakesFourRandomNumbersAFrameAndHasNoOverlayOutsideOrderFortyFive) {
    tymaSetup();
    demoSeedRand(1);
    for (int i = 0; i < 4; ++i)
        demoRand();
    const int fifth = demoRand();
    musicScriptPosition(46, 0);
    demoSeedRand(1);
    tymaRender(16.0f);
    EXPECT_EQ(demoRand(), fifth);
    const Frame after = grabFrame();
    musicScriptPosition(44, 0);
    demoSeedRand(1);
    tymaRender(16.0f);
    EXPECT_LE(maxDifference(grabFrame(), after), 1);
    EXPECT_GT(maxDistanceFrom(after, {0, 0, 0}), 50);
}

class LoppuTest : public SceneTest {};

TEST_F(LoppuTest, FadesInFromBlackAndStaysAtFullStrength) {
    loppuSetup();
    loppuRender(555.5556f); // first frame drawn at alpha 1, then the fade halves
    EXPECT_EQ(maxDistanceFrom(grabFrame(), {0, 0, 0}), 0);
    loppuRender(0.0f);
    const Frame half = grabFrame();
    loppuRender(600.0f); // 1155 ms passed in all: the fade is past 0
    loppuRender(0.0f);
    const Frame full = grabFrame();

    Texture* picture = loadPicture("tavara\\alttari.jpg");
    clearFrame();
    drawImage(picture, 0, 0, 640, 480, 1.0f, true);
    const Frame reference = grabFrame();
    EXPECT_GT(maxDistanceFrom(reference, {0, 0, 0}), 50);
    EXPECT_LE(maxDifference(full, reference), 2);
    for (int y = 0; y < 480; y += 29) {
        for (int x = 0; x < 640; x += 31)
            ASSERT_LE(distance(half.at(x, y), mix(reference.at(x, y), {0, 0, 0}, 0.5)), 2);
    }

    // Later frames keep the picture at full strength: the fade never returns.
    loppuRender(16.0f);
    EXPECT_LE(maxDifference(grabFrame(), reference), 2);
}
