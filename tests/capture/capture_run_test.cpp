// The capture program end to end: run as a process over the generated media
// (short ranges, small pictures), its pictures, sound, video and messages.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/kit.h"

namespace fs = std::filesystem;
using namespace kit;

namespace {

const std::string DATA = std::string(" --data ") + TUHKALA_BINARY_DIR + " ";

class CaptureRun : public ::testing::Test {
  protected:
    std::string dir;
    void SetUp() override {
        char pattern[] = "/tmp/tuhkala-capture-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const std::string& name) const { return dir + "/" + name; }

    // The program's exit status, its standard error in *errors. The time
    // limit turns a hang into a failure; env sets variables for it alone.
    int capture(const std::string& args, std::string* errors = nullptr,
                const std::string& env = "") {
        const RunResult r = run("timeout 240 " + (env.empty() ? "" : "env " + env + " ") +
                                quote(TUHKALA_BINARY_DIR "/tuhkala-capture") + " --quiet " + args +
                                " 2>" + quote(path("stderr.txt")));
        if (errors) {
            const Bytes text = readFile(path("stderr.txt"));
            errors->assign(text.begin(), text.end());
        }
        return r.status;
    }
    Bytes pixels(const std::string& name) const {
        const Picture picture = readPng(path(name));
        EXPECT_EQ(picture.problem, "");
        return picture.rgb;
    }
    // The samples of a mono 16-bit WAV file, after checking its data size.
    std::vector<int16_t> wavSamples(const std::string& name) const {
        const Bytes b = readFile(path(name));
        std::vector<int16_t> samples;
        if (b.size() < 44 || std::string(b.begin() + 36, b.begin() + 40) != "data")
            return samples;
        EXPECT_EQ(b[40] | (b[41] << 8) | (b[42] << 16) | (uint32_t(b[43]) << 24), b.size() - 44);
        for (size_t i = 44; i + 1 < b.size(); i += 2)
            samples.push_back(static_cast<int16_t>(b[i] | (b[i + 1] << 8)));
        return samples;
    }
};

} // namespace

TEST_F(CaptureRun, RangesAreBitExactAndPicturesAndSoundLineUpWithThem) {
    const std::string range = DATA + "--fps 20 --size 96x72 ";
    ASSERT_EQ(capture(range + "--from 0 --to 1000 -o " + path("a/")), 0);
    ASSERT_EQ(capture(range + "--from 0 --to 1000 -o " + path("b/")), 0);
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(path("a"))) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(readFile(path("a/" + name)), readFile(path("b/" + name))) << name;
        ++files;
    }
    EXPECT_EQ(files, 21u) << "20 frames and audio.wav";
    EXPECT_NE(pixels("a/frame-000000.png"), pixels("a/frame-000019.png")) << "the show moves";

    // At 20 fps pass n runs at n * 50 ms: 350 is pass 7, 399 still shows pass
    // 7, 980 shows pass 19; only the pictures asked for are written.
    std::string errors;
    ASSERT_EQ(capture(range + "--at 350 --at 399 --at 980 -o " + path("at//"), &errors), 0)
        << errors;
    EXPECT_EQ(pixels("at/at-350.png"), pixels("a/frame-000007.png"));
    EXPECT_EQ(pixels("at/at-399.png"), pixels("a/frame-000007.png"));
    EXPECT_EQ(pixels("at/at-980.png"), pixels("a/frame-000019.png"));
    EXPECT_NE(pixels("at/at-350.png"), pixels("a/frame-000008.png"));
    EXPECT_FALSE(fs::exists(path("at/audio.wav")) || fs::exists(path("at/frame-000000.png")));

    // The sound lasts as long as the range, and a later range's sound is the
    // same stretch of the same render, with as many frames as its time.
    ASSERT_EQ(capture(range + "--from 500 --to 1000 -o " + path("half/")), 0);
    ASSERT_EQ(capture(DATA + "--size 32x24 --fps 60 --from 250 --to 1250 -o " + path("sixty/")), 0);
    const std::vector<int16_t> whole = wavSamples("a/audio.wav"),
                               half = wavSamples("half/audio.wav");
    ASSERT_EQ(whole.size(), 44100u);
    ASSERT_EQ(half.size(), 22050u);
    EXPECT_EQ(wavSamples("sixty/audio.wav").size(), 44100u);
    EXPECT_TRUE(std::equal(half.begin(), half.end(), whole.begin() + 22050));
    int peak = 0;
    for (int16_t s : whole)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    EXPECT_GT(peak, 1000) << "the music plays from the first second";
    EXPECT_EQ(pixels("half/frame-000000.png"), pixels("a/frame-000010.png"));
    EXPECT_TRUE(fs::exists(path("half/frame-000009.png")));
    EXPECT_FALSE(fs::exists(path("half/frame-000010.png")));
}

// With --keep-aspect the picture is the 4:3 one, whole, centred between black
// bars with the odd pixel right or below: at 165x120 and at 160x125 its
// 160x120 middle is the reference frame of that instant (same tolerance as
// tests/golden). At 165x120 the instant is the lit ball of "toka efu" over
// its background, so the projection and the overlays are both in it; at
// 160x125 an early one of "eka efu", overlays alone, 73 passes to draw
// rather than 650 (the projection's shape does not depend on the bars').
TEST_F(CaptureRun, KeepAspectCentresTheReferencePictureBetweenBlackBars) {
    auto crop = [](const Picture& from, int x, int y, int w, int h) {
        Picture part;
        part.width = w;
        part.height = h;
        for (int row = y; row < y + h; ++row) {
            const auto start = from.rgb.begin() + (static_cast<size_t>(row) * from.width + x) * 3;
            part.rgb.insert(part.rgb.end(), start, start + w * 3);
        }
        return part;
    };
    const struct {
        int ms, width, height;
        int x, y;    // the picture's top left corner
        int barA[4]; // the bars: x, y, width, height
        int barB[4];
    } cases[] = {
        {21633, 165, 120, 2, 0, {0, 0, 2, 120}, {162, 0, 3, 120}},
        {2433, 160, 125, 0, 2, {0, 0, 160, 2}, {0, 122, 160, 3}},
    };
    for (const auto& c : cases) {
        const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
        const std::string name = "at-" + std::to_string(c.ms) + ".png";
        const Picture reference = readPng(TUHKALA_SOURCE_DIR "/tests/golden/" + name);
        ASSERT_EQ(reference.problem, "");
        std::string errors;
        ASSERT_EQ(capture(DATA + "--fps 30 --keep-aspect --size " + size + " --at " +
                              std::to_string(c.ms) + " -o " + path(size + "/"),
                          &errors),
                  0)
            << errors;
        const Picture shot = readPng(path(size + "/" + name));
        ASSERT_EQ(shot.width * 1000 + shot.height, c.width * 1000 + c.height) << shot.problem;
        for (const int* bar : {c.barA, c.barB})
            EXPECT_EQ(farthestFrom(crop(shot, bar[0], bar[1], bar[2], bar[3]), {0, 0, 0}), 0)
                << size << ": bar at " << bar[0] << "," << bar[1];
        const Difference d = compare(crop(shot, c.x, c.y, 160, 120), reference, 16);
        EXPECT_LE(d.pixelsOver, 96) << size;
        EXPECT_LE(d.mean, 1.0) << size;
    }
}

TEST_F(CaptureRun, VideoHoldsH264AndAacOfTheRangesLengthAndIsBitExact) {
    if (!haveProgram("ffmpeg") || !haveProgram("ffprobe"))
        GTEST_SKIP() << "ffmpeg or ffprobe is not installed";
    // A second of sound is all in the pipe before ffmpeg has looked at it; it
    // must see the sound's end to go on reading the video.
    const std::string args = DATA + "--from 1000 --to 2000 --fps 60 --size 96x72 -o ";
    std::string errors;
    ASSERT_EQ(capture(args + path("clip.mkv"), &errors), 0) << errors;
    const std::string streams =
        run("ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,"
            "sample_rate -show_entries format=duration -of compact " +
            quote(path("clip.mkv")))
            .out;
    EXPECT_NE(streams.find("codec_name=h264|codec_type=video|width=96|height=72"),
              std::string::npos)
        << streams;
    EXPECT_NE(streams.find("codec_name=aac|codec_type=audio|sample_rate=44100"), std::string::npos)
        << streams;
    const size_t at = streams.find("duration=");
    ASSERT_NE(at, std::string::npos) << streams;
    EXPECT_NEAR(std::atof(streams.c_str() + at + 9), 1.0, 0.06) << streams;
    // No random ids or dates in the container: a second capture is the same.
    ASSERT_EQ(capture(args + path("again.mkv")), 0);
    EXPECT_EQ(readFile(path("clip.mkv")), readFile(path("again.mkv")));
    // Frames larger than the pipe's buffer go in pieces, every byte once: the
    // video's last frame is the picture of the same pass, but for the
    // encoder's loss.
    const std::string big = DATA + "--fps 10 --size 800x600 ";
    ASSERT_EQ(capture(big + "--to 200 -o " + path("big.mkv")), 0);
    ASSERT_EQ(capture(big + "--at 100 -o " + path("big/")), 0);
    const std::string video =
        run("ffmpeg -v error -i " + quote(path("big.mkv")) + " -f rawvideo -pix_fmt rgb24 -").out;
    ASSERT_EQ(video.size(), 2u * 800 * 600 * 3);
    Picture last = readPng(path("big/at-100.png"));
    last.rgb.assign(video.end() - 800 * 600 * 3, video.end());
    EXPECT_LT(compare(last, readPng(path("big/at-100.png")), 255).mean, 4.0);
    // ffmpeg refusing its settings fails the capture and leaves no file.
    EXPECT_EQ(capture(DATA + "--to 500 --size 32x24 --vcodec no-such-encoder -o " + path("bad.mp4"),
                      &errors),
              1);
    EXPECT_NE(errors.find("tuhkala-capture: ffmpeg failed (exit status"), std::string::npos)
        << errors;
    EXPECT_FALSE(fs::exists(path("bad.mp4")));
}

TEST_F(CaptureRun, ErrorsAreOneLineNonZeroAndWriteNothing) {
    // An empty data folder; a copy of the media without one of the show's
    // pictures and where a texture map named inside a mesh is a folder; a file where a folder
    // should be (named without the trailing slash); a PATH without ffmpeg (the line says how to
    // install it). Ranges are short, so a capture that wrongly goes on ends soon.
    fs::create_directories(path("empty"));
    fs::create_directories(path("partial/tavara/pallo.jpg"));
    for (const auto& entry : fs::directory_iterator(TUHKALA_BINARY_DIR "/tavara")) {
        if (entry.path().filename() != "pallo.jpg" && entry.path().filename() != "gay.jpg")
            fs::create_symlink(entry.path(),
                               path("partial/tavara/") + entry.path().filename().string());
    }
    std::ofstream(path("file")) << "not a folder";
    fs::create_directories(path("no-programs"));
    const struct {
        int status;
        std::string args, says, env = "";
    } cases[] = {
        {2, "--fps 0 -o x/", "1 to 1000"},
        {1, "--data " + path("empty") + " --to 100 -o " + path("out/"),
         "no tavara/ folder in " + path("empty")},
        {1, "--data " + path("partial") + " --to 100 -o " + path("out/"),
         "missing media files tavara/gay.jpg, tavara/pallo.jpg in " + path("partial")},
        {1, DATA + "--to 100 -o " + path("file/clip.mp4"), "cannot write " + path("file/clip.mp4")},
        {1, DATA + "--to 100 -o " + path("file/frames/"),
         "cannot create the folder " + path("file/frames") + ": "},
        {1, DATA + "--to 100 -o " + path("clip.mp4"), "sudo apt-get install ffmpeg",
         "PATH=" + quote(path("no-programs"))},
        {1, DATA + "--from 101 --to 150 --fps 10 -o " + path("out/"), "holds no frame"},
    };
    for (const auto& c : cases) {
        std::string errors;
        EXPECT_EQ(capture(c.args, &errors, c.env), c.status) << c.args;
        EXPECT_EQ(errors.rfind("tuhkala-capture: ", 0), 0u) << errors;
        EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line: " << errors;
        EXPECT_NE(errors.find(c.says), std::string::npos) << errors;
        EXPECT_FALSE(fs::exists(path("out")) || fs::exists(path("clip.mp4"))) << c.args;
    }
    EXPECT_EQ(capture("--help >" + quote(path("help.txt"))), 0);
    const Bytes help = readFile(path("help.txt"));
    EXPECT_NE(std::string(help.begin(), help.end()).find("Usage: tuhkala-capture -o OUTPUT"),
              std::string::npos);
}
