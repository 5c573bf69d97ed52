// The whole show against its reference frames: one run of the capture
// program renders every instant of instants.txt at 160 x 120 and 30 frames a
// second, and each picture is compared with at-MS.png beside the list.
//
// Tolerance: a frame matches when at most 96 of its 19,200 pixels (0.5 %)
// differ by more than 16 levels in some channel, the mean difference of all
// its channel values is at most 1 level, and in every 20 x 20 block each
// channel's mean signed difference (each value's difference clamped to 16
// levels) is at most 1 level. Builds of the same Mesa render these frames
// identically (rebuilt at -O0, llvmpipe on one thread or at 128-bit vectors:
// no pixel differs), so the margin is for rounding alone: a few edge pixels
// flipping (clamped, each weighs little in a block mean), a level of noise
// that goes both ways. What it catches: a camera that swings half a degree
// changes some 400 pixels by more than 16; a texture, a jitter or a light
// that changed, thousands. A fade that runs fast or a dimmer light shifts a
// whole region one way, and the block means see that even where the frame is
// dark. Measured on the reference frames, the smallest uniform change of
// brightness (every value darker, and brighter, by a share) that fails is
// 1 % on the brightest (19200 ms, white, darker only; 20000 ms, mean 160
// levels), at most 2 % on every frame with a mean of 30 levels or more, at
// most 4 % on those with a mean of 7 to 30 (the dark scenes "joku efu" and
// "neljas efu" have means of 7.5 to 17), and 7 % on the darkest, 76800 ms
// (mean 5.3). The second test holds every reference frame to 3 % from a mean
// of 30 levels, 5 % from 7 and 10 % below (a black frame has no brightness to
// change), and to looking unlike every other instant's frame.
//
// The pictures are llvmpipe's: the test kit makes every test render there,
// whatever GPU the machine has (kit.cpp), and the first test checks it.
//
// On a failure the frame the show drew and a difference picture (four times
// the difference) are kept in build/test-scratch/golden/ and named; run
// tests/golden/update.sh to look at every change and to take the new frames.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numeric>

#include "platform/offscreen.h"
#include "tests/support/kit.h"
#include "tools/capture_encode.h"

using namespace kit;

namespace {

const std::string GOLDEN = TUHKALA_SOURCE_DIR "/tests/golden/";
const int THRESHOLD = 16;       // levels of one channel
const int PIXELS_OVER = 96;     // 0.5 % of 160 x 120
const double MEAN_LIMIT = 1.0;  // levels, over every channel value
const int BLOCK = 20;           // pixels a side
const double BLOCK_LIMIT = 1.0; // levels, one channel's signed mean in a block

std::vector<int> instants() {
    std::vector<int> list;
    std::ifstream in(GOLDEN + "instants.txt");
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            list.push_back(std::stoi(line));
    return list;
}

// Whether got passes for want; when not and why is given, the figures.
bool matches(const Picture& got, const Picture& want, std::string* why = nullptr) {
    const Difference d = compare(got, want, THRESHOLD);
    const bool close = d.pixelsOver <= PIXELS_OVER && d.mean <= MEAN_LIMIT;
    // Each block's signed sum of clamped differences, per channel (and one
    // spare sum, so that even an empty picture has a largest); not needed
    // when the picture already failed, unless for the figures.
    const int across = (want.width + BLOCK - 1) / BLOCK, down = (want.height + BLOCK - 1) / BLOCK;
    std::vector<double> sums(3 * size_t(across * down) + 1);
    for (size_t i = 0; (close || why) && i < want.rgb.size() && got.rgb.size() == want.rgb.size();
         ++i) {
        const int x = int(i / 3) % want.width, y = int(i / 3) / want.width;
        sums[3 * (y / BLOCK * across + x / BLOCK) + i % 3] +=
            std::clamp(got.rgb[i] - want.rgb[i], -THRESHOLD, THRESHOLD);
    }
    const auto worst = std::max_element(
        sums.begin(), sums.end(), [](double a, double b) { return std::abs(a) < std::abs(b); });
    const double bias = *worst / (BLOCK * BLOCK);
    const bool ok = close && std::abs(bias) <= BLOCK_LIMIT;
    if (!ok && why) {
        const int block = int(worst - sums.begin()) / 3;
        char figures[240];
        std::snprintf(figures, sizeof figures,
                      "%d pixels differ by more than %d (at most %d), mean difference %.2f (at "
                      "most %.2f), block at (%d, %d) off by %.2f (at most %.2f)",
                      d.pixelsOver, THRESHOLD, PIXELS_OVER, d.mean, MEAN_LIMIT,
                      block % across * BLOCK, block / across * BLOCK, bias, BLOCK_LIMIT);
        *why = figures;
    }
    return ok;
}

// Every channel value times factor, rounded, at most 255.
Picture scaled(const Picture& picture, double factor) {
    Picture out = picture;
    for (unsigned char& value : out.rgb)
        value = static_cast<unsigned char>(std::min(255.0, std::round(value * factor)));
    return out;
}

} // namespace

TEST(ReferenceFrames, EveryInstantOfTheShowMatches) {
    // Another renderer differs by design, and would only confuse the figures.
    std::string problem;
    ASSERT_TRUE(platform::openOffscreen(16, 16, &problem)) << problem;
    const std::string renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    platform::closeOffscreen();
    ASSERT_EQ(renderer.rfind("llvmpipe", 0), 0u) << "renders on " << renderer;

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
        std::string why;
        if (!matches(got, want, &why)) {
            const std::string diff = out + "/diff-" + std::to_string(ms) + ".png";
            const Picture picture = differencePicture(got, want);
            writeFile(diff, encodePng(picture.rgb.data(), picture.width, picture.height));
            ADD_FAILURE() << ms << " ms: " << why << "\n  drawn:      " << out << "/" << name
                          << "\n  reference:  " << GOLDEN << name << "\n  difference: " << diff;
        }
    }
}

TEST(ReferenceFrames, AUniformChangeFailsAndNoTwoInstantsLookAlike) {
    const std::vector<int> list = instants();
    std::vector<Picture> frames;
    for (int ms : list) {
        frames.push_back(readPng(GOLDEN + "at-" + std::to_string(ms) + ".png"));
        ASSERT_EQ(frames.back().problem, "");
    }
    for (size_t i = 0; i < list.size(); ++i) {
        const Picture& frame = frames[i];
        // Darker and brighter by percent (brighter changes nothing in white).
        auto seen = [&frame](int percent) {
            const Picture brighter = scaled(frame, 1 + percent / 100.0);
            return !matches(scaled(frame, 1 - percent / 100.0), frame) &&
                   (brighter.rgb == frame.rgb || !matches(brighter, frame));
        };
        const double mean =
            std::accumulate(frame.rgb.begin(), frame.rgb.end(), 0.0) / frame.rgb.size();
        // A black frame has no brightness to change.
        const int percent = mean < 1.0 ? 0 : mean >= 30.0 ? 3 : mean >= 7.0 ? 5 : 10;
        EXPECT_TRUE(percent == 0 || seen(percent))
            << list[i] << " ms (mean " << mean << "): a uniform change of " << percent
            << " % passes";
        for (size_t j = i + 1; j < list.size(); ++j)
            EXPECT_FALSE(matches(frames[j], frame))
                << list[i] << " and " << list[j] << " ms look alike: keep one of them";
    }
}
