// "joku efu" (flashes on rows, quarter pictures and letters by order and row)
// and the level layer under "toka efu" (texture scroll, random turn), plus
// start-up and every scene with no media at all.
#include <unistd.h>

#include <cmath>
#include <map>

#include "resources/model.h"
#include "tests/effects/scene_harness.h"

namespace {

float diffuseRed() {
    return lightVector(GL_DIFFUSE)[0];
}

// Light state and camera stay put while frameTime is 0 and the rows are odd
// (no flash), so two such frames differ only by their pictures.
Frame jokuFrame(int order, int row) {
    musicScriptPosition(order, row);
    jokuRender(0.0f);
    return grabFrame();
}

// The frame plus one picture added at half strength, as the scene adds it
// (within a rounding step per channel).
Frame withPicture(const Frame& base, const char* path, float x0, float y0, float x1, float y1) {
    clearFrame();
    drawImage(loadPicture(path), x0, y0, x1, y1, 0.5f, true);
    Frame sum = grabFrame();
    for (size_t i = 0; i < sum.pixels.size(); ++i)
        sum.pixels[i] = static_cast<unsigned char>(std::min(255, sum.pixels[i] + base.pixels[i]));
    return sum;
}

} // namespace

class JokuTest : public SceneTest {};

TEST_F(JokuTest, FlashesOnlyOnAChangeOntoAnEvenRow) {
    jokuSetup();
    musicScriptPosition(20, 1); // first report, odd row
    jokuRender(16.0f);
    // The first frame's light is dim and below the viewer.
    const std::vector<float> diffuse = lightVector(GL_DIFFUSE);
    const std::vector<float> position = lightVector(GL_POSITION);
    EXPECT_EQ(diffuse, std::vector<float>({0.0f, 0.1f, 0.1f, 1.0f}));
    EXPECT_EQ(position, std::vector<float>({0.0f, -4.0f, 0.0f, 1.0f}));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    jokuRender(0.0f);
    EXPECT_FLOAT_EQ(diffuseRed(), 0.0f);

    musicScriptPosition(20, 2); // onto an even row: the next frame flashes
    jokuRender(0.0f);
    EXPECT_FLOAT_EQ(diffuseRed(), 0.0f);
    jokuRender(100.0f);
    EXPECT_FLOAT_EQ(diffuseRed(), 1.0f);
    jokuRender(0.0f); // decayed by 0.7 in the last frame
    EXPECT_NEAR(diffuseRed(), 0.3f, 1e-5);

    // Staying on the row does not re-arm it; the decay stops at 0.
    jokuRender(200.0f);
    jokuRender(0.0f);
    EXPECT_FLOAT_EQ(diffuseRed(), 0.0f);

    musicScriptPosition(20, 3); // change onto an odd row
    jokuRender(0.0f);
    jokuRender(0.0f);
    EXPECT_FLOAT_EQ(diffuseRed(), 0.0f);

    musicScriptPosition(21, 3); // order changes, row odd: no flash
    jokuRender(0.0f);
    jokuRender(0.0f);
    EXPECT_FLOAT_EQ(diffuseRed(), 0.0f);

    musicScriptPosition(22, 0); // a change of order onto an even row flashes
    jokuRender(0.0f);
    jokuRender(0.0f);
    EXPECT_FLOAT_EQ(diffuseRed(), 1.0f);
}

TEST_F(JokuTest, LettersFollowTheRowFromOrderThirtyTwo) {
    jokuSetup();
    const Frame base = jokuFrame(31, 33); // pan camera, no pictures
    const char* const letters[3] = {"tavara\\letter1.jpg", "tavara\\letter2.jpg",
                                    "tavara\\letter3.jpg"};
    Frame expected[3];
    for (int i = 0; i < 3; ++i)
        expected[i] = withPicture(base, letters[i], 192, 112, 448, 368);
    // Rows 33, 35, 37, 39 give row mod 3 of 0, 2, 1, 0.
    const int rows[4] = {33, 35, 37, 39};
    const int letter[4] = {0, 2, 1, 0};
    for (int k = 0; k < 4; ++k) {
        const Frame frame = jokuFrame(32, rows[k]);
        EXPECT_LE(maxDifference(frame, expected[letter[k]]), 2) << "row " << rows[k];
        EXPECT_GT(countDifferences(frame, base, 4), 1000) << "row " << rows[k];
    }
    EXPECT_GT(countDifferences(expected[0], expected[1], 8), 1000) << "letters look alike";
    EXPECT_GT(countDifferences(expected[1], expected[2], 8), 1000) << "letters look alike";
    // Order 31 draws no letter.
    EXPECT_LE(maxDifference(jokuFrame(31, 35), base), 1);
}

TEST_F(JokuTest, QuarterPicturesByOrderOnlyInTheFirstHalfOfAPattern) {
    jokuSetup();
    const Frame orbitBase = jokuFrame(23, 1); // orbit camera, no picture
    const Frame lowerLeft = jokuFrame(24, 1);
    EXPECT_LE(maxDifference(lowerLeft, withPicture(orbitBase, "tavara\\c1.jpg", 0, 240, 320, 480)),
              2);
    const Frame lowerRight = jokuFrame(27, 31);
    EXPECT_LE(
        maxDifference(lowerRight, withPicture(orbitBase, "tavara\\c4.jpg", 320, 240, 620, 480)), 2);
    // The 20-unit strip right of x = 620 stays as it was.
    for (int y = 250; y < 480; y += 20)
        EXPECT_LE(distance(lowerRight.at(636, y), orbitBase.at(636, y)), 1);
    EXPECT_LE(maxDifference(jokuFrame(30, 1), orbitBase), 1);

    const Frame panBase = jokuFrame(23, 33);
    EXPECT_LE(maxDifference(jokuFrame(24, 33), panBase), 1) << "no picture from row 32 on";
    EXPECT_LE(maxDifference(jokuFrame(29, 63), panBase), 1);
}

class LevelTest : public SceneTest {};

TEST_F(LevelTest, SetupRepeatsTheTexturesOfTheFirstTwoMeshesTenTimes) {
    levelSetup();
    const Model* level = levelLoadedModel();
    ASSERT_NE(level, nullptr);
    Model original;
    // Frees the reference copy's records on every way out of the test.
    struct Release {
        Model* model;
        ~Release() { freeModelRecords(model); }
    } release{&original};
    ASSERT_EQ(original.load("tavara\\level.3ds"), 1);
    ASSERT_GE(original.meshCount, 2) << "the level needs two scrolling meshes";
    ASSERT_EQ(level->meshCount, original.meshCount);
    for (int m = 0; m < original.meshCount; ++m) {
        const Mesh* got = level->meshes[m];
        const Mesh* file = original.meshes[m];
        ASSERT_EQ(got->vertexCount, file->vertexCount);
        const float factor = m < 2 ? 10.0f : 1.0f;
        for (int i = 0; i < file->vertexCount; ++i) {
            ASSERT_FLOAT_EQ(got->vertices[i].u, file->vertices[i].u * factor) << m << ":" << i;
            ASSERT_FLOAT_EQ(got->vertices[i].v, file->vertices[i].v * factor) << m << ":" << i;
        }
    }
    EXPECT_GE(original.meshes[0]->vertexCount, 121);
    EXPECT_GE(original.meshes[1]->vertexCount, 121);
}

TEST_F(LevelTest, ScrollStepsBy0_01AndWrapsPastTen) {
    levelSetup();
    Model* level = levelLoadedModel();
    ASSERT_NE(level, nullptr);
    ASSERT_GE(level->meshCount, 2);
    MeshVertex& first = level->meshes[0]->vertices[0];
    MeshVertex& last = level->meshes[1]->vertices[120];
    first.u = 9.99f; // + 0.01 rounds to exactly 10.0, which does not wrap yet
    first.v = 5.0f;
    last.u = 9.995f;
    last.v = 0.0f;
    levelRender(16.0f);
    EXPECT_EQ(first.u, 10.0f);
    EXPECT_EQ(first.v, static_cast<float>(5.0f + 0.01));
    EXPECT_EQ(last.u, 0.0f);
    EXPECT_EQ(last.v, static_cast<float>(0.01));
    levelRender(0.0f); // the step is per call, not per millisecond
    EXPECT_EQ(first.u, 0.0f);
    EXPECT_NEAR(first.v, 5.02f, 1e-5);
    EXPECT_NEAR(last.v, 0.02f, 1e-6);

    // Vertex 121 and meshes past the second do not scroll.
    if (level->meshes[0]->vertexCount > 121) {
        MeshVertex& beyond = level->meshes[0]->vertices[121];
        const float u = beyond.u;
        levelRender(16.0f);
        EXPECT_EQ(beyond.u, u);
    }
    for (int m = 2; m < level->meshCount; ++m) {
        Mesh* mesh = level->meshes[m];
        if (mesh->vertexCount == 0)
            continue;
        const float u = mesh->vertices[0].u;
        levelRender(16.0f);
        EXPECT_EQ(mesh->vertices[0].u, u);
    }
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
}

// The turn angle that one call of the layer leaves in the modelview matrix,
// which is translate(0, -0.18, 0) * rotate(-90 about x) * rotate(angle about y):
// its first row is (cos, 0, sin).
int levelTurnAfterOneCall() {
    levelRender(16.0f);
    float m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    const double degrees = std::atan2(m[8], m[0]) * 180.0 / M_PI;
    EXPECT_NEAR(degrees, std::lround(degrees), 1e-3);
    EXPECT_NEAR(m[13], -0.18f, 1e-6);
    return static_cast<int>(std::lround(degrees));
}

TEST_F(LevelTest, TurnTakesMinus35ToMinus31WithTheirWeights) {
    // The first call takes the first result, 16838: 16838 % 500 - 50 = 288
    // gives two whole steps, and takes nothing more.
    demoSeedRand(1);
    EXPECT_EQ(levelTurnAfterOneCall(), -33);
    EXPECT_EQ(demoRand(), 5758);

    // Every residue of rand() % 500, each from a seed whose first result has
    // it. Without levelSetup the layer only sets its matrix, so this is cheap.
    std::vector<unsigned> seedOf(500, 0);
    int found = 0;
    for (unsigned seed = 1; found < 500; ++seed) {
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
        const int angle = levelTurnAfterOneCall();
        const int expected = residue <= 150 ? -35 : -34 + (residue - 151) / 100;
        EXPECT_EQ(angle, expected) << "rand % 500 = " << residue;
        ++counts[angle];
    }
    const std::map<int, int> weights = {{-35, 151}, {-34, 100}, {-33, 100}, {-32, 100}, {-31, 49}};
    EXPECT_EQ(counts, weights);
}

class NoMediaTest : public SceneTest {};

TEST_F(NoMediaTest, EveryScenePlaysWithoutItsFiles) {
    char folder[] = "/tmp/tuhkala-nomedia-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    ASSERT_EQ(chdir(folder), 0);
    runEffectSetups();
    ASSERT_NE(levelLoadedModel(), nullptr);
    EXPECT_EQ(levelLoadedModel()->meshCount, 0);

    musicScriptPosition(12, 8);
    ekaRender(16.0f);
    tokaRender(16.0f); // draws the empty level and scrolls nothing
    kakaRender(16.0f);
    muijaRender(0.0f);
    EXPECT_LE(maxDistanceFrom(grabFrame(), {128, 0, 0}), 1) << "the fade still covers all";
    musicScriptPosition(32, 2);
    jokuRender(16.0f);
    neljasRender(16.0f);
    EXPECT_EQ(maxDistanceFrom(grabFrame(), {0, 0, 0}), 0) << "nothing but the clear";
    musicScriptPosition(45, 0);
    tymaRender(16.0f);
    loppuRender(16.0f);
    EXPECT_EQ(maxDistanceFrom(grabFrame(), {0, 0, 0}), 0);
    rmdir(folder);
}
