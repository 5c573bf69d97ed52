// The shell around the frame loop: data files named the show's way, the
// schedule's shape and its search, and the window procedure's resize.
//
// Main thread. Times in milliseconds, sizes in pixels.
#include <GL/gl.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "app/shell.h"
#include "effects/effects.h"
#include "tests/support/gl_test.h"
#include "tests/support/kit.h"

using namespace kit;

TEST(DataFiles, BackslashPathsReadWholeEmptyOrNotAtAll) {
    EXPECT_EQ(platform::dataPath("tavara\\sub\\x.3ds"), "tavara/sub/x.3ds");
    EXPECT_EQ(platform::dataPath(nullptr), "");
    const std::string dir = scratchDir("data-files");
    ASSERT_EQ(chdir(dir.c_str()), 0);
    std::filesystem::create_directory("tavara");
    Bytes bytes(200003); // more than one read chunk, every byte value
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>((i * 7 + i / 256) & 0xFF);
    ASSERT_TRUE(writeFile("tavara/blob.bin", bytes) && writeFile("tavara/empty.bin", {}));

    const int descriptors = openDescriptors();
    const struct {
        const char* path;
        bool ok;
        Bytes content;
    } cases[] = {{"tavara\\blob.bin", true, bytes},
                 {"tavara\\empty.bin", true, {}},
                 {"tavara\\missing.jpg", false, {}},
                 {"tavara", false, {}}};
    for (const auto& c : cases) {
        Bytes got = {9, 9};
        EXPECT_EQ(platform::readDataFile(c.path, got), c.ok) << c.path;
        EXPECT_TRUE(got == c.content) << c.path;
    }
    EXPECT_EQ(openDescriptors(), descriptors) << "a file was left open";
    EXPECT_EQ(platform::openDataFile("tavara\\missing.jpg", "rb"), nullptr);
    EXPECT_EQ(platform::openDataFile(nullptr, "rb"), nullptr);
}

TEST(Schedule, RowsTileTheShowFromZeroTo169000AndEndWithAnEmptyRow) {
    int rows = 0;
    for (; effectTable[rows].render; ++rows) {
        const EffectEntry& row = effectTable[rows];
        EXPECT_NE(row.name, nullptr);
        EXPECT_EQ(row.start, rows == 0 ? 0 : effectTable[rows - 1].end + 1) << row.name;
        EXPECT_LT(row.start, row.end) << row.name;
        // Both ends belong to this row, the millisecond after to the next one.
        EXPECT_EQ(findEffect(effectTable, row.start), &row);
        EXPECT_EQ(findEffect(effectTable, row.end), &row);
    }
    ASSERT_EQ(rows, 8);
    EXPECT_EQ(effectTable[7].end, 169000);
    EXPECT_TRUE(!effectTable[8].name && effectTable[8].start == 0 && effectTable[8].end == 0);
    EXPECT_EQ(findEffect(effectTable, 169001), nullptr);
    EXPECT_EQ(findEffect(effectTable, -1), nullptr);
    // With overlapping spans the first row that holds the time wins.
    const EffectEntry overlapping[] = {
        {"x", ekaRender, 0, 10}, {"y", tokaRender, 5, 20}, {nullptr, nullptr, 0, 0}};
    EXPECT_EQ(findEffect(overlapping, 7), &overlapping[0]);
    EXPECT_EQ(findEffect(overlapping, 11), &overlapping[1]);
}

using Resize = GlTest;

TEST_F(Resize, FollowsTheClientExceptAtZeroHeightOrWithoutAContext) {
    // The viewport's size and a 45 degree perspective (near 0.1f, far 100).
    auto expectView = [](int width, int height, double aspect) {
        GLint vp[4];
        glGetIntegerv(GL_VIEWPORT, vp);
        EXPECT_EQ(vp[2] * 10000 + vp[3], width * 10000 + height);
        const double focal = 1.0 / std::tan(22.5 * M_PI / 180.0), n = double(0.1f), f = 100.0;
        GLfloat m[16];
        glGetFloatv(GL_PROJECTION_MATRIX, m);
        EXPECT_NEAR(m[0], focal / aspect, 1e-5);
        EXPECT_NEAR(m[5], focal, 1e-5);
        EXPECT_NEAR(m[10], (f + n) / (n - f), 1e-5);
        EXPECT_NEAR(m[14], 2.0 * f * n / (n - f), 1e-6);
    };
    ASSERT_TRUE(platform::openOffscreen(320, 200, nullptr));
    initGl();
    // A surface drawn again at the same depth still shows.
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST) && glInt(GL_DEPTH_FUNC) == GL_LEQUAL);
    // Before any resize the aspect is the outer window's, whatever the surface.
    expectView(320, 200, 640.0 / 480.0);
    glTranslatef(4.0f, 5.0f, 6.0f);
    glMatrixMode(GL_TEXTURE);
    windowProc({platform::Event::Resize, 200, 100});
    expectView(200, 100, 2.0);
    // The model-view matrix is selected again and left as it was.
    EXPECT_EQ(glInt(GL_MATRIX_MODE), GL_MODELVIEW);
    GLfloat mv[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    EXPECT_EQ(mv[13], 5.0f);

    windowProc({platform::Event::Resize, 300, 0}); // minimised: nothing changes
    expectView(200, 100, 2.0);
    const platform::Backend* offscreen = platform::currentBackend();
    platform::Backend noContext = *offscreen;
    noContext.contextCurrent = [] { return false; };
    platform::setBackend(&noContext);
    resizeViewport(10, 40);
    platform::setBackend(offscreen);
    expectView(200, 100, 2.0);
    windowProc({platform::Event::Resize, 150, 300});
    expectView(150, 300, 0.5);
}

TEST_F(Resize, KeepingTheShapeCentresTheLargest43PictureWithTheOddPixelRightAndBelow) {
    setPictureFit(PictureFit::KeepAspect);
    initGl();
    const struct {
        int width, height; // the drawable
        int x, y, w, h;    // the viewport, y from the bottom
    } cases[] = {
        {1920, 1080, 240, 0, 1440, 1080},
        {1000, 500, 167, 0, 666, 500},
        {1001, 500, 167, 0, 666, 500}, // the odd column to the right
        {640, 481, 0, 1, 640, 480},    // the odd row below: GL counts from the bottom
        {401, 600, 0, 150, 401, 300},
        {640, 480, 0, 0, 640, 480},
        {4, 3, 0, 0, 4, 3},
    };
    const double focal = 1.0 / std::tan(22.5 * M_PI / 180.0);
    for (const auto& c : cases) {
        windowProc({platform::Event::Resize, c.width, c.height});
        GLint vp[4];
        glGetIntegerv(GL_VIEWPORT, vp);
        EXPECT_EQ(std::vector<GLint>(vp, vp + 4), (std::vector<GLint>{c.x, c.y, c.w, c.h}))
            << c.width << "x" << c.height;
        GLfloat m[16];
        glGetFloatv(GL_PROJECTION_MATRIX, m);
        EXPECT_NEAR(m[0], focal * 3.0 / 4.0, 1e-6) << "the projection stays 4:3";
        EXPECT_NEAR(m[5], focal, 1e-5);
    }
    // Too small for a picture of a pixel: like a minimised window.
    windowProc({platform::Event::Resize, 1, 5});
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_EQ(vp[2] * 10000 + vp[3], 4 * 10000 + 3);
    setPictureFit(PictureFit::Fill);
}
