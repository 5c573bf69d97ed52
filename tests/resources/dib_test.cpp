// Tests of the BMP decoder on small files built here, and of loadDibImage's
// file and message handling.
//
// Test thread; no GL. Sizes in pixels, offsets in bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>

#include "platform/platform.h"
#include "resources/dib.h"
#include "test_files.h"

using namespace testfiles;

namespace {

Bytes infoHeader(int width, int height, int bitCount, uint32_t compression = 0,
                 uint32_t colorsUsed = 0, uint32_t headerSize = 40) {
    Bytes h = cat({u32(headerSize), u32(static_cast<uint32_t>(width)),
                   u32(static_cast<uint32_t>(height)), u16(1), u16(bitCount), u32(compression),
                   u32(0), u32(2835), u32(2835), u32(colorsUsed), u32(0)});
    h.resize(headerSize, 0);
    return h;
}

Bytes coreHeader(int width, int height, int bitCount) {
    return cat({u32(12), u16(width), u16(height), u16(1), u16(bitCount)});
}

// "BM" file header in front of header+table, with the bits at offset bitsAt
// (0: right after the table).
Bytes withFileHeader(const Bytes& headerAndTable, const Bytes& bits, uint32_t bitsAt = 0) {
    uint32_t offset = bitsAt ? bitsAt : static_cast<uint32_t>(14 + headerAndTable.size());
    Bytes gap(offset - 14 - headerAndTable.size(), 0xEE);
    return cat({Bytes{'B', 'M'}, u32(static_cast<uint32_t>(offset + bits.size())), u32(0),
                u32(offset), headerAndTable, gap, bits});
}

// A palette of count entries where entry i is (blue i, green 2i, red 255 - i).
Bytes palette(int count, int entrySize) {
    Bytes out;
    for (int i = 0; i < count; i++) {
        out = cat({out, u8(i), u8(2 * i), u8(255 - i)});
        if (entrySize == 4) {
            out.push_back(0);
        }
    }
    return out;
}

struct Decoded {
    DibImage* image = nullptr;
    const char* message = nullptr;
    explicit Decoded(const Bytes& bytes, const char* seed = nullptr) {
        if (seed) {
            keepSeed("bmp", seed, bytes);
        }
        image = decodeDib(bytes.data(), bytes.size(), &message);
    }
    ~Decoded() { freeDibImage(image); }
    Bytes pixels() const {
        return Bytes(image->pixels, image->pixels + image->width * image->height * 3);
    }
};

} // namespace

TEST(DibDecode, Rgb24RowsLoseTheirPadding) {
    // 3x2: bottom row red, green, blue; top row white, black, grey.
    Bytes bits = cat({Bytes{0, 0, 255, 0, 255, 0, 255, 0, 0}, Bytes(3, 0xAA),
                      Bytes{255, 255, 255, 0, 0, 0, 128, 128, 128}, Bytes(3, 0xAA)});
    Decoded d(withFileHeader(infoHeader(3, 2, 24), bits), "rgb24.bmp");
    ASSERT_NE(d.image, nullptr);
    EXPECT_EQ(d.image->width, 3);
    EXPECT_EQ(d.image->height, 2);
    EXPECT_EQ(d.pixels(),
              (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 128, 128, 128}));

    // The same picture stored top-down comes out bottom row first, height positive.
    Bytes topDownBits =
        cat({Bytes(bits.begin() + 12, bits.end()), Bytes(bits.begin(), bits.begin() + 12)});
    Decoded top(withFileHeader(infoHeader(3, -2, 24), topDownBits), "topdown.bmp");
    ASSERT_NE(top.image, nullptr);
    EXPECT_EQ(top.image->height, 2);
    EXPECT_EQ(top.pixels(), d.pixels());

    // Without the file header, a 256-entry table of a 24-bit header is skipped.
    Decoded bare(cat({infoHeader(3, 2, 24, 0, 256), palette(256, 4), bits}));
    ASSERT_NE(bare.image, nullptr);
    EXPECT_EQ(bare.pixels(), d.pixels());
}

TEST(DibDecode, PaletteDepthsAndOffsets) {
    // 8 bits, 64x64, full table: index (x + y) & 255.
    Bytes bits8;
    for (int y = 0; y < 64; y++) {
        for (int x = 0; x < 64; x++) {
            bits8.push_back(static_cast<unsigned char>(x + y));
        }
    }
    Decoded pal8(withFileHeader(cat({infoHeader(64, 64, 8), palette(256, 4)}), bits8), "pal8.bmp");
    ASSERT_NE(pal8.image, nullptr);
    Bytes p = pal8.pixels();
    ASSERT_EQ(p.size(), 12288u);
    // Pixel (x 5, file row 3) has index 8: red 247, green 16, blue 8.
    size_t at = (3 * 64 + 5) * 3;
    EXPECT_EQ(p[at], 247);
    EXPECT_EQ(p[at + 1], 16);
    EXPECT_EQ(p[at + 2], 8);

    // bfOffBits leaves a gap after the table: the bits are read at the offset.
    Bytes gapped =
        withFileHeader(cat({infoHeader(64, 64, 8), palette(256, 4)}), bits8, 14 + 40 + 1024 + 100);
    Decoded gap(gapped, "gap.bmp");
    ASSERT_NE(gap.image, nullptr);
    EXPECT_EQ(gap.pixels(), p);

    // 4 bits: a 12-byte core header with 16 three-byte entries decodes like its
    // 40-byte equivalent. Width 5 (3 bytes of indices, padded to 4).
    Bytes bits4 = {0x01, 0x23, 0x40, 0x00, 0xFE, 0xDC, 0xB0, 0x00};
    Decoded core(withFileHeader(cat({coreHeader(5, 2, 4), palette(16, 3)}), bits4), "core4.bmp");
    Decoded info(withFileHeader(cat({infoHeader(5, 2, 4), palette(16, 4)}), bits4));
    ASSERT_NE(core.image, nullptr);
    ASSERT_NE(info.image, nullptr);
    EXPECT_EQ(core.pixels(), info.pixels());
    EXPECT_EQ(core.pixels()[3 * 3], 255 - 3);        // bottom row, x 3: index 3
    EXPECT_EQ(core.pixels()[(5 + 1) * 3], 255 - 14); // top row, x 1: index 14
    // A bare core DIB: the bits follow the 16 three-byte entries.
    Decoded bareCore(cat({coreHeader(5, 2, 4), palette(16, 3), bits4}));
    ASSERT_NE(bareCore.image, nullptr);
    EXPECT_EQ(bareCore.pixels(), core.pixels());

    // 1 bit, width 10: bits run from the high bit; index 1 is the table's second.
    Bytes bits1 = {0xA0, 0x40, 0, 0};
    Decoded mono(withFileHeader(cat({infoHeader(10, 1, 1), palette(2, 4)}), bits1), "pal1.bmp");
    ASSERT_NE(mono.image, nullptr);
    Bytes m = mono.pixels();
    EXPECT_EQ(m[0], 254); // x 0: index 1
    EXPECT_EQ(m[3], 255); // x 1: index 0
    EXPECT_EQ(m[2 * 3], 254);
    EXPECT_EQ(m[9 * 3], 254);

    // Indices past a short table (colours used 2 of 256) come out black.
    Decoded shortTable(
        withFileHeader(cat({infoHeader(2, 1, 8, 0, 2), palette(2, 4)}), Bytes{1, 200, 0, 0}));
    ASSERT_NE(shortTable.image, nullptr);
    EXPECT_EQ(shortTable.pixels(), (Bytes{254, 2, 1, 0, 0, 0}));
}

TEST(DibDecode, MaskedSixteenAndThirtyTwoBits) {
    // 16 bits, plain: 5-5-5. White, pure red, and a 5-bit 16 (132 after scaling).
    Bytes bits16 = cat({u16(0x7FFF), u16(0x7C00), u16(16 << 5), u16(0)});
    Decoded rgb16(withFileHeader(infoHeader(3, 1, 16), bits16), "rgb16.bmp");
    ASSERT_NE(rgb16.image, nullptr);
    EXPECT_EQ(rgb16.pixels(), (Bytes{255, 255, 255, 255, 0, 0, 0, 132, 0}));

    // 16 bits with 5-6-5 masks: green has 6 bits, 63 -> 255, 32 -> 130.
    Bytes masks565 = cat({u32(0xF800), u32(0x07E0), u32(0x001F)});
    Bytes bits565 = cat({u16(0x07E0), u16(32 << 5), u16(0x001F), u16(0)});
    Decoded bf16(withFileHeader(cat({infoHeader(3, 1, 16, 3), masks565}), bits565), "bf16.bmp");
    ASSERT_NE(bf16.image, nullptr);
    EXPECT_EQ(bf16.pixels(), (Bytes{0, 255, 0, 0, 130, 0, 0, 0, 255}));
    // Bare: the bits follow the masks.
    Decoded bareBf(cat({infoHeader(3, 1, 16, 3), masks565, bits565}));
    ASSERT_NE(bareBf.image, nullptr);
    EXPECT_EQ(bareBf.pixels(), bf16.pixels());

    // 32 bits, plain (x8r8g8b8) and with masks in another order (r in the low byte).
    Bytes bits32 = cat({u32(0xFF102030), u32(0x00FFFFFF)});
    Decoded rgb32(withFileHeader(infoHeader(2, 1, 32), bits32));
    ASSERT_NE(rgb32.image, nullptr);
    EXPECT_EQ(rgb32.pixels(), (Bytes{0x10, 0x20, 0x30, 255, 255, 255}));
    Bytes swapped = cat({u32(0x000000FF), u32(0x0000FF00), u32(0x00FF0000)});
    Decoded bf32(withFileHeader(cat({infoHeader(2, 1, 32, 3), swapped}), bits32), "bf32.bmp");
    ASSERT_NE(bf32.image, nullptr);
    EXPECT_EQ(bf32.pixels(), (Bytes{0x30, 0x20, 0x10, 255, 255, 255}));
}

TEST(DibDecode, RunLengthEncoded) {
    // RLE8, 4x3: row 0 a run of 3 of index 1; row 1 absolute 3 indices (padded);
    // then a delta of (1, 1) and one pixel; end of bitmap.
    Bytes rle8 = {3, 1, 0, 0, 0, 3, 2, 3, 4, 0, 0, 2, 1, 1, 1, 5, 0, 1};
    Decoded r8(withFileHeader(cat({infoHeader(4, 3, 8, 1), palette(256, 4)}), rle8), "rle8.bmp");
    ASSERT_NE(r8.image, nullptr);
    Bytes p = r8.pixels();
    auto red = [&](int x, int y) { return p[(y * 4 + x) * 3]; };
    EXPECT_EQ(red(0, 0), 254);
    EXPECT_EQ(red(2, 0), 254);
    EXPECT_EQ(red(3, 0), 0); // not reached: black
    EXPECT_EQ(red(0, 1), 253);
    EXPECT_EQ(red(2, 1), 251);
    // After the delta from (3, 1): x 4 is outside the picture, so nothing lands.
    EXPECT_EQ(red(3, 2), 0);
    EXPECT_EQ(p[(2 * 4 + 0) * 3 + 2], 0);

    // RLE4, 5x2: a run of 5 alternating 1 and 2; end of line; absolute 3
    // indices 3, 4, 5 (two bytes); end of bitmap.
    Bytes rle4 = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1};
    Decoded r4(withFileHeader(cat({infoHeader(5, 2, 4, 2), palette(16, 4)}), rle4), "rle4.bmp");
    ASSERT_NE(r4.image, nullptr);
    Bytes q = r4.pixels();
    EXPECT_EQ(q[0], 254);
    EXPECT_EQ(q[3], 253);
    EXPECT_EQ(q[4 * 3], 254);
    EXPECT_EQ(q[5 * 3], 252);
    EXPECT_EQ(q[7 * 3], 250);
    EXPECT_EQ(q[8 * 3], 0);

    // Codes that run far outside the picture, and data that simply stops.
    Bytes wild = {255, 7, 0, 2, 255, 255, 200, 9, 0, 0, 0, 0, 0, 0, 0, 0, 4};
    Decoded w(withFileHeader(cat({infoHeader(4, 2, 8, 1), palette(256, 4)}), wild));
    ASSERT_NE(w.image, nullptr);
    EXPECT_EQ(w.pixels()[0], 248);
    EXPECT_EQ(w.pixels()[3 * 3], 248);
}

TEST(DibDecode, RejectionsAndTheirMessages) {
    Bytes px = Bytes(4, 0);
    for (uint32_t size : {108u, 124u, 64u, 16u}) {
        Decoded d(withFileHeader(infoHeader(1, 1, 24, 0, 0, size), px));
        EXPECT_EQ(d.image, nullptr);
        EXPECT_STREQ(d.message, "Unknown DIB file format.") << size;
    }
    Decoded empty(Bytes{});
    EXPECT_STREQ(empty.message, "Unknown DIB file format.");
    Decoded text(Bytes{'h', 'e', 'l', 'l', 'o'});
    EXPECT_STREQ(text.message, "Unknown DIB file format.");
    Bytes header = withFileHeader(infoHeader(1, 1, 24), px);
    Decoded cutHeader(Bytes(header.begin(), header.begin() + 30));
    EXPECT_STREQ(cutHeader.message, "Unknown DIB file format.");

    Bytes pastEnd = withFileHeader(infoHeader(1, 1, 24), px);
    Bytes offset = u32(5000);
    std::copy(offset.begin(), offset.end(), pastEnd.begin() + 10);
    struct Case {
        Bytes file;
        const char* why;
    };
    const Case conversion[] = {
        {withFileHeader(infoHeader(4, 4, 24), Bytes(20, 0)), "bits cut short"},
        {withFileHeader(infoHeader(0, 1, 24), px), "width 0"},
        {withFileHeader(infoHeader(-3, 1, 24), px), "negative width"},
        {withFileHeader(infoHeader(1, 0, 24), px), "height 0"},
        {withFileHeader(infoHeader(1, INT_MIN, 24), px), "smallest height"},
        {withFileHeader(infoHeader(1, 1, 7), px), "bit count 7"},
        {withFileHeader(infoHeader(1, 1, 24, 4), px), "embedded JPEG"},
        {withFileHeader(infoHeader(1, 1, 24, 1), px), "RLE8 at 24 bits"},
        {withFileHeader(cat({infoHeader(2, -2, 8, 1), palette(256, 4)}), Bytes{0, 1}),
         "top-down RLE"},
        {withFileHeader(infoHeader(1, 1, 16, 3), Bytes{1, 2}), "masks past the end"},
        {withFileHeader(infoHeader(1, 1, 8, 0, 60000), px), "table past the end"},
        {pastEnd, "bfOffBits past the end"},
    };
    for (const Case& c : conversion) {
        Decoded d(c.file);
        EXPECT_EQ(d.image, nullptr) << c.why;
        EXPECT_STREQ(d.message, "Image file conversion error.") << c.why;
    }
    // A few bytes of RLE claiming 60000 x 60000 pixels are refused, not allocated.
    Decoded huge(
        withFileHeader(cat({infoHeader(60000, 60000, 8, 1), palette(256, 4)}), Bytes{0, 1}));
    EXPECT_EQ(huge.image, nullptr);
    EXPECT_STREQ(huge.message, "Out of memory.");
}

TEST(DibDecode, ColorCount) {
    EXPECT_EQ(dibColorCount(coreHeader(1, 1, 1).data()), 2);
    EXPECT_EQ(dibColorCount(coreHeader(1, 1, 4).data()), 16);
    EXPECT_EQ(dibColorCount(coreHeader(1, 1, 8).data()), 256);
    EXPECT_EQ(dibColorCount(coreHeader(1, 1, 24).data()), 0);
    EXPECT_EQ(dibColorCount(infoHeader(1, 1, 8).data()), 256);
    EXPECT_EQ(dibColorCount(infoHeader(1, 1, 8, 0, 12).data()), 12);
    EXPECT_EQ(dibColorCount(infoHeader(1, 1, 24, 0, 256).data()), 256);
    EXPECT_EQ(dibColorCount(infoHeader(1, 1, 16).data()), 0);
    EXPECT_EQ(dibColorCount(infoHeader(1, 1, 4, 0, 0x10003).data()), 3); // taken as 16 bits
}

TEST(DibLoad, FilesAndMessages) {
    platform::setMessageBoxesEnabled(false);
    std::string dir = scratchDir("dib");
    Bytes bits = {0, 0, 255, 0};
    ASSERT_TRUE(writeFile(dir + "/one.bmp", withFileHeader(infoHeader(1, 1, 24), bits)));
    std::string backslashed = dir + "\\one.bmp";
    DibImage* image = loadDibImage(backslashed.c_str(), false);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[0], 255);
    EXPECT_EQ(image->pixels[2], 0);
    freeDibImage(image);

    std::wstring widePath(dir.begin(), dir.end());
    widePath += L"/one.bmp";
    image = loadDibImage(reinterpret_cast<const char*>(widePath.c_str()), true);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 1);
    freeDibImage(image);

    testing::internal::CaptureStderr();
    EXPECT_EQ(loadDibImage("no/such/file.bmp", false), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Failed to open DIB file no/such/file.bmp.\n\n");

    ASSERT_TRUE(writeFile(dir + "/empty.bmp", Bytes{}));
    testing::internal::CaptureStderr();
    EXPECT_EQ(loadDibImage((dir + "/empty.bmp").c_str(), false), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Failed to open DIB file " + dir + "/empty.bmp.\n\n");

    // A path too long for the 256-byte message is cut; the message still ends.
    std::string longPath(400, 'p');
    testing::internal::CaptureStderr();
    EXPECT_EQ(loadDibImage(longPath.c_str(), false), nullptr);
    std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, "Error: Failed to open DIB file " + std::string(229, 'p') + ".\n\n");

    ASSERT_TRUE(writeFile(dir + "/v5.bmp", withFileHeader(infoHeader(1, 1, 24, 0, 0, 124), bits)));
    testing::internal::CaptureStderr();
    EXPECT_EQ(loadDibImage((dir + "/v5.bmp").c_str(), false), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Unknown DIB file format.\n");
}
