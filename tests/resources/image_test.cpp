// The picture readers on files built here: the BMP decoder on every layout
// it takes and the files it refuses, with its messages; the JPEG decoder; and
// Texture's paths, formats and upload on a real off-screen GL context.
//
// Test thread. Sizes in pixels, offsets in bytes. Texture files are written
// under the build folder and named by relative, lower-case paths, since
// Texture::load lower-cases the whole path.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <iterator>

#include "platform/platform.h"
#include "resources/dib.h"
#include "resources/jpeg.h"
#include "resources/model.h"
#include "resources/texture.h"
#include "tests/support/builders.h"
#include "tests/support/gl_test.h"

using namespace kit;

namespace {

// A palette of count entries where entry i is (blue i, green 2i, red 255 - i).
Bytes palette(int count, int entrySize) {
    Bytes out;
    for (int i = 0; i < count; i++) {
        out = cat(
            {out, Bytes{uint8_t(i), uint8_t(2 * i), uint8_t(255 - i)}, Bytes(entrySize - 3, 0)});
    }
    return out;
}

// The RGB output for palette indices (-1: black, never written).
Bytes indexed(const std::vector<int>& indices) {
    Bytes out;
    for (int i : indices) {
        out = cat({out, i < 0 ? Bytes(3, 0) : Bytes{uint8_t(255 - i), uint8_t(2 * i), uint8_t(i)}});
    }
    return out;
}

struct Decoded {
    DibImage* image = nullptr;
    const char* message = nullptr;
    explicit Decoded(const Bytes& bytes) {
        image = decodeDib(bytes.data(), bytes.size(), &message);
    }
    ~Decoded() { freeDibImage(image); }
    Bytes pixels() const {
        return Bytes(image->pixels, image->pixels + image->width * image->height * 3);
    }
};

} // namespace

TEST(DibDecode, EveryLayoutDecodesToItsPixels) {
    // 3x2 at 24 bits: bottom row red, green, blue; top row white, black, grey.
    Bytes bits24 = cat({Bytes{0, 0, 255, 0, 255, 0, 255, 0, 0}, Bytes(3, 0xAA),
                        Bytes{255, 255, 255, 0, 0, 0, 128, 128, 128}, Bytes(3, 0xAA)});
    Bytes rgb24 = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 128, 128, 128};
    Bytes topDown24 =
        cat({Bytes(bits24.begin() + 12, bits24.end()), Bytes(bits24.begin(), bits24.begin() + 12)});
    // 8 bits, 64x64, full table: index (x + y) & 255.
    Bytes bits8;
    std::vector<int> indices8;
    for (int y = 0; y < 64; y++) {
        for (int x = 0; x < 64; x++) {
            bits8.push_back(uint8_t(x + y));
            indices8.push_back((x + y) & 255);
        }
    }
    Bytes head8 = cat({infoHeader(64, 64, 8), palette(256, 4)});
    // 4 bits, 5x2 (3 bytes of indices, padded to 4).
    Bytes bits4 = {0x01, 0x23, 0x40, 0x00, 0xFE, 0xDC, 0xB0, 0x00};
    Bytes pixels4 = indexed({0, 1, 2, 3, 4, 15, 14, 13, 12, 11});
    Bytes masks565 = cat({u32(0xF800), u32(0x07E0), u32(0x001F)});
    Bytes bits565 = cat({u16(0x07E0), u16(32 << 5), u16(0x001F), u16(0)});
    Bytes bits32 = cat({u32(0xFF102030), u32(0x00FFFFFF)});
    Bytes swapped = cat({u32(0x000000FF), u32(0x0000FF00), u32(0x00FF0000)});
    struct Case {
        const char* name; // also the fuzz seed's name, when it has a .bmp ending
        Bytes file;
        int width;
        Bytes pixels;
    };
    const Case cases[] = {
        {"rgb24.bmp", bmpFile(infoHeader(3, 2, 24), bits24), 3, rgb24},
        // Stored top-down: comes out bottom row first with a positive height.
        {"topdown.bmp", bmpFile(infoHeader(3, -2, 24), topDown24), 3, rgb24},
        // Without the file header, a 256-entry table of a 24-bit header is skipped.
        {"bare 24 with table", cat({infoHeader(3, 2, 24, 0, 256), palette(256, 4), bits24}), 3,
         rgb24},
        {"pal8.bmp", bmpFile(head8, bits8), 64, indexed(indices8)},
        // bfOffBits leaves a gap after the table: the bits are read at the offset.
        {"gap.bmp", bmpFile(head8, bits8, 14 + 40 + 1024 + 100), 64, indexed(indices8)},
        // A 12-byte core header with 16 three-byte entries, with and without the
        // file header, decodes like its 40-byte equivalent.
        {"core4.bmp", bmpFile(cat({coreHeader(5, 2, 4), palette(16, 3)}), bits4), 5, pixels4},
        {"bare core", cat({coreHeader(5, 2, 4), palette(16, 3), bits4}), 5, pixels4},
        {"info4", bmpFile(cat({infoHeader(5, 2, 4), palette(16, 4)}), bits4), 5, pixels4},
        // 1 bit, width 10: bits run from the high bit.
        {"pal1.bmp", bmpFile(cat({infoHeader(10, 1, 1), palette(2, 4)}), Bytes{0xA0, 0x40, 0, 0}),
         10, indexed({1, 0, 1, 0, 0, 0, 0, 0, 0, 1})},
        // Indices from a short table's end on (colours used 2 of 256) come out
        // black, not the bytes after the table.
        {"short table", bmpFile(cat({infoHeader(2, 1, 8, 0, 2), palette(2, 4)}), Bytes{1, 2, 0, 0}),
         2, indexed({1, -1})},
        // Colours used 0x10000 is not zero: cut to 16 bits it counts no colour,
        // so there is no table and every index is black. Without the file
        // header the bits follow the 40-byte header at once; the bytes after
        // them (a table and more indices, were the count 256) are not read.
        {"used 0x10000 bare",
         cat({infoHeader(2, 1, 8, 0, 0x10000), Bytes{1, 200, 0, 0}, palette(256, 4),
              Bytes{1, 1, 0, 0}}),
         2, indexed({-1, -1})},
        // With the file header no table is looked for before bfOffBits, so a
        // file without one is whole.
        {"used0x10000.bmp", bmpFile(infoHeader(2, 1, 8, 0, 0x10000), Bytes{1, 200, 0, 0}), 2,
         indexed({-1, -1})},
        // 16 bits 5-5-5: white, pure red, and a 5-bit 16 (132 after scaling).
        {"rgb16.bmp",
         bmpFile(infoHeader(3, 1, 16), cat({u16(0x7FFF), u16(0x7C00), u16(16 << 5), u16(0)})), 3,
         Bytes{255, 255, 255, 255, 0, 0, 0, 132, 0}},
        // 16 bits with 5-6-5 masks: green has 6 bits, 63 -> 255, 32 -> 130.
        {"bf16.bmp", bmpFile(cat({infoHeader(3, 1, 16, 3), masks565}), bits565), 3,
         Bytes{0, 255, 0, 0, 130, 0, 0, 0, 255}},
        {"bare masks", cat({infoHeader(3, 1, 16, 3), masks565, bits565}), 3,
         Bytes{0, 255, 0, 0, 130, 0, 0, 0, 255}},
        // 32 bits, plain (x8r8g8b8) and with masks in another order.
        {"rgb32", bmpFile(infoHeader(2, 1, 32), bits32), 2, Bytes{0x10, 0x20, 0x30, 255, 255, 255}},
        {"bf32.bmp", bmpFile(cat({infoHeader(2, 1, 32, 3), swapped}), bits32), 2,
         Bytes{0x30, 0x20, 0x10, 255, 255, 255}},
        // A mask as wide as the pixel: red is its top 8 bits.
        {"full mask",
         bmpFile(cat({infoHeader(2, 1, 32, 3), u32(0xFFFFFFFF), u32(0), u32(0)}), bits32), 2,
         Bytes{0xFF, 0, 0, 0, 0, 0}},
        // RLE8, 4x3: a run of 3; end of line; absolute 3 indices (padded); a
        // delta of (1, 1) to x 4, outside the picture, so the next run lands
        // nowhere; end of bitmap.
        {"rle8.bmp",
         bmpFile(cat({infoHeader(4, 3, 8, 1), palette(256, 4)}),
                 Bytes{3, 1, 0, 0, 0, 3, 2, 3, 4, 0, 0, 2, 1, 1, 1, 5, 0, 1}),
         4, indexed({1, 1, 1, -1, 2, 3, 4, -1, -1, -1, -1, -1})},
        // RLE4, 5x2: a run of 5 alternating 1 and 2; end of line; absolute 3
        // indices in two bytes; end of bitmap.
        {"rle4.bmp",
         bmpFile(cat({infoHeader(5, 2, 4, 2), palette(16, 4)}),
                 Bytes{5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1}),
         5, indexed({1, 2, 1, 2, 1, 3, 4, 5, -1, -1})},
        // Codes that run far outside the picture, and data that simply stops.
        {"wild rle",
         bmpFile(cat({infoHeader(4, 2, 8, 1), palette(256, 4)}),
                 Bytes{255, 7, 0, 2, 255, 255, 200, 9, 0, 0, 0, 0, 0, 0, 0, 0, 4}),
         4, indexed({7, 7, 7, 7, -1, -1, -1, -1})},
    };
    for (const Case& c : cases) {
        std::string name = c.name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bmp") == 0) {
            keepSeed("bmp", name, c.file);
        }
        Decoded d(c.file);
        ASSERT_NE(d.image, nullptr) << name << ": " << d.message;
        EXPECT_EQ(d.image->width, c.width) << name;
        EXPECT_EQ(d.image->height * c.width * 3, static_cast<int>(c.pixels.size())) << name;
        EXPECT_EQ(d.pixels(), c.pixels) << name;
    }
}

TEST(DibDecode, RejectionsAndTheirMessages) {
    Bytes px(4, 0);
    Bytes pastEnd = bmpFile(infoHeader(1, 1, 24), px);
    Bytes offset = u32(5000);
    std::copy(offset.begin(), offset.end(), pastEnd.begin() + 10);
    const char* unknown = "Unknown DIB file format.";
    const char* conversion = "Image file conversion error.";
    struct Case {
        Bytes file;
        const char* why;
        const char* message;
    };
    const Case cases[] = {
        {bmpFile(infoHeader(1, 1, 24, 0, 0, 108), px), "108-byte header", unknown},
        {bmpFile(infoHeader(1, 1, 24, 0, 0, 124), px), "124-byte header", unknown},
        {bmpFile(infoHeader(1, 1, 24, 0, 0, 64), px), "64-byte header", unknown},
        {bmpFile(infoHeader(1, 1, 24, 0, 0, 16), px), "16-byte header", unknown},
        {Bytes{}, "empty", unknown},
        {Bytes{'h', 'e', 'l', 'l', 'o'}, "text", unknown},
        {Bytes(pastEnd.begin(), pastEnd.begin() + 30), "header cut short", unknown},
        {bmpFile(infoHeader(4, 4, 24), Bytes(20, 0)), "bits cut short", conversion},
        // Rows of 64 pixels take 192 bytes: the second row is 2 bytes short.
        {bmpFile(infoHeader(64, 2, 24), Bytes(382, 0)), "last row cut short", conversion},
        {bmpFile(infoHeader(0, 1, 24), px), "width 0", conversion},
        {bmpFile(infoHeader(-3, 1, 24), px), "negative width", conversion},
        {bmpFile(infoHeader(1, 0, 24), px), "height 0", conversion},
        {bmpFile(infoHeader(1, INT_MIN, 24), px), "smallest height", conversion},
        {bmpFile(infoHeader(1, 1, 7), px), "bit count 7", conversion},
        {bmpFile(infoHeader(1, 1, 24, 4), px), "embedded JPEG", conversion},
        {bmpFile(infoHeader(1, 1, 24, 1), px), "RLE8 at 24 bits", conversion},
        {bmpFile(cat({infoHeader(1, 1, 8, 2), palette(256, 4)}), px), "RLE4 at 8 bits", conversion},
        {bmpFile(cat({infoHeader(2, -2, 8, 1), palette(256, 4)}), Bytes{0, 1}), "top-down RLE",
         conversion},
        {bmpFile(infoHeader(1, 1, 16, 3), Bytes{1, 2}), "masks past the end", conversion},
        {bmpFile(infoHeader(1, 1, 8, 0, 60000), px), "table past the end", conversion},
        {pastEnd, "bfOffBits past the end", conversion},
        // A few bytes of RLE claiming 60000 x 60000 pixels: refused, not allocated.
        {bmpFile(cat({infoHeader(60000, 60000, 8, 1), palette(256, 4)}), Bytes{0, 1}), "huge RLE",
         "Out of memory."},
    };
    for (const Case& c : cases) {
        Decoded d(c.file);
        EXPECT_EQ(d.image, nullptr) << c.why;
        EXPECT_STREQ(d.message, c.message) << c.why;
    }
}

TEST(DibLoad, FilesAndMessages) {
    platform::setMessageBoxesEnabled(false);
    std::string dir = scratchDir("dib");
    Bytes bits = {0, 0, 255, 0};
    ASSERT_TRUE(writeFile(dir + "/one.bmp", bmpFile(infoHeader(1, 1, 24), bits)));
    DibImage* image = loadDibImage((dir + "\\one.bmp").c_str(), false);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[0], 255);
    EXPECT_EQ(image->pixels[2], 0);
    freeDibImage(image);
    std::wstring widePath(dir.begin(), dir.end());
    widePath += L"/one.bmp";
    image = loadDibImage(reinterpret_cast<const char*>(widePath.c_str()), true);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[0], 255);
    freeDibImage(image);

    ASSERT_TRUE(writeFile(dir + "/empty.bmp", Bytes{}));
    ASSERT_TRUE(writeFile(dir + "/v5.bmp", bmpFile(infoHeader(1, 1, 24, 0, 0, 124), bits)));
    const std::string opening = "Error: Failed to open DIB file ";
    // A path too long for the 256-byte message is cut; the message still ends.
    const std::pair<std::string, std::string> failures[] = {
        {"no/such/file.bmp", opening + "no/such/file.bmp.\n\n"},
        {dir + "/empty.bmp", opening + dir + "/empty.bmp.\n\n"},
        {std::string(400, 'p'), opening + std::string(229, 'p') + ".\n\n"},
        {dir + "/v5.bmp", "Error: Unknown DIB file format.\n"},
    };
    for (const auto& f : failures) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(loadDibImage(f.first.c_str(), false), nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), f.second);
    }
}

namespace {

// Top half red, bottom half blue.
Bytes redOverBlue(int width, int height) {
    Bytes pixels;
    for (int i = 0; i < width * height; ++i) {
        const bool top = i / width < height / 2;
        pixels.insert(pixels.end(), {uint8_t(top ? 255 : 0), 0, uint8_t(top ? 0 : 255)});
    }
    return pixels;
}

struct Jpeg {
    int width = -1, height = -1, channels = -1;
    unsigned char* pixels = nullptr;
    explicit Jpeg(const Bytes& file, const char* seed = nullptr) {
        if (seed)
            keepSeed("jpeg", seed, file);
        pixels = decodeJpeg(&width, &height, &channels, file.data(), static_cast<int>(file.size()));
    }
    ~Jpeg() { free(pixels); }
    // Component c of pixel (x, y from the top).
    int at(int x, int y, int c) const { return pixels[(y * width + x) * channels + c]; }
};

} // namespace

TEST(JpegDecode, ColourAndGreyTopRowFirstWithoutGaps) {
    // Odd sizes have no gaps between rows (13 pixels are 39 bytes); the
    // progressive picture's whole-picture coefficients fit the memory limit
    // the decoder sets from its budget.
    const struct {
        Bytes file;
        const char* seed;
        int width, height, channels;
    } cases[] = {
        {encodeJpeg(64, 32, 3, redOverBlue(64, 32)), "colour.jpg", 64, 32, 3},
        {encodeJpeg(13, 9, 3, redOverBlue(13, 9)), "odd.jpg", 13, 9, 3},
        {encodeJpeg(401, 299, 3, redOverBlue(401, 299), true), "progressive.jpg", 401, 299, 3},
    };
    for (const auto& c : cases) {
        const Jpeg j(c.file, c.seed);
        ASSERT_NE(j.pixels, nullptr) << c.seed;
        EXPECT_EQ(j.width * 10000 + j.height * 10 + j.channels,
                  c.width * 10000 + c.height * 10 + 3);
        for (int k = 0; k < 3; ++k) { // top-left red, bottom-right blue
            EXPECT_NEAR(j.at(0, 1, k), k == 0 ? 255 : 0, 8) << c.seed;
            EXPECT_NEAR(j.at(c.width - 1, c.height - 2, k), k == 2 ? 255 : 0, 8) << c.seed;
        }
    }
    Bytes grey; // one byte per pixel, left half 40, right half 200
    for (int i = 0; i < 64 * 32; ++i)
        grey.push_back(i % 64 < 32 ? 40 : 200);
    const Jpeg g(encodeJpeg(64, 32, 1, grey), "grey.jpg");
    ASSERT_NE(g.pixels, nullptr);
    EXPECT_EQ(g.channels, 1);
    EXPECT_NEAR(g.at(0, 31, 0), 40, 2);
    EXPECT_NEAR(g.at(63, 31, 0), 200, 2);
}

TEST(JpegDecode, FailuresYieldNullAfterTheHeadersValues) {
    const char* words = "not a picture at all";
    for (const Bytes& junk :
         {Bytes{}, Bytes(words, words + strlen(words)), Bytes{0xFF, 0xD8, 0xFF}})
        EXPECT_EQ(Jpeg(junk).pixels, nullptr);
    // Cut short inside the scan: null, but the header's values were written.
    const Bytes whole = encodeJpeg(64, 32, 3, redOverBlue(64, 32));
    size_t scan = 0; // past the start-of-scan header of three components
    for (size_t i = 0; i + 1 < whole.size() && !scan; ++i)
        scan = whole[i] == 0xFF && whole[i + 1] == 0xDA ? i + 14 : 0;
    const Jpeg cut(Bytes(whole.begin(), whole.begin() + long(scan + whole.size()) / 2),
                   "truncated.jpg");
    EXPECT_EQ(cut.pixels, nullptr);
    EXPECT_EQ(cut.width * 10000 + cut.height * 10 + cut.channels, 64 * 10000 + 320 + 3);
    // Four channels have no texture format.
    const Jpeg four(encodeJpeg(8, 8, 4, Bytes(8 * 8 * 4, 100)));
    EXPECT_EQ(four.pixels, nullptr);
    EXPECT_EQ(four.channels, 4);
}

class TextureGl : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        ASSERT_EQ(chdir(TUHKALA_BINARY_DIR), 0); // relative names from the build folder
        scratchDir("texture");
        platform::setMessageBoxesEnabled(false);
    }
    // The show never frees a Texture's copy of its name; the tests do.
    struct Owned : Texture {
        ~Owned() { free(fileName); }
    };
    static GLint level(int n, GLenum name) {
        GLint value = -1;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, n, name, &value);
        return value;
    }
    // Level 0 of the bound texture, rows packed tightly.
    static Bytes texels(GLenum format, size_t size) {
        Bytes out(size, 0xCC);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, format, GL_UNSIGNED_BYTE, out.data());
        return out;
    }
    static Bytes flatJpeg(int width, int height, int components) {
        return encodeJpeg(width, height, components,
                          Bytes(size_t(width * height * components), 90));
    }
};

TEST_F(TextureGl, PathsPickTheReaderAndUploadAMipmappedTexture) {
    ASSERT_TRUE(writeFile("test-scratch/texture/pic.jpg", flatJpeg(16, 8, 3)));
    Owned texture;
    EXPECT_EQ(texture.load("TEST-SCRATCH\\TEXTURE\\PIC.JPG"), 0);
    EXPECT_STREQ(texture.fileName, "test-scratch\\texture\\pic.jpg");
    ASSERT_NE(texture.textureId, 0u);
    texture.bind();
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(static_cast<GLuint>(glInt(GL_TEXTURE_BINDING_2D)), texture.textureId);
    EXPECT_EQ(level(0, GL_TEXTURE_WIDTH) * 100 + level(1, GL_TEXTURE_WIDTH), 1608);
    GLint filters[2];
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filters[0]);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &filters[1]);
    EXPECT_EQ(filters[0], GL_LINEAR_MIPMAP_NEAREST);
    EXPECT_EQ(filters[1], GL_LINEAR);
    EXPECT_EQ(texture.width + texture.height, 0); // the JPEG path does not record the size

    // Other endings load nothing; a missing BMP reports 1.
    for (const char* name : {"pic.jpeg", "pic.png", "pic"}) {
        ASSERT_TRUE(writeFile(std::string("test-scratch/texture/") + name, flatJpeg(8, 8, 3)));
        Owned other;
        EXPECT_EQ(other.load((std::string("test-scratch/texture/") + name).c_str()), 0);
        EXPECT_EQ(other.textureId, 0u) << name;
    }
    Owned missing;
    EXPECT_EQ(missing.loadBmp("test-scratch/texture/missing.bmp"), 1);

    // A JPEG named x.bmp.jpg: the BMP path runs first and refuses it (its
    // message shows), then the JPEG path makes the texture.
    ASSERT_TRUE(writeFile("test-scratch/texture/x.bmp.jpg", flatJpeg(8, 8, 3)));
    Owned both;
    testing::internal::CaptureStderr();
    both.load("test-scratch/texture/x.bmp.jpg");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Unknown DIB file format.\n");
    EXPECT_NE(both.textureId, 0u);
}

TEST_F(TextureGl, UploadReadsBackExactlyAndRestoresTheAlignment) {
    // Width 2: 6-byte rows, not a multiple of 4. The first texel row is the
    // picture's bottom row: (x, 0, 7), then (x, 1, 7).
    ASSERT_TRUE(writeFile("test-scratch/texture/odd.bmp", gradientBmp(2, 2)));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    Owned texture;
    texture.load("test-scratch/texture/odd.bmp");
    EXPECT_EQ(texture.width * 10 + texture.height, 22); // the BMP path records the size
    EXPECT_EQ(glInt(GL_UNPACK_ALIGNMENT), 8);
    ASSERT_NE(texture.textureId, 0u);
    glBindTexture(GL_TEXTURE_2D, texture.textureId);
    EXPECT_EQ(texels(GL_RGB, 12), (Bytes{0, 0, 7, 1, 0, 7, 0, 1, 7, 1, 1, 7}));
    // A grey JPEG uploads as luminance, one byte per texel.
    ASSERT_TRUE(writeFile("test-scratch/texture/grey.jpg", flatJpeg(2, 4, 1)));
    Owned grey;
    grey.load("test-scratch/texture/grey.jpg");
    glBindTexture(GL_TEXTURE_2D, grey.textureId);
    for (unsigned char value : texels(GL_LUMINANCE, 8))
        EXPECT_NEAR(value, 90, 2);
    EXPECT_GT(level(0, GL_TEXTURE_LUMINANCE_SIZE), 0);
    EXPECT_EQ(level(0, GL_TEXTURE_RED_SIZE), 0);
    // Nothing to upload makes no texture.
    Owned empty;
    const unsigned char pixel[3] = {1, 2, 3};
    uploadTexturePixels(&empty, 3, 1, 0, pixel);
    uploadTexturePixels(&empty, 3, 0, 1, pixel);
    EXPECT_EQ(empty.textureId, 0u);
}

TEST_F(TextureGl, ModelLoadsTheTexturesOfTexturedMaterialsOnly) {
    ASSERT_TRUE(writeFile("test-scratch/texture/wood.bmp", gradientBmp(8, 4)));
    const Bytes file = file3ds({
        material("Plain"),
        material("Wood", {chunk(0xA200, {chunk(0xA300, {str("TEST-SCRATCH/TEXTURE/WOOD.BMP")})})}),
        material("NoName", {chunk(0xA200, {})}),
    });
    ModelPtr model = loadModelBytes(file);
    ASSERT_EQ(model->materialCount, 3);
    model->loadTextures();
    EXPECT_EQ(model->materials[0]->texture.textureId, 0u);
    EXPECT_EQ(model->materials[0]->texture.fileName, nullptr);
    EXPECT_NE(model->materials[1]->texture.textureId, 0u);
    EXPECT_STREQ(model->materials[1]->texture.fileName, "test-scratch/texture/wood.bmp");
    EXPECT_EQ(model->materials[2]->texture.textureId, 0u); // an empty name loads nothing
    EXPECT_STREQ(model->materials[2]->texture.fileName, "");
}
