// The whole show against its reference frames: one run of the capture
// program renders every instant of instants.txt at 160 x 120 and 30 frames a
// second, and each picture is compared with at-MS.png beside the list.
//
// Tolerance: a frame matches when at most 96 of its 19,200 pixels (0.5 %)
// differ by more than 16 levels in some channel, and the mean difference of
// all its channel values is at most 1 level. Builds of the same Mesa render
// these frames identically (rebuilt at -O0, llvmpipe on one thread or at
// 128-bit vectors: no pixel differs), so the margin is for rounding alone: a
// few edge pixels flipping, a level of noise everywhere. A visible change
// moves far more: a camera that swings half a degree changes some 400 pixels
// by more than 16, a fade that runs 10 % fast shifts a frame by 1.6 levels on
// average, a jitter or a texture or a light that changed, thousands.
//
// On a failure the frame the show drew and a difference picture (four times
// the difference) are kept in build/test-scratch/golden/ and named; run
// tests/golden/update.sh to look at every change and to take the new frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "tests/support/kit.h"
#include "tools/capture_encode.h"

using namespace kit;

namespace {

const std::string GOLDEN = TUHKALA_SOURCE_DIR "/tests/golden/";
const int THRESHOLD = 16;      // levels of one channel
const int PIXELS_OVER = 96;    // 0.5 % of 160 x 120
const double MEAN_LIMIT = 1.0; // levels, over every channel value

std::vector<int> instants() {
    std::vector<int> list;
    std::ifstream in(GOLDEN + "instants.txt");
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#')
            list.push_back(std::stoi(line));
    }
    return list;
}

} // namespace

TEST(ReferenceFrames, EveryInstantOfTheShowMatches) {
    const std::vector<int> list = instants();
    ASSERT_GE(list.size(), 70u) << "instants.txt";
    const std::string out = scratchDir("golden");
    run("rm -f " + quote(out) + "/*.png");
    std::string command = quote(TUHKALA_BINARY_DIR "/tuhkala-capture") +
                          " --quiet --size 160x120 --fps 30 --data " + quote(TUHKALA_BINARY_DIR) +
                          " -o " + quote(out + "/");
    for (int ms : list)
        command += " --at " + std::to_string(ms);
    ASSERT_EQ(run(command + " 2>&1").status, 0) << command;

    for (int ms : list) {
        const std::string name = "at-" + std::to_string(ms) + ".png";
        const Picture want = readPng(GOLDEN + name), got = readPng(out + "/" + name);
        ASSERT_EQ(want.problem + got.problem, "") << "run tests/golden/update.sh for new frames";
        const Difference d = compare(got, want, THRESHOLD);
        if (d.pixelsOver > PIXELS_OVER || d.mean > MEAN_LIMIT) {
            const std::string diff = out + "/diff-" + std::to_string(ms) + ".png";
            const Picture picture = differencePicture(got, want);
            writeFile(diff, encodePng(picture.rgb.data(), picture.width, picture.height));
            char figures[160];
            std::snprintf(figures, sizeof figures,
                          "%d ms: %d pixels differ by more than %d (at most %d), mean "
                          "difference %.2f (at most %.2f)",
                          ms, d.pixelsOver, THRESHOLD, PIXELS_OVER, d.mean, MEAN_LIMIT);
            ADD_FAILURE() << figures << "\n  drawn:      " << out << "/" << name
                          << "\n  reference:  " << GOLDEN << name << "\n  difference: " << diff;
        }
    }
}
