// Facts about the scenes that the reference frames cannot state by
// themselves: the colour of the frames that flashes and fades cover whole
// where no reference frame shows it, light 1 as each first frame puts it back
// after another scene changed it, the level layer's scroll and random turn,
// and every scene without its media. (How many random numbers a frame takes
// shows in every later jitter of the reference frames; the flash of "joku
// efu" in the red of its 44 reference frames.)
//
// Main thread, off-screen 640 x 480 with the show's start-up GL state. Each
// test case runs in its own process, so every scene starts fresh.
#include <unistd.h>

#include <cmath>
#include <functional>
#include <map>

#include "app/shell.h"
#include "effects/demo_rand.h"
#include "effects/effects.h"
#include "music/music.h"
#include "tests/support/gl_test.h"
#include "tests/support/kit.h"

using namespace kit;

namespace {

class Scenes : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped())
            return;
        initGl();
        musicScriptPosition(0, 0);
        demoSeedRand(1);
    }
};

// One frame of a scene at a music position.
Picture frameAt(void (*render)(float), int order, int row, float frameTime) {
    musicScriptPosition(order, row);
    render(frameTime);
    return grabFrame();
}

} // namespace

TEST_F(Scenes, FramesUnderAWholeFlashOrFadeShowOnlyItsColour) {
    runEffectSetups();
    struct Case {
        const char* what;
        void (*render)(float);
        int order;
        Rgb colour;
    } cases[] = {
        // The reference frames show toka's, muija's and tyma's (at 19200,
        // 32033, 64000 and 144033 ms); these two look the same as two of them.
        {"kaka's first frame", kakaRender, 20, {255, 255, 255}},
        {"loppu's first frame", loppuRender, 50, {0, 0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_LE(farthestFrom(frameAt(c.render, c.order, 3, 0.0f), c.colour), 1) << c.what;
}

TEST_F(Scenes, FirstFramesPutBackTheirLightAfterTokaTurnedItGreen) {
    runEffectSetups();
    // Toka's first frame puts back its own light over neljas's (the last
    // setup), then order 12 turns the diffuse colour green and culling off.
    frameAt(tokaRender, 12, 0, 16.0f);
    EXPECT_EQ(light1(GL_AMBIENT), std::vector<float>({0.5f, 0.5f, 1.0f, 1.0f}));
    EXPECT_EQ(light1(GL_DIFFUSE), std::vector<float>({0.0f, 1.0f, 0.0f, 1.0f}));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    const float dim = 0.05f, faint = 0.1f;
    struct Case {
        const char* what;
        void (*render)(float);
        std::vector<float> ambient, diffuse, position;
    } cases[] = {
        {"kaka", kakaRender, {0.5f, 0.5f, 1, 1}, {1, 1, 1, 1}, {0, 1, -1, 1}},
        {"muija", muijaRender, {0.5f, dim, dim, 1}, {1, dim, dim, 1}, {0, 1, -1, 1}},
        {"joku", jokuRender, {0.5f, dim, dim, 1}, {0, faint, faint, 1}, {0, -4, 0, 1}},
        {"neljas", neljasRender, {0.5f, 0.5f, 0.5f, 1}, {1, 1, 1, 1}, {0, 1, -1, 1}},
    };
    for (const Case& c : cases) {
        frameAt(tokaRender, 12, 1, 16.0f);
        frameAt(c.render, 20, 1, 16.0f);
        EXPECT_EQ(light1(GL_AMBIENT), c.ambient) << c.what;
        EXPECT_EQ(light1(GL_DIFFUSE), c.diffuse) << c.what;
        EXPECT_EQ(light1(GL_POSITION), c.position) << c.what;
        EXPECT_TRUE(glIsEnabled(GL_LIGHT1) && glIsEnabled(GL_LIGHTING) &&
                    glIsEnabled(GL_TEXTURE_2D) && glIsEnabled(GL_CULL_FACE))
            << c.what;
    }
}

TEST_F(Scenes, TokaCopiesBeforeAnyRowZeroStartFromNothingToo) {
    runEffectSetups();
    frameAt(tokaRender, 16, 4, 2000.0f); // the white fade is gone after this frame
    // Without time passing, order 15's copies before any row 0 look as they
    // do once row 0 has zeroed them.
    const Picture first = frameAt(tokaRender, 15, 4, 0.0f);
    frameAt(tokaRender, 15, 0, 0.0f);
    EXPECT_EQ(compare(frameAt(tokaRender, 15, 4, 0.0f), first, 0).pixelsOver, 0);
}

TEST_F(Scenes, LevelRepeatsTheFirstTwoMeshesTexturesTenTimesAndScrollsThem) {
    levelSetup();
    Model* level = levelLoadedModel();
    ASSERT_NE(level, nullptr);
    ModelPtr file = loadModelBytes(readFile("tavara/level.3ds"));
    ASSERT_GE(file->meshCount, 3);
    ASSERT_EQ(level->meshCount, file->meshCount);
    for (int m = 0; m < 3; ++m) {
        const float factor = m < 2 ? 10.0f : 1.0f;
        for (int i = 0; i < file->meshes[m]->vertexCount; i += 7) {
            ASSERT_EQ(level->meshes[m]->vertices[i].u, file->meshes[m]->vertices[i].u * factor);
            ASSERT_EQ(level->meshes[m]->vertices[i].v, file->meshes[m]->vertices[i].v * factor);
        }
    }
    MeshVertex& first = level->meshes[0]->vertices[0];
    MeshVertex& last = level->meshes[1]->vertices[120];
    first.u = 9.99f; // + 0.01 rounds to exactly 10.0, which does not wrap yet
    first.v = 5.0f;
    last.u = 9.995f;
    const float third = level->meshes[2]->vertices[0].u;
    levelRender(16.0f);
    EXPECT_EQ(first.u, 10.0f);
    EXPECT_EQ(first.v, static_cast<float>(5.0f + 0.01));
    EXPECT_EQ(last.u, 0.0f);
    levelRender(0.0f); // the step is per call, not per millisecond
    EXPECT_EQ(first.u, 0.0f);
    EXPECT_EQ(first.v, static_cast<float>(static_cast<float>(5.0f + 0.01) + 0.01));
    EXPECT_EQ(level->meshes[2]->vertices[0].u, third);
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
}

TEST_F(Scenes, LevelTurnTakesMinus35ToMinus31WithTheirWeights) {
    // The turn one call leaves in the modelview matrix, translate(0, -0.18, 0)
    // * rotate(-90 about x) * rotate(angle about y): its first row is (cos, 0, sin).
    auto turn = [] {
        levelRender(16.0f);
        float m[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, m);
        const double degrees = std::atan2(m[8], m[0]) * 180.0 / M_PI;
        EXPECT_NEAR(degrees, std::lround(degrees), 1e-3);
        EXPECT_NEAR(m[13], -0.18f, 1e-6);
        return static_cast<int>(std::lround(degrees));
    };
    // Every residue of rand() % 500, each from a seed whose first result has
    // it. Without levelSetup the layer only sets its matrix, so this is cheap.
    std::vector<unsigned> seedOf(500, 0);
    for (unsigned seed = 1, found = 0; found < 500; ++seed) {
        demoSeedRand(seed);
        unsigned& slot = seedOf[demoRand() % 500];
        found += slot == 0;
        slot = slot == 0 ? seed : slot;
    }
    // r = 100, 200, 300, 400 times the single-precision 0.01 falls just short
    // of the whole number, so residues 150, 250, 350, 450 take the lower step.
    std::map<int, int> counts;
    for (int residue = 0; residue < 500; ++residue) {
        demoSeedRand(seedOf[residue]);
        const int angle = turn();
        EXPECT_EQ(angle, residue <= 150 ? -35 : -34 + (residue - 151) / 100) << residue;
        ++counts[angle];
    }
    EXPECT_EQ(counts,
              (std::map<int, int>{{-35, 151}, {-34, 100}, {-33, 100}, {-32, 100}, {-31, 49}}));
}

TEST_F(Scenes, EveryScenePlaysWithoutItsFiles) {
    char folder[] = "/tmp/tuhkala-nomedia-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    ASSERT_EQ(chdir(folder), 0);
    runEffectSetups();
    ASSERT_NE(levelLoadedModel(), nullptr);
    EXPECT_EQ(levelLoadedModel()->meshCount, 0);
    frameAt(ekaRender, 12, 8, 16.0f);
    frameAt(tokaRender, 12, 8, 16.0f); // draws the empty level and scrolls nothing
    frameAt(kakaRender, 12, 8, 16.0f);
    EXPECT_LE(farthestFrom(frameAt(muijaRender, 12, 8, 0.0f), {128, 0, 0}), 1);
    frameAt(jokuRender, 32, 2, 16.0f);
    EXPECT_EQ(farthestFrom(frameAt(neljasRender, 32, 2, 16.0f), {0, 0, 0}), 0);
    frameAt(tymaRender, 45, 0, 16.0f);
    EXPECT_EQ(farthestFrom(frameAt(loppuRender, 45, 0, 16.0f), {0, 0, 0}), 0);
    rmdir(folder);
}
