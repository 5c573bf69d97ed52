// The 3D scenes "toka efu", "kaka efu", "muija efu", "neljas efu": fades,
// light 1 as each leaves it, what each order shows, the random draws of a
// frame, and state that is never reset.
#include "tests/effects/scene_harness.h"

namespace {

const int CORNERS[4][2] = {{2, 2}, {637, 2}, {2, 477}, {637, 477}};

} // namespace

class TokaTest : public SceneTest {};

TEST_F(TokaTest, FirstFrameInOrdersTenToFourteenIsSolidGreen) {
    runEffectSetups();
    musicScriptPosition(12, 3);
    tokaRender(0.0f);
    EXPECT_EQ(maxDistanceFrom(grabFrame(), {0, 255, 0}), 0);
    // The light stays green and culling off for whatever follows.
    expectLight(GL_DIFFUSE, {0, 1, 0, 1});
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
}

TEST_F(TokaTest, FirstFrameBeforeOrderTenIsWhite) {
    runEffectSetups();
    musicScriptPosition(9, 1);
    tokaRender(0.0f);
    EXPECT_EQ(maxDistanceFrom(grabFrame(), {255, 255, 255}), 0);
    // The first frame put back toka's own light over the later setups' ones.
    expectLight(GL_AMBIENT, {0.5f, 0.5f, 1.0f, 1.0f});
    expectLight(GL_DIFFUSE, {1, 1, 1, 1});
}

TEST_F(TokaTest, BallUntilOrderFifteenThenTheTitleCopiesAndOnlyTheBackground) {
    runEffectSetups();
    musicScriptPosition(9, 1);
    tokaRender(2000.0f); // the white fade is gone after this frame
    tokaRender(0.0f);
    const Frame withBall = grabFrame();
    musicScriptPosition(15, 0);
    tokaRender(0.0f);
    const Frame rowZero = grabFrame();
    musicScriptPosition(15, 20);
    tokaRender(1000.0f); // all four copies grow to full screen
    const Frame rowTwenty = grabFrame();
    // Past order 15 only the background, and the white fade does not return
    // when the setup runs again.
    tokaSetup();
    musicScriptPosition(16, 1);
    tokaRender(16.0f);
    const Frame later = grabFrame();

    // The background with the title picture's centred and full-screen copies.
    auto reference = [](int centred, int full) {
        clearFrame();
        drawTintedImage(loadPicture("tavara\\gay.jpg"), 0, 0, 640, 480, 1, 1, 1, 1, false);
        Texture* title = loadPicture("tavara\\vtdemo.jpg");
        for (int i = 0; i < centred + full; ++i)
            drawImage(title, i < centred ? 160 : 0, i < centred ? 120 : 0, i < centred ? 480 : 640,
                      i < centred ? 360 : 480, 0.75f, false);
        return grabFrame();
    };
    EXPECT_GT(countDifferences(withBall, reference(0, 0), 8), 300) << "no ball drawn";
    EXPECT_LE(maxDifference(rowZero, reference(5, 0)), 2);
    EXPECT_LE(maxDifference(rowTwenty, reference(1, 4)), 2);
    EXPECT_LE(maxDifference(later, reference(0, 0)), 2);
}

class KakaTest : public SceneTest {};

TEST_F(KakaTest, TakesThirtyRandomNumbersAFrame) {
    runEffectSetups();
    demoSeedRand(1);
    std::vector<int> sequence(32);
    for (int& value : sequence)
        value = demoRand();
    ASSERT_NE(sequence[29], sequence[30]);
    ASSERT_NE(sequence[31], sequence[30]);

    musicScriptPosition(20, 5);
    demoSeedRand(1);
    kakaRender(16.0f);
    EXPECT_EQ(demoRand(), sequence[30]);
    // A frame without time still flickers: it draws again.
    demoSeedRand(1);
    kakaRender(0.0f);
    EXPECT_EQ(demoRand(), sequence[30]);
}

TEST_F(KakaTest, WhiteFadeClearsAndTheLayersFlicker) {
    runEffectSetups();
    musicScriptPosition(20, 5);
    kakaRender(1700.0f);
    EXPECT_EQ(maxDistanceFrom(grabFrame(), {255, 255, 255}), 0);

    // The layer alpha is now 0.085: six additive layers add at most about
    // 130 to the title picture; the draws alone decide the jitter.
    demoSeedRand(7);
    kakaRender(0.0f);
    const Frame first = grabFrame();
    demoSeedRand(7);
    kakaRender(0.0f);
    EXPECT_EQ(maxDifference(first, grabFrame()), 0);
    kakaRender(0.0f);
    EXPECT_GT(countDifferences(first, grabFrame(), 2), 1000) << "the layers do not flicker";

    Texture* title = loadPicture("tavara\\vtdemo.jpg");
    clearFrame();
    drawImage(title, 0, 0, 640, 480, 0.75f, false);
    const Frame reference = grabFrame();
    for (const auto& c : CORNERS) {
        const Rgb got = first.at(c[0], c[1]);
        const Rgb want = reference.at(c[0], c[1]);
        EXPECT_GE(got.r, want.r - 1);
        EXPECT_LE(got.r, want.r + 133);
        EXPECT_GE(got.g, want.g - 1);
        EXPECT_LE(got.g, want.g + 133);
    }
}

class MuijaTest : public SceneTest {};

TEST_F(MuijaTest, FirstFrameIsDarkRedAndTheFadeClears) {
    runEffectSetups();
    muijaRender(500.0f); // drawn under the full fade; the fade is 0.7 after it
    EXPECT_LE(maxDistanceFrom(grabFrame(), {128, 0, 0}), 1);
    expectLight(GL_AMBIENT, {0.5f, 0.05f, 0.05f, 1.0f});
    expectLight(GL_DIFFUSE, {1.0f, 0.05f, 0.05f, 1.0f});
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));

    muijaRender(1200.0f); // drawn at 0.7; 1700 ms in all, the fade is gone
    const Frame partly = grabFrame();
    muijaRender(0.0f);
    const Frame clear = grabFrame();

    Texture* background = loadPicture("tavara\\neito.jpg");
    Texture* overlay = loadPicture("tavara\\pimee.jpg");
    clearFrame();
    drawImage(background, 0, 0, 640, 480, 1.0f, false);
    drawImage(overlay, 0, 0, 640, 480, 0.25f, true);
    const Frame reference = grabFrame();
    for (const auto& c : CORNERS) {
        const Rgb scene = reference.at(c[0], c[1]);
        EXPECT_LE(distance(clear.at(c[0], c[1]), scene), 2);
        EXPECT_LE(distance(partly.at(c[0], c[1]), mix({128, 0, 0}, scene, 0.7)), 2);
    }

    // Each scene plays once: its setup does not bring the fade back.
    muijaSetup();
    muijaRender(0.0f);
    for (const auto& c : CORNERS)
        EXPECT_LE(distance(grabFrame().at(c[0], c[1]), reference.at(c[0], c[1])), 2);
}

class NeljasTest : public SceneTest {};

TEST_F(NeljasTest, FirstFramePutsBackAWhiteLightAboveTheViewer) {
    runEffectSetups();
    musicScriptPosition(12, 0);
    tokaRender(16.0f); // leaves light 1 green and culling off
    neljasRender(16.0f);
    expectLight(GL_AMBIENT, {0.5f, 0.5f, 0.5f, 1.0f});
    expectLight(GL_DIFFUSE, {1, 1, 1, 1});
    // Set under the identity matrix: eye coordinates as given.
    expectLight(GL_POSITION, {0.0f, 1.0f, -1.0f, 1.0f});
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    const Frame frame = grabFrame();
    EXPECT_EQ(frame.at(2, 2).r + frame.at(2, 2).g + frame.at(2, 2).b, 0) << "cleared to black";
    EXPECT_GT(maxDistanceFrom(frame, {0, 0, 0}), 30) << "the model is drawn";
}
