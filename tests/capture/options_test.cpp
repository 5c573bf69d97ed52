// The capture program's command line and its pass/time/sample arithmetic.
#include <gtest/gtest.h>

#include <initializer_list>

#include "tools/capture_options.h"

namespace {

struct Parsed {
    bool ok = false;
    CaptureOptions options;
    std::string error;
};

Parsed parse(std::initializer_list<const char*> args) {
    std::vector<const char*> argv = {"tuhkala-capture"};
    argv.insert(argv.end(), args.begin(), args.end());
    Parsed result;
    result.ok = parseCaptureArgs(static_cast<int>(argv.size()), argv.data(), &result.options,
                                 &result.error);
    return result;
}

} // namespace

TEST(CaptureArgs, DefaultsAreTheWholeShowAt640x480And60Fps) {
    const Parsed p = parse({"-o", "show.mp4"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.output, CaptureOutput::Video);
    EXPECT_EQ(p.options.outputPath, "show.mp4");
    EXPECT_EQ(p.options.width, 640);
    EXPECT_EQ(p.options.height, 480);
    EXPECT_EQ(p.options.fps, 60);
    EXPECT_EQ(p.options.fromMs, 0);
    EXPECT_EQ(p.options.toMs, 169001);
    EXPECT_FALSE(p.options.rangeGiven);
    EXPECT_EQ(p.options.videoCodec, "libx264");
    EXPECT_EQ(p.options.audioCodec, "aac");
}

TEST(CaptureArgs, OutputsSizesAndRanges) {
    Parsed p = parse({"--size", "320x200", "--fps", "25", "-o", "frames/", "--from", "1000", "--to",
                      "2500", "--quiet"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.output, CaptureOutput::PngFolder);
    EXPECT_EQ(p.options.width, 320);
    EXPECT_EQ(p.options.height, 200);
    EXPECT_EQ(p.options.fps, 25);
    EXPECT_EQ(p.options.fromMs, 1000);
    EXPECT_EQ(p.options.toMs, 2500);
    EXPECT_TRUE(p.options.quiet);
    EXPECT_TRUE(p.options.rangeGiven);

    p = parse({"-o", "SHOW.MKV", "--vcodec", "libx265", "--acodec", "libopus"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.output, CaptureOutput::Video);
    EXPECT_EQ(p.options.videoCodec, "libx265");
    EXPECT_EQ(p.options.audioCodec, "libopus");

    // A range past the show ends with it; an odd size is fine for pictures.
    p = parse({"--render-only", "--to", "500000", "--size", "81x61"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.output, CaptureOutput::RenderOnly);
    EXPECT_EQ(p.options.toMs, 169001);

    // Pictures: sorted, without repeats.
    p = parse({"-o", "shots/", "--at", "64000", "--at", "0", "--at", "64000", "--at", "169000"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.atMs, (std::vector<int>{0, 64000, 169000}));

    p = parse({"-o", "x.mp4", "--help", "--fps", "nonsense"});
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.options.help);
    EXPECT_NE(captureUsage().find("--at MS"), std::string::npos);
}

TEST(CaptureArgs, BadArgumentsAreRefusedWithAReason) {
    const struct {
        std::initializer_list<const char*> args;
        const char* says;
    } cases[] = {
        {{}, "no output"},
        {{"-o", "show.avi"}, ".mp4 or .mkv"},
        {{"-o", "a.mp4", "-o", "b/"}, "only one output"},
        {{"-o", "a.mp4", "--render-only"}, "only one output"},
        {{"-o"}, "needs a value"},
        {{"-o", "a.mp4", "--bogus"}, "unknown argument '--bogus'"},
        {{"-o", "a.mp4", "--size", "640"}, "expected WxH"},
        {{"-o", "a.mp4", "--size", "0x480"}, "1 to 4096"},
        {{"-o", "a.mp4", "--size", "640x"}, "1 to 4096"},
        {{"-o", "a.mp4", "--size", "5000x480"}, "1 to 4096"},
        {{"-o", "a.mp4", "--size", "-640x480"}, "1 to 4096"},
        {{"-o", "a.mp4", "--size", "641x480"}, "even width"},
        {{"-o", "a.mp4", "--fps", "0"}, "1 to 1000"},
        {{"-o", "a.mp4", "--fps", "1001"}, "1 to 1000"},
        {{"-o", "a.mp4", "--fps", "29.97"}, "1 to 1000"},
        {{"-o", "a.mp4", "--from", "-5"}, "milliseconds"},
        {{"-o", "a.mp4", "--from", "2000", "--to", "2000"}, "later than --from"},
        {{"-o", "a.mp4", "--from", "170000"}, "past the end"},
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

TEST(CapturePasses, TimesFollowTheFixedRate) {
    EXPECT_EQ(passTimeMs(0, 60), 0u);
    EXPECT_EQ(passTimeMs(1, 60), 16u);
    EXPECT_EQ(passTimeMs(3, 60), 50u);
    EXPECT_EQ(passTimeMs(3840, 60), 64000u);
    EXPECT_EQ(passTimeMs(10140, 60), 169000u);
    EXPECT_EQ(passFirstSample(60, 60), 44100u);
    EXPECT_EQ(passFirstSample(1, 60), 735u);
    EXPECT_EQ(passFirstSample(1, 7), 6300u);

    // The two searches agree with their definitions at awkward rates.
    for (int fps : {1, 7, 24, 30, 60, 144, 1000}) {
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
}

TEST(CapturePasses, PlansCoverTheRangeOrThePictures) {
    CaptureOptions options;
    options.output = CaptureOutput::PngFolder;
    CapturePlan plan = planCapture(options);
    EXPECT_EQ(plan.firstPass, 0u);
    EXPECT_EQ(plan.endPass, 10141u); // the last one at 169000 ms, still drawn
    EXPECT_EQ(plan.stopPass, 10141u);

    options.fromMs = 500;
    options.toMs = 1000;
    plan = planCapture(options);
    EXPECT_EQ(plan.firstPass, 30u);
    EXPECT_EQ(plan.endPass, 60u);
    EXPECT_EQ(passFirstSample(plan.endPass, 60) - passFirstSample(plan.firstPass, 60), 22050u);

    options.atMs = {1000, 1010, 1016};
    plan = planCapture(options);
    EXPECT_EQ(plan.atPasses, (std::vector<uint64_t>{60, 60, 61}));
    EXPECT_EQ(plan.stopPass, 62u);
}
