// The capture program end to end: it is run as a process over the generated
// media (short ranges, small pictures) and its pictures, sound and messages
// are checked.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/capture/png_reader.h"

namespace fs = std::filesystem;

namespace {

const std::string PROGRAM = TUHKALA_BINARY_DIR "/tuhkala-capture";
const std::string DATA = TUHKALA_BINARY_DIR;

struct Result {
    int status = -1;
    std::string errors; // standard error
};

std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class CaptureRun : public ::testing::Test {
  protected:
    std::string dir;

    void SetUp() override {
        char pattern[] = "/tmp/tuhkala-capture-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the program with args (and an optional environment prefix).
    Result run(const std::string& args, const std::string& env = "") {
        const std::string errors = dir + "/stderr.txt";
        // The time limit turns a hang into a failure; env sets variables
        // for the program alone (a PATH without ffmpeg must not hide timeout).
        const std::string command = "timeout 240 " + (env.empty() ? "" : "env " + env + " ") +
                                    quote(PROGRAM) + " --quiet " + args + " 2>" + quote(errors);
        Result result;
        const int raw = std::system(command.c_str());
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        const std::vector<unsigned char> bytes = readBytes(errors);
        result.errors.assign(bytes.begin(), bytes.end());
        return result;
    }

    std::string path(const std::string& name) const { return dir + "/" + name; }
};

std::vector<int16_t> wavSamples(const std::string& file) {
    const std::vector<unsigned char> bytes = readBytes(file);
    std::vector<int16_t> samples;
    if (bytes.size() < 44 || std::string(bytes.begin() + 36, bytes.begin() + 40) != "data")
        return samples;
    const uint32_t declared =
        bytes[40] | (bytes[41] << 8) | (bytes[42] << 16) | (static_cast<uint32_t>(bytes[43]) << 24);
    EXPECT_EQ(declared, bytes.size() - 44) << "the header's data size";
    for (size_t i = 44; i + 1 < bytes.size(); i += 2)
        samples.push_back(static_cast<int16_t>(bytes[i] | (bytes[i + 1] << 8)));
    return samples;
}

int maxDistance(const PngPicture& picture, int r, int g, int b) {
    int worst = 0;
    for (size_t i = 0; i < picture.rgb.size(); i += 3) {
        worst = std::max({worst, std::abs(picture.rgb[i] - r), std::abs(picture.rgb[i + 1] - g),
                          std::abs(picture.rgb[i + 2] - b)});
    }
    return worst;
}

bool haveProgram(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string shellOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[512];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

} // namespace

TEST_F(CaptureRun, TwoCapturesAreIdenticalBitForBit) {
    const std::string common = "--data " + DATA + " --from 0 --to 600 --fps 20 --size 96x72 -o ";
    ASSERT_EQ(run(common + path("a/")).status, 0);
    ASSERT_EQ(run(common + path("b/")).status, 0);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path("a")))
        names.push_back(entry.path().filename().string());
    ASSERT_EQ(names.size(), 13u) << "12 frames and audio.wav";
    for (const std::string& name : names)
        EXPECT_EQ(readBytes(path("a/" + name)), readBytes(path("b/" + name))) << name;
    // The frames are real pictures of a moving show, not one repeated frame.
    const PngPicture first = readPng(path("a/frame-000000.png"));
    const PngPicture last = readPng(path("a/frame-000011.png"));
    ASSERT_TRUE(first.ok) << first.problem;
    ASSERT_TRUE(last.ok) << last.problem;
    EXPECT_EQ(first.width, 96);
    EXPECT_EQ(first.height, 72);
    EXPECT_GT(maxDistance(first, 0, 0, 0), 20) << "something is drawn";
    EXPECT_NE(first.rgb, last.rgb);
}

TEST_F(CaptureRun, PicturesAtTimesEqualTheSamePassesOfARangeRun) {
    ASSERT_EQ(
        run("--data " + DATA + " --from 0 --to 1000 --fps 20 --size 96x72 -o " + path("range/"))
            .status,
        0);
    const Result at = run("--data " + DATA +
                          " --at 350 --at 399 --at 980 --fps 20 --size 96x72 -o " + path("at/"));
    ASSERT_EQ(at.status, 0) << at.errors;
    // At 20 fps pass n runs at n * 50 ms: 350 is pass 7, 399 still shows
    // pass 7, and 980 shows pass 19 (950 ms).
    const struct {
        const char* picture;
        const char* frame;
    } pairs[] = {{"at-350.png", "frame-000007.png"},
                 {"at-399.png", "frame-000007.png"},
                 {"at-980.png", "frame-000019.png"}};
    for (const auto& pair : pairs) {
        const PngPicture a = readPng(path(std::string("at/") + pair.picture));
        const PngPicture f = readPng(path(std::string("range/") + pair.frame));
        ASSERT_TRUE(a.ok) << a.problem;
        ASSERT_TRUE(f.ok) << f.problem;
        EXPECT_EQ(a.rgb, f.rgb) << pair.picture << " vs " << pair.frame;
    }
    EXPECT_NE(readPng(path("range/frame-000008.png")).rgb, readPng(path("at/at-350.png")).rgb);
    // Only the pictures asked for are written.
    EXPECT_FALSE(fs::exists(path("at/audio.wav")));
    EXPECT_FALSE(fs::exists(path("at/frame-000000.png")));
}

TEST_F(CaptureRun, SoundLastsAsLongAsTheRangeAndLinesUpWithIt) {
    const std::string common = "--data " + DATA + " --size 32x24 --fps 20 ";
    ASSERT_EQ(run(common + "--from 0 --to 1000 -o " + path("whole/")).status, 0);
    ASSERT_EQ(run(common + "--from 500 --to 1000 -o " + path("half/")).status, 0);
    ASSERT_EQ(
        run("--data " + DATA + " --size 32x24 --fps 60 --from 250 --to 1250 -o " + path("sixty/"))
            .status,
        0);
    const std::vector<int16_t> whole = wavSamples(path("whole/audio.wav"));
    const std::vector<int16_t> half = wavSamples(path("half/audio.wav"));
    ASSERT_EQ(whole.size(), 44100u);
    ASSERT_EQ(half.size(), 22050u);
    EXPECT_EQ(wavSamples(path("sixty/audio.wav")).size(), 44100u);
    // The later range's sound is the same stretch of the same render.
    EXPECT_TRUE(std::equal(half.begin(), half.end(), whole.begin() + 22050));
    int peak = 0;
    for (int16_t s : whole)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    EXPECT_GT(peak, 1000) << "the music plays from the first second";
    EXPECT_LE(peak, 32767);
    // Ten frames for the half second.
    EXPECT_TRUE(fs::exists(path("half/frame-000009.png")));
    EXPECT_FALSE(fs::exists(path("half/frame-000010.png")));
}

TEST_F(CaptureRun, ScenesShowTheirFirstFramesAtTheirScheduledTimes) {
    // 5 fps puts a pass exactly on each scene's first millisecond.
    const Result r = run("--data " + DATA + " --fps 5 --size 64x48 --at 19200 --at 64000 " +
                         "--at 128000 --at 160000 -o " + path("scenes/"));
    ASSERT_EQ(r.status, 0) << r.errors;
    const PngPicture toka = readPng(path("scenes/at-19200.png"));
    const PngPicture muija = readPng(path("scenes/at-64000.png"));
    const PngPicture neljas = readPng(path("scenes/at-128000.png"));
    const PngPicture loppu = readPng(path("scenes/at-160000.png"));
    for (const PngPicture* p : {&toka, &muija, &neljas, &loppu}) {
        ASSERT_TRUE(p->ok) << p->problem;
        ASSERT_EQ(p->width, 64);
    }
    EXPECT_EQ(maxDistance(toka, 255, 255, 255), 0) << "toka's white flash before order 10";
    EXPECT_LE(maxDistance(muija, 128, 0, 0), 2) << "muija's first frame under its red fade";
    const unsigned char* corner = neljas.at(1, 1);
    EXPECT_EQ(corner[0] + corner[1] + corner[2], 0) << "neljas clears to black";
    EXPECT_GT(maxDistance(neljas, 0, 0, 0), 30) << "and draws its model";
    EXPECT_EQ(maxDistance(loppu, 0, 0, 0), 0) << "loppu fades in from black";
}

TEST_F(CaptureRun, VideoHoldsH264AndAacOfTheRangesLength) {
    if (!haveProgram("ffmpeg") || !haveProgram("ffprobe"))
        GTEST_SKIP() << "ffmpeg or ffprobe is not installed";
    // A second of sound is all in the pipe before ffmpeg has looked at it; it
    // must see the sound's end to go on reading the video.
    const Result r = run("--data " + DATA + " --from 1000 --to 2000 --fps 60 --size 96x72 -o " +
                         path("clip.mkv"));
    ASSERT_EQ(r.status, 0) << r.errors;
    const std::string streams = shellOutput(
        "ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,sample_rate "
        "-show_entries format=duration -of compact " +
        quote(path("clip.mkv")));
    EXPECT_NE(streams.find("codec_name=h264|codec_type=video|width=96|height=72"),
              std::string::npos)
        << streams;
    EXPECT_NE(streams.find("codec_name=aac|codec_type=audio|sample_rate=44100"), std::string::npos)
        << streams;
    const size_t at = streams.find("duration=");
    ASSERT_NE(at, std::string::npos) << streams;
    EXPECT_NEAR(std::atof(streams.c_str() + at + 9), 1.0, 0.06) << streams;
    // The container holds no random ids or dates: a second capture is the
    // same file.
    ASSERT_EQ(run("--data " + DATA + " --from 1000 --to 2000 --fps 60 --size 96x72 -o " +
                  path("again.mkv"))
                  .status,
              0);
    EXPECT_EQ(readBytes(path("clip.mkv")), readBytes(path("again.mkv")));
}

TEST_F(CaptureRun, ArgumentErrorsAreOneLineAndNonZero) {
    for (const std::string& args :
         {std::string("--fps 0 -o x/"), std::string("--size 12 -o x/"), std::string("--frobnicate"),
          std::string("--from 10"), std::string("-o clip.webm")}) {
        const Result r = run(args);
        EXPECT_NE(r.status, 0) << args;
        EXPECT_NE(r.status, 124) << "timed out: " << args;
        EXPECT_EQ(r.errors.rfind("tuhkala-capture: ", 0), 0u) << r.errors;
        EXPECT_EQ(r.errors.find('\n'), r.errors.size() - 1) << "one line: " << r.errors;
    }
    const std::string help = shellOutput(quote(PROGRAM) + " --help");
    EXPECT_NE(help.find("Usage: tuhkala-capture -o OUTPUT"), std::string::npos);
}

TEST_F(CaptureRun, MissingMediaIsNamedBeforeAnythingIsWritten) {
    fs::create_directories(path("empty"));
    Result r = run("--data " + path("empty") + " -o " + path("out/"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.errors.find("no tavara/ folder in " + path("empty")), std::string::npos)
        << r.errors;

    // A copy of the media without one picture of a scene and one texture map
    // named inside a mesh.
    fs::create_directories(path("partial/tavara"));
    for (const auto& entry : fs::directory_iterator(DATA + "/tavara")) {
        const std::string name = entry.path().filename().string();
        if (name != "neito.jpg" && name != "pallo.jpg")
            fs::create_symlink(entry.path(), path("partial/tavara/" + name));
    }
    r = run("--data " + path("partial") + " -o " + path("out/"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.errors.find("tavara/neito.jpg"), std::string::npos) << r.errors;
    EXPECT_NE(r.errors.find("tavara/pallo.jpg"), std::string::npos) << r.errors;
    EXPECT_EQ(r.errors.find('\n'), r.errors.size() - 1) << r.errors;
    EXPECT_FALSE(fs::exists(path("out"))) << "nothing is created for a run that cannot work";
}

TEST_F(CaptureRun, UnwritableOutputsAndAMissingEncoderAreReported) {
    {
        FILE* f = std::fopen(path("plain-file").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    Result r = run("--data " + DATA + " --to 100 -o " + path("plain-file/clip.mp4"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.errors.find("cannot write " + path("plain-file/clip.mp4")), std::string::npos)
        << r.errors;

    r = run("--data " + DATA + " --to 100 -o " + path("plain-file/frames/"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.errors.find("cannot create the folder " + path("plain-file/frames")),
              std::string::npos)
        << r.errors;

    // No ffmpeg anywhere on PATH: the line says how to install it.
    fs::create_directories(path("no-programs"));
    r = run("--data " + DATA + " --to 100 -o " + path("clip.mp4"),
            "PATH=" + quote(path("no-programs")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.errors.find("sudo apt-get install ffmpeg"), std::string::npos) << r.errors;
    EXPECT_FALSE(fs::exists(path("clip.mp4")));

    if (!haveProgram("ffmpeg"))
        return;
    // ffmpeg refusing its settings fails the capture and leaves no file.
    r = run("--data " + DATA + " --to 500 --size 32x24 --vcodec no-such-encoder -o " +
            path("bad.mp4"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.errors.find("tuhkala-capture: ffmpeg failed (exit status"), std::string::npos)
        << r.errors;
    EXPECT_FALSE(fs::exists(path("bad.mp4")));
}
