// The capture program's command line and its pass/time/sample arithmetic.
#include <gtest/gtest.h>

#include <cstdio>
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
    std::snprintf(text, sizeof text, "%d %s %dx%d@%d %d-%d%s %s/%s%s%s at%s",
                  static_cast<int>(o.output), o.outputPath.c_str(), o.width, o.height, o.fps,
                  o.fromMs, o.toMs, o.rangeGiven ? " range" : "", o.videoCodec.c_str(),
                  o.audioCodec.c_str(), o.quiet ? " quiet" : "", o.help ? " help" : "", at.c_str());
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
