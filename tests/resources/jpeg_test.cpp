// Tests of the JPEG decoder on pictures encoded here with libjpeg.
//
// Test thread; no GL. Sizes in pixels.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "resources/jpeg.h"
#include "test_files.h"

using namespace testfiles;

namespace {

// Encodes width x height pixels of the given components (1 grey, 3 RGB, 4 CMYK).
Bytes encode(int width, int height, int components, const Bytes& pixels, bool progressive = false) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(pixels.data()) +
                       static_cast<size_t>(cinfo.next_scanline) * width * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes result(out, out + outSize);
    free(out);
    return result;
}

// Top half red, bottom half blue, RGB.
Bytes redOverBlue(int width, int height) {
    Bytes pixels;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            bool top = y < height / 2;
            pixels = cat({pixels, Bytes{static_cast<unsigned char>(top ? 255 : 0), 0,
                                        static_cast<unsigned char>(top ? 0 : 255)}});
        }
    }
    return pixels;
}

struct Result {
    int width = -1;
    int height = -1;
    int channels = -1;
    unsigned char* pixels = nullptr;
    explicit Result(const Bytes& file) {
        pixels = decodeJpeg(&width, &height, &channels, file.data(), static_cast<int>(file.size()));
    }
    ~Result() { free(pixels); }
};

} // namespace

TEST(JpegDecode, ColourIsRgbTopRowFirst) {
    Bytes file = encode(64, 32, 3, redOverBlue(64, 32));
    keepSeed("jpeg", "colour.jpg", file);
    Result r(file);
    ASSERT_NE(r.pixels, nullptr);
    EXPECT_EQ(r.width, 64);
    EXPECT_EQ(r.height, 32);
    EXPECT_EQ(r.channels, 3);
    // First pixel is top-left: red. Last is bottom-right: blue. 6144 bytes.
    EXPECT_NEAR(r.pixels[0], 255, 3);
    EXPECT_NEAR(r.pixels[1], 0, 3);
    EXPECT_NEAR(r.pixels[2], 0, 3);
    EXPECT_NEAR(r.pixels[6141], 0, 3);
    EXPECT_NEAR(r.pixels[6142], 0, 3);
    EXPECT_NEAR(r.pixels[6143], 255, 3);

    // Odd sizes have no gaps between rows: row 2 of a 13-wide picture starts at 2 * 39.
    Bytes odd = encode(13, 9, 3, redOverBlue(13, 9), true);
    keepSeed("jpeg", "progressive.jpg", odd);
    Result o(odd);
    ASSERT_NE(o.pixels, nullptr);
    EXPECT_EQ(o.width, 13);
    EXPECT_NEAR(o.pixels[2 * 39], 255, 8);
    EXPECT_NEAR(o.pixels[2 * 39 + 2], 0, 8);
    EXPECT_NEAR(o.pixels[7 * 39 + 12 * 3 + 2], 255, 8);
    EXPECT_NEAR(o.pixels[7 * 39 + 12 * 3], 0, 8);
}

TEST(JpegDecode, GreyIsOneBytePerPixel) {
    Bytes grey;
    for (int y = 0; y < 32; y++) {
        for (int x = 0; x < 64; x++) {
            grey.push_back(x < 32 ? 40 : 200);
        }
    }
    Bytes file = encode(64, 32, 1, grey);
    keepSeed("jpeg", "grey.jpg", file);
    Result r(file);
    ASSERT_NE(r.pixels, nullptr);
    EXPECT_EQ(r.channels, 1);
    EXPECT_EQ(r.width * r.height * r.channels, 2048);
    EXPECT_NEAR(r.pixels[0], 40, 2);
    EXPECT_NEAR(r.pixels[63], 200, 2);
    EXPECT_NEAR(r.pixels[2047], 200, 2);
    EXPECT_NEAR(r.pixels[31 * 64], 40, 2);
}

TEST(JpegDecode, FailuresYieldNull) {
    Result empty(Bytes{});
    EXPECT_EQ(empty.pixels, nullptr);
    const char* words = "not a picture at all";
    Result text(Bytes(words, words + strlen(words)));
    EXPECT_EQ(text.pixels, nullptr);
    Result markerOnly(Bytes{0xFF, 0xD8, 0xFF});
    EXPECT_EQ(markerOnly.pixels, nullptr);

    // Cut short after the header: null, but the header's values were written.
    Bytes whole = encode(64, 32, 3, redOverBlue(64, 32));
    size_t scanStart = 0;
    for (size_t i = 0; i + 1 < whole.size() && !scanStart; i++) {
        if (whole[i] == 0xFF && whole[i + 1] == 0xDA) {
            scanStart = i + 14; // past the start-of-scan header of 3 components
        }
    }
    ASSERT_GT(scanStart, 0u);
    Bytes cut(whole.begin(), whole.begin() + static_cast<long>((scanStart + whole.size()) / 2));
    keepSeed("jpeg", "truncated.jpg", cut);
    Result truncated(cut);
    EXPECT_EQ(truncated.pixels, nullptr);
    EXPECT_EQ(truncated.width, 64);
    EXPECT_EQ(truncated.height, 32);
    EXPECT_EQ(truncated.channels, 3);

    // Four channels have no texture format: null after the header.
    Bytes cmyk = encode(8, 8, 4, Bytes(8 * 8 * 4, 100));
    Result four(cmyk);
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
