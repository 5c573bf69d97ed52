// The capture program's own file writers: PNG pictures read back by a strict
// independent reader, WAV headers and 16-bit sample conversion.
#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "tests/capture/png_reader.h"
#include "tools/capture_encode.h"

namespace {

// Bands of flat colour, horizontal ramp, vertical ramp and noise, so the
// encoder has reasons to pick different filters on different rows.
std::vector<unsigned char> testPicture(int width, int height) {
    std::vector<unsigned char> rgb;
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int band = 4 * y / height;
            const int px[4][3] = {{200, 30, 30},
                                  {x * 3, y, 7},
                                  {y * 5, 99, y * 5},
                                  {int(noise >> 16), int(noise >> 8), int(noise >> 24)}};
            for (int k = 0; k < 3; ++k)
                rgb.push_back(static_cast<unsigned char>(px[band][k]));
        }
    }
    return rgb;
}

uint32_t little(const std::vector<unsigned char>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | b[at + i];
    return v;
}

} // namespace

TEST(PngWriter, PicturesReadBackExactlyAndDeterministically) {
    for (const auto& size : {std::pair<int, int>{97, 64}, {1, 1}, {5, 1}, {1, 7}}) {
        const std::vector<unsigned char> rgb = testPicture(size.first, size.second);
        const std::vector<unsigned char> png = encodePng(rgb.data(), size.first, size.second);
        const PngPicture back = decodePng(png);
        ASSERT_EQ(back.problem, "");
        EXPECT_EQ(back.width, size.first);
        EXPECT_EQ(back.height, size.second);
        EXPECT_EQ(back.rgb, rgb) << size.first << "x" << size.second;
        EXPECT_EQ(png, encodePng(rgb.data(), size.first, size.second));
        if (size.first == 97) {
            const std::set<int> used(back.filters.begin(), back.filters.end());
            EXPECT_GE(used.size(), 2u) << "the heuristic picks per row";
            EXPECT_EQ(back.filters[5], 2) << "rows repeating the flat row above use Up";
        }
    }
    // A uniform 640x480 frame (a faded scene) is tiny once deflated.
    std::vector<unsigned char> red(640 * 480 * 3);
    for (size_t i = 0; i < red.size(); i += 3)
        red[i] = 128;
    const std::vector<unsigned char> png = encodePng(red.data(), 640, 480);
    EXPECT_LT(png.size(), 4000u);
    EXPECT_EQ(decodePng(png).rgb, red);
}

TEST(WavWriter, HeaderDescribesPcm16) {
    const std::vector<unsigned char> h = wavHeader(44100, 44100, 1);
    ASSERT_EQ(h.size(), 44u);
    EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(h.begin() + 8, h.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(std::string(h.begin() + 36, h.begin() + 40), "data");
    // (offset, width, value): sizes, PCM, channels, rate, byte rate, frame, bits.
    const uint32_t fields[][3] = {{4, 4, 36 + 88200}, {16, 4, 16},    {20, 2, 1},
                                  {22, 2, 1},         {24, 4, 44100}, {28, 4, 88200},
                                  {32, 2, 2},         {34, 2, 16},    {40, 4, 88200}};
    for (const auto& f : fields)
        EXPECT_EQ(little(h, f[0], static_cast<int>(f[1])), f[2]) << "offset " << f[0];
    const std::vector<unsigned char> stereo = wavHeader(10, 48000, 2);
    EXPECT_EQ(little(stereo, 28, 4), 192000u);
    EXPECT_EQ(little(stereo, 40, 4), 40u);
}

TEST(WavWriter, SamplesRoundClampAndSilenceNaN) {
    const float in[] = {0.0f,  1.0f, -1.0f, 0.5f,
                        -0.5f, 2.0f, -3.0f, std::numeric_limits<float>::quiet_NaN(),
                        1e-6f, 0.25f};
    const int16_t expected[] = {0, 32767, -32767, 16384, -16383, 32767, -32767, 0, 0, 8192};
    std::vector<unsigned char> out = {0xAA}; // appended after what is there
    appendPcm16(in, 10, &out);
    ASSERT_EQ(out.size(), 21u);
    EXPECT_EQ(out[0], 0xAA);
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(static_cast<int16_t>(little(out, 1 + 2 * i, 2)), expected[i]) << in[i];
    EXPECT_EQ(out[3], 0xFF); // little-endian: 32767 is FF 7F
}
