// The capture program's own file writers: PNG pictures read back by a strict
// independent reader, WAV headers and 16-bit sample conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "tests/capture/png_reader.h"
#include "tools/capture_encode.h"

namespace {

// A picture with flat areas, ramps in both directions and noise, so that the
// encoder has reasons to pick different filters on different rows.
std::vector<unsigned char> testPicture(int width, int height) {
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            noise = noise * 1103515245u + 12345u;
            if (y < height / 4) {
                p[0] = 200, p[1] = 30, p[2] = 30; // flat
            } else if (y < height / 2) {
                p[0] = static_cast<unsigned char>(x * 3), p[1] = static_cast<unsigned char>(y),
                p[2] = 7; // horizontal ramp
            } else if (y < 3 * height / 4) {
                p[0] = static_cast<unsigned char>(y * 5), p[1] = 99,
                p[2] = static_cast<unsigned char>(y * 5); // vertical ramp
            } else {
                p[0] = static_cast<unsigned char>(noise >> 16);
                p[1] = static_cast<unsigned char>(noise >> 8);
                p[2] = static_cast<unsigned char>(noise >> 24);
            }
        }
    }
    return rgb;
}

int16_t sampleAt(const std::vector<unsigned char>& bytes, size_t index) {
    return static_cast<int16_t>(bytes[index * 2] | (bytes[index * 2 + 1] << 8));
}

uint32_t little32(const std::vector<unsigned char>& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

} // namespace

TEST(PngWriter, PicturesReadBackExactlyWithValidChunks) {
    for (const auto& size : {std::pair<int, int>{97, 64}, {1, 1}, {5, 1}, {1, 7}}) {
        const std::vector<unsigned char> rgb = testPicture(size.first, size.second);
        const PngPicture back = decodePng(encodePng(rgb.data(), size.first, size.second));
        ASSERT_TRUE(back.ok) << back.problem;
        EXPECT_EQ(back.width, size.first);
        EXPECT_EQ(back.height, size.second);
        EXPECT_EQ(back.rgb, rgb) << size.first << "x" << size.second;
    }
}

TEST(PngWriter, RowsChooseDifferentFiltersAndFlatPicturesShrink) {
    const std::vector<unsigned char> rgb = testPicture(97, 64);
    const PngPicture back = decodePng(encodePng(rgb.data(), 97, 64));
    ASSERT_TRUE(back.ok) << back.problem;
    const std::set<int> used(back.filters.begin(), back.filters.end());
    EXPECT_GE(used.size(), 2u) << "the heuristic picks per row";
    // The rows below a flat first row repeat it: Up leaves only zeros.
    EXPECT_EQ(back.filters[5], 2);

    // A uniform 640x480 frame (a faded scene) is tiny once deflated.
    std::vector<unsigned char> red(640 * 480 * 3);
    for (size_t i = 0; i < red.size(); i += 3)
        red[i] = 128;
    const std::vector<unsigned char> png = encodePng(red.data(), 640, 480);
    EXPECT_LT(png.size(), 4000u);
    const PngPicture redBack = decodePng(png);
    ASSERT_TRUE(redBack.ok) << redBack.problem;
    EXPECT_EQ(redBack.at(639, 479)[0], 128);
    EXPECT_EQ(redBack.at(639, 479)[1], 0);
}

TEST(PngWriter, SameInputGivesSameBytes) {
    const std::vector<unsigned char> rgb = testPicture(40, 30);
    EXPECT_EQ(encodePng(rgb.data(), 40, 30), encodePng(rgb.data(), 40, 30));
}

TEST(WavWriter, HeaderDescribesMono16BitPcm) {
    const std::vector<unsigned char> h = wavHeader(44100, 44100, 1);
    ASSERT_EQ(h.size(), 44u);
    EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "RIFF");
    EXPECT_EQ(little32(h, 4), 36u + 88200u);
    EXPECT_EQ(std::string(h.begin() + 8, h.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(little32(h, 16), 16u);
    EXPECT_EQ(h[20] | (h[21] << 8), 1);  // PCM
    EXPECT_EQ(h[22] | (h[23] << 8), 1);  // channels
    EXPECT_EQ(little32(h, 24), 44100u);  // rate
    EXPECT_EQ(little32(h, 28), 88200u);  // bytes per second
    EXPECT_EQ(h[32] | (h[33] << 8), 2);  // bytes per frame
    EXPECT_EQ(h[34] | (h[35] << 8), 16); // bits
    EXPECT_EQ(std::string(h.begin() + 36, h.begin() + 40), "data");
    EXPECT_EQ(little32(h, 40), 88200u);

    const std::vector<unsigned char> stereo = wavHeader(10, 48000, 2);
    EXPECT_EQ(little32(stereo, 28), 192000u);
    EXPECT_EQ(little32(stereo, 40), 40u);
}

TEST(WavWriter, SamplesRoundClampAndSilenceNaN) {
    const float in[] = {0.0f,  1.0f, -1.0f, 0.5f,
                        -0.5f, 2.0f, -3.0f, std::numeric_limits<float>::quiet_NaN(),
                        1e-6f, 0.25f};
    std::vector<unsigned char> out = {0xAA}; // appended after what is there
    appendPcm16(in, 10, &out);
    ASSERT_EQ(out.size(), 21u);
    EXPECT_EQ(out[0], 0xAA);
    const std::vector<unsigned char> pcm(out.begin() + 1, out.end());
    EXPECT_EQ(sampleAt(pcm, 0), 0);
    EXPECT_EQ(sampleAt(pcm, 1), 32767);
    EXPECT_EQ(sampleAt(pcm, 2), -32767);
    EXPECT_EQ(sampleAt(pcm, 3), 16384); // 16383.5 rounds up
    EXPECT_EQ(sampleAt(pcm, 4), -16383);
    EXPECT_EQ(sampleAt(pcm, 5), 32767);
    EXPECT_EQ(sampleAt(pcm, 6), -32767);
    EXPECT_EQ(sampleAt(pcm, 7), 0);
    EXPECT_EQ(sampleAt(pcm, 8), 0);
    EXPECT_EQ(sampleAt(pcm, 9), 8192);
    // Little-endian: 32767 is FF 7F.
    EXPECT_EQ(pcm[2], 0xFF);
    EXPECT_EQ(pcm[3], 0x7F);
}
