// The capture program end to end: it is run as a process over the generated
// media (short ranges, small pictures) and its pictures, sound and messages
// are checked.
#include <gtest/gtest.h>

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
const std::string DATA = std::string(" --data ") + TUHKALA_BINARY_DIR + " ";

std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool haveProgram(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<int16_t> wavSamples(const std::string& file) {
    const std::vector<unsigned char> b = readBytes(file);
    std::vector<int16_t> samples;
    if (b.size() < 44 || std::string(b.begin() + 36, b.begin() + 40) != "data")
        return samples;
    EXPECT_EQ(b[40] | (b[41] << 8) | (b[42] << 16) | (uint32_t(b[43]) << 24), b.size() - 44)
        << "the header's data size";
    for (size_t i = 44; i + 1 < b.size(); i += 2)
        samples.push_back(static_cast<int16_t>(b[i] | (b[i + 1] << 8)));
    return samples;
}

// The largest difference of any channel of any pixel from (r, g, b).
int maxDistance(const PngPicture& picture, int r, int g, int b) {
    int worst = 0;
    for (size_t i = 0; i + 2 < picture.rgb.size(); i += 3)
        worst = std::max({worst, std::abs(picture.rgb[i] - r), std::abs(picture.rgb[i + 1] - g),
                          std::abs(picture.rgb[i + 2] - b)});
    return worst;
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
    std::string path(const std::string& name) const { return dir + "/" + name; }

    // Runs the program; returns its exit status and puts its standard error in
    // *errors. The time limit turns a hang into a failure; env sets variables
    // for the program alone (a PATH without ffmpeg must not hide timeout).
    int run(const std::string& args, std::string* errors = nullptr, const std::string& env = "") {
        const std::string log = path("stderr.txt");
        const int raw = std::system(("timeout 240 " + (env.empty() ? "" : "env " + env + " ") +
                                     quote(PROGRAM) + " --quiet " + args + " 2>" + quote(log))
                                        .c_str());
        const std::vector<unsigned char> bytes = readBytes(log);
        if (errors)
            errors->assign(bytes.begin(), bytes.end());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    PngPicture png(const std::string& name) const {
        PngPicture picture = readPng(path(name));
        EXPECT_EQ(picture.problem, "");
        return picture;
    }
};

} // namespace

TEST_F(CaptureRun, RangesAreBitExactAndPicturesAndSoundLineUpWithThem) {
    const std::string range = DATA + "--fps 20 --size 96x72 ";
    ASSERT_EQ(run(range + "--from 0 --to 1000 -o " + path("a/")), 0);
    ASSERT_EQ(run(range + "--from 0 --to 1000 -o " + path("b/")), 0);
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(path("a"))) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(readBytes(path("a/" + name)), readBytes(path("b/" + name))) << name;
        ++files;
    }
    EXPECT_EQ(files, 21u) << "20 frames and audio.wav";
    const PngPicture first = png("a/frame-000000.png");
    EXPECT_EQ(first.width * 1000 + first.height, 96072);
    EXPECT_GT(maxDistance(first, 0, 0, 0), 20) << "something is drawn";
    EXPECT_NE(first.rgb, png("a/frame-000019.png").rgb) << "the show moves";

    // At 20 fps pass n runs at n * 50 ms: 350 is pass 7, 399 still shows pass
    // 7, 980 shows pass 19; and only the pictures asked for are written.
    std::string errors;
    ASSERT_EQ(run(range + "--at 350 --at 399 --at 980 -o " + path("at/"), &errors), 0) << errors;
    EXPECT_EQ(png("at/at-350.png").rgb, png("a/frame-000007.png").rgb);
    EXPECT_EQ(png("at/at-399.png").rgb, png("a/frame-000007.png").rgb);
    EXPECT_EQ(png("at/at-980.png").rgb, png("a/frame-000019.png").rgb);
    EXPECT_NE(png("at/at-350.png").rgb, png("a/frame-000008.png").rgb);
    EXPECT_FALSE(fs::exists(path("at/audio.wav")) || fs::exists(path("at/frame-000000.png")));

    // The sound lasts as long as the range, and a later range's sound is the
    // same stretch of the same render, with as many frames as its time.
    ASSERT_EQ(run(range + "--from 500 --to 1000 -o " + path("half/")), 0);
    ASSERT_EQ(run(DATA + "--size 32x24 --fps 60 --from 250 --to 1250 -o " + path("sixty/")), 0);
    const std::vector<int16_t> whole = wavSamples(path("a/audio.wav"));
    const std::vector<int16_t> half = wavSamples(path("half/audio.wav"));
    ASSERT_EQ(whole.size(), 44100u);
    ASSERT_EQ(half.size(), 22050u);
    EXPECT_EQ(wavSamples(path("sixty/audio.wav")).size(), 44100u);
    EXPECT_TRUE(std::equal(half.begin(), half.end(), whole.begin() + 22050));
    int peak = 0;
    for (int16_t s : whole)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    EXPECT_GT(peak, 1000) << "the music plays from the first second";
    EXPECT_TRUE(fs::exists(path("half/frame-000009.png")));
    EXPECT_FALSE(fs::exists(path("half/frame-000010.png")));
}

TEST_F(CaptureRun, ScenesShowTheirFirstFramesAtTheirScheduledTimes) {
    // 5 fps puts a pass exactly on each scene's first millisecond.
    std::string errors;
    ASSERT_EQ(run(DATA + "--fps 5 --size 64x48 --at 19200 --at 64000 --at 128000 --at 160000 -o " +
                      path("s/"),
                  &errors),
              0)
        << errors;
    EXPECT_EQ(maxDistance(png("s/at-19200.png"), 255, 255, 255), 0) << "toka's white flash";
    EXPECT_LE(maxDistance(png("s/at-64000.png"), 128, 0, 0), 2) << "muija under its red fade";
    const PngPicture neljas = png("s/at-128000.png");
    ASSERT_EQ(neljas.width, 64);
    EXPECT_EQ(neljas.rgb[195] + neljas.rgb[196] + neljas.rgb[197], 0) << "neljas clears to black";
    EXPECT_GT(maxDistance(neljas, 0, 0, 0), 30) << "and draws its model";
    EXPECT_EQ(maxDistance(png("s/at-160000.png"), 0, 0, 0), 0) << "loppu fades in from black";
}

TEST_F(CaptureRun, VideoHoldsH264AndAacOfTheRangesLengthAndIsBitExact) {
    if (!haveProgram("ffmpeg") || !haveProgram("ffprobe"))
        GTEST_SKIP() << "ffmpeg or ffprobe is not installed";
    // A second of sound is all in the pipe before ffmpeg has looked at it; it
    // must see the sound's end to go on reading the video.
    const std::string args = DATA + "--from 1000 --to 2000 --fps 60 --size 96x72 -o ";
    std::string errors;
    ASSERT_EQ(run(args + path("clip.mkv"), &errors), 0) << errors;
    std::string streams;
    FILE* pipe = popen(("ffprobe -v error -show_entries "
                        "stream=codec_type,codec_name,width,height,sample_rate -show_entries "
                        "format=duration -of compact " +
                        quote(path("clip.mkv")))
                           .c_str(),
                       "r");
    ASSERT_NE(pipe, nullptr);
    for (int c; (c = std::fgetc(pipe)) != EOF;)
        streams += static_cast<char>(c);
    pclose(pipe);
    EXPECT_NE(streams.find("codec_name=h264|codec_type=video|width=96|height=72"),
              std::string::npos)
        << streams;
    EXPECT_NE(streams.find("codec_name=aac|codec_type=audio|sample_rate=44100"), std::string::npos)
        << streams;
    const size_t at = streams.find("duration=");
    ASSERT_NE(at, std::string::npos) << streams;
    EXPECT_NEAR(std::atof(streams.c_str() + at + 9), 1.0, 0.06) << streams;
    // No random ids or dates in the container: a second capture is the same.
    ASSERT_EQ(run(args + path("again.mkv")), 0);
    EXPECT_EQ(readBytes(path("clip.mkv")), readBytes(path("again.mkv")));
}

TEST_F(CaptureRun, ErrorsAreOneLineNonZeroAndWriteNothing) {
    // An empty data folder; a copy of the media without one picture of a
    // scene and one texture map named inside a mesh; a file where a folder
    // should be; a PATH without ffmpeg (the line says how to install it).
    fs::create_directories(path("empty"));
    fs::create_directories(path("partial/tavara"));
    for (const auto& entry : fs::directory_iterator(TUHKALA_BINARY_DIR "/tavara")) {
        const std::string name = entry.path().filename().string();
        if (name != "neito.jpg" && name != "pallo.jpg")
            fs::create_symlink(entry.path(), path("partial/tavara/" + name));
    }
    std::ofstream(path("file")) << "not a folder";
    fs::create_directories(path("no-programs"));
    const struct {
        int status;
        std::string args, says, env = "";
    } cases[] = {
        {2, "--fps 0 -o x/", "1 to 1000"},
        {2, "--frobnicate", "unknown argument"},
        {1, "--data " + path("empty") + " -o " + path("out/"),
         "no tavara/ folder in " + path("empty")},
        {1, "--data " + path("partial") + " -o " + path("out/"),
         "files tavara/neito.jpg, tavara/pallo.jpg"},
        {1, DATA + "--to 100 -o " + path("file/clip.mp4"), "cannot write " + path("file/clip.mp4")},
        {1, DATA + "--to 100 -o " + path("file/frames/"),
         "cannot create the folder " + path("file/frames")},
        {1, DATA + "--to 100 -o " + path("clip.mp4"), "sudo apt-get install ffmpeg",
         "PATH=" + quote(path("no-programs"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::string errors;
        EXPECT_EQ(run(c.args, &errors, c.env), c.status);
        EXPECT_EQ(errors.rfind("tuhkala-capture: ", 0), 0u) << errors;
        EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line: " << errors;
        EXPECT_NE(errors.find(c.says), std::string::npos) << errors;
        EXPECT_FALSE(fs::exists(path("out")) || fs::exists(path("clip.mp4"))) << "nothing written";
    }
    std::string errors;
    EXPECT_EQ(run("--help >" + quote(path("help.txt"))), 0);
    const std::vector<unsigned char> help = readBytes(path("help.txt"));
    EXPECT_NE(std::string(help.begin(), help.end()).find("Usage: tuhkala-capture -o OUTPUT"),
              std::string::npos);
    if (!haveProgram("ffmpeg"))
        return;
    // ffmpeg refusing its settings fails the capture and leaves no file.
    EXPECT_EQ(
        run(DATA + "--to 500 --size 32x24 --vcodec no-such-encoder -o " + path("bad.mp4"), &errors),
        1);
    EXPECT_NE(errors.find("tuhkala-capture: ffmpeg failed (exit status"), std::string::npos)
        << errors;
    EXPECT_FALSE(fs::exists(path("bad.mp4")));
}
