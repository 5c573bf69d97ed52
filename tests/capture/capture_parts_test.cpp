// The capture program's parts: its command line, the pass, time and sample
// arithmetic, the PNG and WAV writers (read back by the kit's strict PNG
// reader), and the shell's frame loop under the virtual clock.
//
// Main thread. Times in milliseconds of show time, sound at 44100 Hz.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <set>

#include "app/shell.h"
#include "music/music.h"
#include "platform/offline_module.h"
#include "platform/offscreen.h"
#include "tests/support/kit.h"
#include "tools/capture_encode.h"
#include "tools/capture_options.h"
#include "tools/capture_output.h"
#include "tools/capture_run.h"

namespace {

struct Parsed {
    bool ok = false;
    CaptureOptions options;
    std::string error;
};

Parsed parse(std::initializer_list<const char*> args) {
    std::vector<const char*> argv = {"tuhkala-capture"};
    argv.insert(argv.end(), args.begin(), args.end());
    Parsed r;
    r.ok = parseCaptureArgs(static_cast<int>(argv.size()), argv.data(), &r.options, &r.error);
    return r;
}

// Everything parsed, in one line, so each case states its whole result.
std::string describe(const CaptureOptions& o) {
    std::string at;
    for (int ms : o.atMs)
        at += " " + std::to_string(ms);
    char text[400];
    std::snprintf(text, sizeof text, "%d %s %dx%d@%d %d-%d%s %s/%s%s%s%s%s at%s",
                  static_cast<int>(o.output), o.outputPath.c_str(), o.width, o.height, o.fps,
                  o.fromMs, o.toMs, o.rangeGiven ? " range" : "", o.videoCodec.c_str(),
                  o.audioCodec.c_str(), o.keepAspect ? " keep" : "", o.quiet ? " quiet" : "",
                  o.help ? " help" : "", o.version ? " version" : "", at.c_str());
    return text;
}

} // namespace

TEST(CaptureArgs, DefaultsOutputsSizesAndRanges) {
    const struct {
        std::initializer_list<const char*> args;
        const char* gives; // output kind: 1 video, 2 PNG folder, 3 render only
    } cases[] = {
        {{"-o", "show.mp4"}, "1 show.mp4 640x480@60 0-169001 libx264/aac at"},
        {{"--size", "320x200", "--fps", "25", "-o", "f/", "--from", "1000", "--to", "2500",
          "--quiet"},
         "2 f/ 320x200@25 1000-2500 range libx264/aac quiet at"},
        {{"-o", "SHOW.MKV", "--vcodec", "libx265", "--acodec", "libopus"},
         "1 SHOW.MKV 640x480@60 0-169001 libx265/libopus at"},
        // A range past the show ends with it; an odd size is fine for pictures.
        {{"--render-only", "--to", "500000", "--size", "81x61"},
         "3  81x61@60 0-169001 range libx264/aac at"},
        // Pictures: sorted, without repeats.
        {{"-o", "s/", "--at", "64000", "--at", "0", "--at", "64000", "--at", "169000"},
         "2 s/ 640x480@60 0-169001 libx264/aac at 0 64000 169000"},
        {{"-o", "x.mp4", "--help", "--fps", "nonsense"},
         "1 x.mp4 640x480@60 0-169001 libx264/aac help at"},
        {{"--version", "--bogus"}, "0  640x480@60 0-169001 libx264/aac version at"},
        {{"--keep-aspect", "-o", "k/", "--size", "200x100"},
         "2 k/ 200x100@60 0-169001 libx264/aac keep at"},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.args);
        EXPECT_TRUE(p.ok) << p.error;
        EXPECT_EQ(describe(p.options), c.gives);
    }
    EXPECT_NE(captureUsage().find("--at MS"), std::string::npos);
}

TEST(CaptureArgs, BadArgumentsAreRefusedWithAOneLineReason) {
    const struct {
        std::initializer_list<const char*> args;
        const char* says;
    } cases[] = {
        {{}, "no output"},
        {{"-o", "show.avi"}, ".mp4 or .mkv"},
        {{"-o", "a.mp4", "-o", "b/"}, "only one output"},
        {{"-o"}, "needs a value"},
        {{"-o", "a.mp4", "--bogus"}, "unknown argument '--bogus'"},
        {{"-o", "a.mp4", "--size", "640"}, "expected WxH"},
        {{"-o", "a.mp4", "--size", "640x"}, "1 to 4096"},
        {{"-o", "a.mp4", "--size", "5000x480"}, "1 to 4096"},
        {{"-o", "a.mp4", "--size", "-640x480"}, "1 to 4096"},
        {{"-o", "a.mp4", "--size", "641x480"}, "even width"},
        {{"-o", "a.mp4", "--fps", "0"}, "1 to 1000"},
        {{"-o", "a.mp4", "--fps", "29.97"}, "1 to 1000"},
        {{"-o", "a.mp4", "--from", "-5"}, "milliseconds"},
        {{"-o", "a.mp4", "--from", "2000", "--to", "2000"}, "later than --from"},
        {{"-o", "a.mp4", "--from", "170000"}, "past the end"},
        {{"-o", "a.mp4", "--to", "100000001"}, "milliseconds"},
        {{"-o", "a.mp4", "--to", "99999999999999"}, "milliseconds"},
        {{"-o", "d/", "--at", "169001"}, "past the end"},
        {{"-o", "a.mp4", "--at", "1000"}, "folder"},
        {{"-o", "d/", "--at", "1000", "--from", "0"}, "cannot be combined"},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.args);
        EXPECT_FALSE(p.ok) << c.says;
        EXPECT_NE(p.error.find(c.says), std::string::npos) << "got: " << p.error;
        EXPECT_EQ(p.error.find('\n'), std::string::npos) << "one line";
    }
}

TEST(CapturePasses, TimesSamplesAndPlansFollowTheFixedRate) {
    EXPECT_EQ(passTimeMs(1, 60), 16u);
    EXPECT_EQ(passTimeMs(10140, 60), 169000u);
    EXPECT_EQ(passFirstSample(60, 60), 44100u);
    EXPECT_EQ(passFirstSample(1, 7), 6300u);
    // The two searches agree with their definitions at awkward rates.
    for (int fps : {1, 7, 24, 60, 144, 1000}) {
        uint64_t pass = 0;
        for (uint64_t ms = 0; ms < 3000; ++ms) {
            while (passTimeMs(pass, fps) < ms)
                ++pass;
            ASSERT_EQ(firstPassAtOrAfter(ms, fps), pass) << fps << " fps, " << ms << " ms";
            const uint64_t last = lastPassAtOrBefore(ms, fps);
            ASSERT_LE(passTimeMs(last, fps), ms);
            ASSERT_GT(passTimeMs(last + 1, fps), ms) << fps << " fps, " << ms << " ms";
        }
    }

    CaptureOptions options;
    options.output = CaptureOutput::PngFolder;
    CapturePlan plan = planCapture(options);
    // The whole show: the last pass, at 169000 ms, is still drawn.
    EXPECT_EQ((std::vector<uint64_t>{plan.firstPass, plan.endPass, plan.stopPass}),
              (std::vector<uint64_t>{0, 10141, 10141}));
    options.fromMs = 500;
    options.toMs = 1000;
    plan = planCapture(options);
    EXPECT_EQ((std::vector<uint64_t>{plan.firstPass, plan.endPass}),
              (std::vector<uint64_t>{30, 60}));
    options.atMs = {1000, 1010, 1016};
    plan = planCapture(options);
    EXPECT_EQ(plan.atPasses, (std::vector<uint64_t>{60, 60, 61}));
    EXPECT_EQ(plan.stopPass, 62u);
}

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
        const kit::Picture back = kit::decodePng(png);
        ASSERT_EQ(back.problem, "");
        EXPECT_EQ(back.width * 1000 + back.height, size.first * 1000 + size.second);
        EXPECT_EQ(back.rgb, rgb) << size.first << "x" << size.second;
        EXPECT_EQ(png, encodePng(rgb.data(), size.first, size.second));
        if (size.first == 97) { // the per-row choice tries every filter here
            EXPECT_EQ(std::set<int>(back.filters.begin(), back.filters.end()).size(), 5u);
        }
    }
}

TEST(CaptureOutput, PreparingAndWritingLeaveNoDescriptorOpenAndNoProbe) {
    const std::string dir = kit::scratchDir("capture-output") + "/frames";
    const int descriptors = kit::openDescriptors();
    std::string error;
    ASSERT_TRUE(prepareOutputFolder(dir, &error)) << error;
    ASSERT_TRUE(prepareOutputFile(dir + "/clip.mkv", &error)) << error;
    ASSERT_TRUE(writeWholeFile(dir + "/at-0.png", {1, 2, 3}, &error)) << error;
    // An encoder that cannot start closes both its pipes.
    VideoEncoder encoder;
    VideoSettings settings;
    settings.ffmpeg = dir + "/no-such-ffmpeg";
    EXPECT_FALSE(startVideoEncoder(&encoder, settings, {}, &error));
    EXPECT_EQ(error.rfind("cannot start " + settings.ffmpeg + ": ", 0), 0u) << error;
    EXPECT_EQ(kit::openDescriptors(), descriptors);
    EXPECT_FALSE(std::filesystem::exists(dir + "/.tuhkala-capture-probe"));
    EXPECT_EQ(kit::readFile(dir + "/at-0.png"), (kit::Bytes{1, 2, 3}));
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
    // No more than 4 GiB less the header can be described: both sizes
    // saturate, also for a stream that would fit without the header.
    const std::vector<unsigned char> huge = wavHeader(0x7FFFFFF0ull, 44100, 1);
    EXPECT_EQ(little(huge, 4, 4), 0xFFFFFFFFu);
    EXPECT_EQ(little(huge, 40, 4), 0xFFFFFFFFu - 36);
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

namespace {

struct Seen {
    uint32_t t;
    float frameTime;
    int order, row;
    char scene;
};
std::vector<Seen> seen;
std::vector<uint64_t> done;

template <char SCENE> void render(float frameTime) {
    seen.push_back({platform::virtualTicks(), frameTime, musicOrder(), musicRow(), SCENE});
}

const EffectEntry TABLE[] = {
    {"a", render<'a'>, 0, 999}, {"b", render<'b'>, 1000, 1500}, {nullptr, nullptr, 0, 0}};
const char* const SONG = TUHKALA_BINARY_DIR "/tavara/amerikka.it";

} // namespace

TEST(VirtualLoop, PassesRunAtFixedTimesAndEndWithTheSchedule) {
    std::string error;
    if (!platform::openOffscreen(32, 24, &error))
        GTEST_SKIP() << "no off-screen GL: " << error;
    struct Close {
        ~Close() { platform::closeOffscreen(); }
    } close;
    platform::OfflineModule music, reference;
    ASSERT_TRUE(music.loadFile(SONG, nullptr) && reference.loadFile(SONG, nullptr));
    auto frameDone = [](uint64_t pass) { done.push_back(pass); };
    ASSERT_EQ(runVirtualFrameLoop(TABLE, 60, 90, &music, frameDone), 90u);
    ASSERT_EQ(seen.size(), 90u);
    ASSERT_EQ(done.size(), 90u);
    std::set<int> rows;
    for (size_t n = 0; n < seen.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(done[n], n);
        EXPECT_EQ(seen[n].t, passTimeMs(n, 60));
        // Every pass lasted its frame period, so the mean over passes 0..n-1
        // is the time reached divided by the passes done.
        EXPECT_EQ(seen[n].frameTime, n == 0 ? 0.0f : static_cast<float>(double(seen[n].t) / n));
        EXPECT_EQ(seen[n].scene, seen[n].t < 1000 ? 'a' : 'b');
        const uint32_t word = reference.positionAtMs(seen[n].t);
        EXPECT_EQ(seen[n].order, static_cast<int>(word & 0xFFFF));
        EXPECT_EQ(seen[n].row, static_cast<int>(word >> 16));
        rows.insert(seen[n].row);
    }
    EXPECT_EQ(seen[0].order + seen[0].row, 0);
    EXPECT_GE(rows.size(), 3u) << "the music moves on during 1.5 s";
    EXPECT_FLOAT_EQ(seen[89].frameTime, 1483.0f / 89); // pass 89 runs at 1483 ms

    // 10 fps: passes at 0, 100, ... 1500 draw; the pass at 1600 finds no
    // scene, still swaps, and ends the loop.
    seen.clear();
    done.clear();
    EXPECT_EQ(runVirtualFrameLoop(TABLE, 10, 100000, &music, frameDone), 17u);
    EXPECT_EQ(seen.size(), 16u);
    EXPECT_EQ(seen.back().t, 1500u);
    EXPECT_EQ(done.size(), 17u);
    // One pass a second, the slowest rate: each pass lasts a whole second,
    // and every one counts in the mean.
    seen.clear();
    EXPECT_EQ(runVirtualFrameLoop(TABLE, 1, 100000, &music, nullptr), 3u);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].frameTime, 1000.0f);
    // A later loop stops exactly at its given pass, not cut short by anything
    // the one before left behind.
    seen.clear();
    EXPECT_EQ(runVirtualFrameLoop(TABLE, 25, 2, &music, nullptr), 2u);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].frameTime, 0.0f);
    EXPECT_EQ(seen[1].t, 40u);
    // After the loop the position is the player's again (silent, at the
    // start), not the offline music's at the virtual clock.
    EXPECT_EQ(musicOrder() * 100 + musicRow(), 0);
}
