// Tests of the JPEG decoder on pictures encoded here with libjpeg.
//
// Test thread; no GL. Sizes in pixels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "resources/jpeg.h"
#include "test_files.h"

using namespace testfiles;

namespace {

// Top half red, bottom half blue, RGB.
Bytes redOverBlue(int width, int height) {
    Bytes pixels;
    for (int i = 0; i < width * height; i++) {
        bool top = i / width < height / 2;
        pixels = cat({pixels, Bytes{uint8_t(top ? 255 : 0), 0, uint8_t(top ? 0 : 255)}});
    }
    return pixels;
}

struct Result {
    int width = -1, height = -1, channels = -1;
    unsigned char* pixels = nullptr;
    explicit Result(const Bytes& file, const char* seed = nullptr) {
        if (seed) {
            keepSeed("jpeg", seed, file);
        }
        pixels = decodeJpeg(&width, &height, &channels, file.data(), static_cast<int>(file.size()));
    }
    ~Result() { free(pixels); }
    // Pixel (x, y from the top), component c, of a decoded picture.
    int at(int x, int y, int c) const { return pixels[(y * width + x) * channels + c]; }
};

} // namespace

TEST(JpegDecode, ColourAndGreyTopRowFirstWithoutGaps) {
    Result r(encodeJpeg(64, 32, 3, redOverBlue(64, 32)), "colour.jpg");
    ASSERT_NE(r.pixels, nullptr);
    EXPECT_EQ(r.width, 64);
    EXPECT_EQ(r.height, 32);
    EXPECT_EQ(r.channels, 3);
    for (int c = 0; c < 3; c++) { // top-left red, bottom-right blue
        EXPECT_NEAR(r.at(0, 0, c), c == 0 ? 255 : 0, 3);
        EXPECT_NEAR(r.at(63, 31, c), c == 2 ? 255 : 0, 3);
    }
    // Odd sizes have no gaps between rows (13 pixels are 39 bytes).
    Result o(encodeJpeg(13, 9, 3, redOverBlue(13, 9), true), "progressive.jpg");
    ASSERT_NE(o.pixels, nullptr);
    EXPECT_EQ(o.width, 13);
    EXPECT_NEAR(o.at(0, 2, 0), 255, 8);
    EXPECT_NEAR(o.at(0, 2, 2), 0, 8);
    EXPECT_NEAR(o.at(12, 7, 2), 255, 8);
    EXPECT_NEAR(o.at(12, 7, 0), 0, 8);

    // Grey: one byte per pixel, left half 40, right half 200.
    Bytes grey;
    for (int i = 0; i < 64 * 32; i++) {
        grey.push_back(i % 64 < 32 ? 40 : 200);
    }
    Result g(encodeJpeg(64, 32, 1, grey), "grey.jpg");
    ASSERT_NE(g.pixels, nullptr);
    EXPECT_EQ(g.channels, 1);
    EXPECT_NEAR(g.at(0, 0, 0), 40, 2);
    EXPECT_NEAR(g.at(63, 0, 0), 200, 2);
    EXPECT_NEAR(g.at(0, 31, 0), 40, 2);
    EXPECT_NEAR(g.at(63, 31, 0), 200, 2);
}

TEST(JpegDecode, FailuresYieldNull) {
    const char* words = "not a picture at all";
    for (const Bytes& junk :
         {Bytes{}, Bytes(words, words + strlen(words)), Bytes{0xFF, 0xD8, 0xFF}}) {
        EXPECT_EQ(Result(junk).pixels, nullptr);
    }
    // Cut short after the header: null, but the header's values were written.
    Bytes whole = encodeJpeg(64, 32, 3, redOverBlue(64, 32));
    size_t scanStart = 0;
    for (size_t i = 0; i + 1 < whole.size() && !scanStart; i++) {
        if (whole[i] == 0xFF && whole[i + 1] == 0xDA) {
            scanStart = i + 14; // past the start-of-scan header of 3 components
        }
    }
    ASSERT_GT(scanStart, 0u);
    Result truncated(Bytes(whole.begin(), whole.begin() + long(scanStart + whole.size()) / 2),
                     "truncated.jpg");
    EXPECT_EQ(truncated.pixels, nullptr);
    EXPECT_EQ(truncated.width, 64);
    EXPECT_EQ(truncated.height, 32);
    EXPECT_EQ(truncated.channels, 3);

    // Four channels have no texture format: null after the header.
    Result four(encodeJpeg(8, 8, 4, Bytes(8 * 8 * 4, 100)));
    EXPECT_EQ(four.pixels, nullptr);
    EXPECT_EQ(four.channels, 4);
    EXPECT_EQ(four.width, 8);

    // Flipping bytes in the entropy-coded data never crashes; whatever decodes
    // has the header's size.
    for (size_t at = scanStart; at < whole.size(); at += 37) {
        Bytes damaged = whole;
        damaged[at] ^= 0x5A;
        Result d(damaged);
        if (d.pixels) {
            EXPECT_EQ(d.width * d.height * d.channels, 6144);
        }
    }
}
