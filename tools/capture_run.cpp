// One capture run (see capture_run.h). The show is not copied: the shell's
// own start-up calls and frame loop run here against the off-screen backend,
// whose clock only moves in the swap hook below, and against a music source
// that reports the offline render's position at that clock.
//
// Main thread only. Show time in milliseconds of the virtual clock; sound in
// samples at 44100 Hz; sizes in pixels.
#include "tools/capture_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/virtual_show.h"
#include "effects/media_files.h"
#include "music/music.h"
#include "platform/media_folder.h"
#include "platform/offline_module.h"
#include "platform/offscreen.h"
#include "platform/platform.h"
#include "tools/capture_encode.h"
#include "tools/capture_output.h"

namespace {

// Deflate level of PNG sequences: half the time of the default level for
// files under a tenth larger, as a sequence is material for a later encode.
const int SEQUENCE_PNG_LEVEL = 3;
// Progress line refreshes per second, at most.
const double PROGRESS_INTERVAL_S = 0.25;

using Clock = std::chrono::steady_clock;

int report(const std::string& message) {
    std::fprintf(stderr, "tuhkala-capture: %s\n", message.c_str());
    return 1;
}

// A step's failure: its line, then false.
bool stepFailed(const std::string& message) {
    report(message);
    return false;
}

bool readable(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    std::fclose(file);
    return true;
}

// The media files that cannot be read from the working directory: the show's
// own files, then the meshes' texture maps.
std::vector<std::string> missingMediaFiles() {
    std::vector<std::string> missing;
    for (const std::string& name : showMediaFiles()) {
        if (!readable(platform::dataPath(name.c_str())))
            missing.push_back(name);
    }
    for (const std::string& name : meshTextureFiles()) {
        if (!readable(platform::dataPath(name.c_str())))
            missing.push_back(name);
    }
    return missing;
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        if (!text.empty())
            text += ", ";
        text += platform::dataPath(name.c_str());
    }
    return text;
}

std::string twoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

// The data folder: the one given, else the shared media lookup (the working
// directory, the program's folder, an installed copy); the working directory is moved there, since
// the show and its meshes name files relative to it.
bool enterDataFolder(const CaptureOptions& opts) {
    std::string folder;
    if (!opts.dataDir.empty()) {
        if (!isFolder(opts.dataDir + "/tavara")) {
            report("no tavara/ folder in " + absolutePath(opts.dataDir) +
                   " (build the media with: cmake --build build)");
            return false;
        }
        folder = opts.dataDir;
    } else {
        const platform::MediaSearch search = platform::findMediaFolder(platform::programFolder());
        if (search.folder.empty()) {
            report(platform::mediaNotFoundMessage(search) +
                   "; build the media with: cmake --build build");
            return false;
        }
        folder = search.folder;
    }
    if (chdir(folder.c_str()) != 0) {
        report("cannot enter " + folder);
        return false;
    }
    return true;
}

// One capture from its options to its files: what its steps hand on to each
// other and to the per-frame output, and the steps of runCapture in order.
struct CaptureRun {
    const CaptureOptions& options;
    CapturePlan plan;
    std::string outputPath; // absolute, without a trailing slash
    std::string ffmpeg;
    platform::OfflineModule module;
    VideoEncoder encoder;
    uint64_t pass = 0; // the pass whose frame was just drawn
    uint64_t passesRun = 0;
    bool failed = false;
    std::string failure; // the first failure of the frame loop or the encoder
    Clock::time_point loopStart;
    Clock::time_point lastProgress;

    explicit CaptureRun(const CaptureOptions& opts) : options(opts) {}

    // Each of these reports its failure on standard error and returns false.
    bool planFrames();
    bool enterDataAndCheckMedia();
    bool findEncoder();
    bool renderSound();
    bool openContext();
    bool prepareOutputs();
    // The show's own start-up, minus the window and the live music.
    void startShow();
    // The frame loop, writing each frame as it is finished.
    void playShow();
    // Ends the outputs; 0, or 1 after the first failure's line.
    int finish();

    // Per frame, from the frame loop's swap.
    void onFrame(uint64_t donePass);
    void emitFrame();
    void showProgress(bool last);
    void stopWithFailure(const std::string& message);
    std::string framePath(uint64_t index) const;
    // The sound of the written range as 16-bit PCM.
    std::vector<unsigned char> rangeAudio() const;
};

bool CaptureRun::planFrames() {
    plan = planCapture(options);
    if (plan.atPasses.empty() && plan.endPass <= plan.firstPass)
        return stepFailed("the range " + std::to_string(options.fromMs) + " to " +
                          std::to_string(options.toMs) + " ms holds no frame at " +
                          std::to_string(options.fps) + " frames per second");
    // Output paths are taken relative to where the program was started, so
    // before the data folder is entered.
    if (options.output != CaptureOutput::RenderOnly)
        outputPath = absolutePath(options.outputPath);
    while (outputPath.size() > 1 && outputPath.back() == '/')
        outputPath.pop_back();
    return true;
}

bool CaptureRun::enterDataAndCheckMedia() {
    if (!enterDataFolder(options))
        return false;
    const std::vector<std::string> missing = missingMediaFiles();
    if (!missing.empty())
        return stepFailed("missing media file" + std::string(missing.size() > 1 ? "s " : " ") +
                          joinNames(missing) + " in " + absolutePath("."));
    return true;
}

bool CaptureRun::findEncoder() {
    if (options.output != CaptureOutput::Video)
        return true;
    ffmpeg = findProgram("ffmpeg");
    if (ffmpeg.empty())
        return stepFailed("the ffmpeg program is not installed (not on PATH); install it with: "
                          "sudo apt-get install ffmpeg");
    return true;
}

// The whole sound up to the last pass, before anything is drawn: it gives
// every pass its music position and the outputs their sound.
bool CaptureRun::renderSound() {
    if (!module.loadFile(platform::dataPath(MUSIC_FILE), nullptr))
        return stepFailed("cannot load the module " + platform::dataPath(MUSIC_FILE));
    const uint64_t lastPass = plan.stopPass - 1;
    const uint64_t soundEnd = std::max(
        passFirstSample(plan.endPass, options.fps),
        static_cast<uint64_t>(passTimeMs(lastPass, options.fps) + 1) * CAPTURE_AUDIO_RATE / 1000);
    module.renderTo(soundEnd);
    return true;
}

bool CaptureRun::openContext() {
    std::string error;
    if (!platform::openOffscreen(options.width, options.height, &error))
        return stepFailed("no off-screen OpenGL context: " + error);
    platform::setMessageBoxesEnabled(false);
    return true;
}

// Outputs are made only once nothing else can stop the run from starting.
bool CaptureRun::prepareOutputs() {
    std::string error;
    if (options.output == CaptureOutput::Video && !prepareOutputFile(outputPath, &error))
        return stepFailed(error);
    if (options.output == CaptureOutput::PngFolder && !prepareOutputFolder(outputPath, &error))
        return stepFailed(error);
    if (options.output == CaptureOutput::PngFolder && plan.atPasses.empty()) {
        std::vector<unsigned char> wav = wavHeader(passFirstSample(plan.endPass, options.fps) -
                                                       passFirstSample(plan.firstPass, options.fps),
                                                   CAPTURE_AUDIO_RATE, 1);
        const std::vector<unsigned char> pcm = rangeAudio();
        wav.insert(wav.end(), pcm.begin(), pcm.end());
        if (!writeWholeFile(outputPath + "/audio.wav", wav, &error))
            return stepFailed(error);
    }
    if (options.output == CaptureOutput::Video) {
        VideoSettings settings;
        settings.ffmpeg = ffmpeg;
        settings.outputPath = outputPath;
        settings.width = options.width;
        settings.height = options.height;
        settings.fps = options.fps;
        settings.audioRate = CAPTURE_AUDIO_RATE;
        settings.videoCodec = options.videoCodec;
        settings.audioCodec = options.audioCodec;
        if (!startVideoEncoder(&encoder, settings, rangeAudio(), &error)) {
            unlink(outputPath.c_str());
            return stepFailed(error);
        }
    }
    return true;
}

void CaptureRun::startShow() {
    startVirtualShow(options.width, options.height,
                     options.keepAspect ? PictureFit::KeepAspect : PictureFit::Fill);
}

void CaptureRun::playShow() {
    loopStart = lastProgress = Clock::now();
    passesRun = runVirtualFrameLoop(effectTable, options.fps, plan.stopPass, &module,
                                    [this](uint64_t donePass) { onFrame(donePass); });
    if (passesRun > 0)
        showProgress(true);
}

int CaptureRun::finish() {
    if (!failed && passesRun < plan.stopPass)
        stopWithFailure("the show ended after " + std::to_string(passesRun) + " of " +
                        std::to_string(plan.stopPass) + " frames");
    if (options.output == CaptureOutput::Video) {
        // ffmpeg's own verdict comes first: a pipe it closed is only a symptom.
        std::string encodeError;
        if (!finishVideoEncoder(&encoder, &encodeError)) {
            failed = true;
            failure = encodeError;
        }
    }
    platform::closeOffscreen();
    if (failed) {
        if (options.output == CaptureOutput::Video)
            unlink(outputPath.c_str());
        return report(failure);
    }
    return 0;
}

void CaptureRun::onFrame(uint64_t donePass) {
    pass = donePass;
    if (!failed)
        emitFrame();
    showProgress(false);
}

// Writes the frame of the pass just drawn where it is wanted.
void CaptureRun::emitFrame() {
    std::string error;
    if (!plan.atPasses.empty()) {
        std::vector<unsigned char> pixels;
        for (size_t i = 0; i < plan.atPasses.size(); ++i) {
            if (plan.atPasses[i] != pass)
                continue;
            if (pixels.empty())
                pixels = platform::readPixelsRGB();
            const std::string path = outputPath + "/at-" + std::to_string(options.atMs[i]) + ".png";
            if (!writeWholeFile(path, encodePng(pixels.data(), options.width, options.height),
                                &error))
                return stopWithFailure(error);
        }
        return;
    }
    if (pass < plan.firstPass || pass >= plan.endPass)
        return;
    const std::vector<unsigned char> pixels = platform::readPixelsRGB();
    switch (options.output) {
    case CaptureOutput::Video:
        if (!sendVideoFrame(&encoder, pixels.data(), pixels.size(), &error))
            stopWithFailure(error);
        break;
    case CaptureOutput::PngFolder:
        if (!writeWholeFile(
                framePath(pass - plan.firstPass),
                encodePng(pixels.data(), options.width, options.height, SEQUENCE_PNG_LEVEL),
                &error))
            stopWithFailure(error);
        break;
    default:
        break;
    }
}

void CaptureRun::showProgress(bool last) {
    if (options.quiet)
        return;
    const Clock::time_point now = Clock::now();
    if (!last && std::chrono::duration<double>(now - lastProgress).count() < PROGRESS_INTERVAL_S)
        return;
    lastProgress = now;
    const double wall = std::chrono::duration<double>(now - loopStart).count();
    const uint64_t done = pass + 1;
    const double rate = wall > 0 ? done / wall : 0.0;
    const uint64_t left = plan.stopPass > done ? plan.stopPass - done : 0;
    const int leftSeconds = rate > 0 ? static_cast<int>(left / rate + 0.5) : 0;
    std::fprintf(stderr, "\rframe %llu/%llu  show %7.2f s  %6.1f fps  left %d:%s ",
                 static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(plan.stopPass),
                 passTimeMs(pass, options.fps) / 1000.0, rate, leftSeconds / 60,
                 twoDigits(leftSeconds % 60).c_str());
    if (last)
        std::fputc('\n', stderr);
    std::fflush(stderr);
}

// The first failure is the one reported; the loop ends the way a quit
// message ends it.
void CaptureRun::stopWithFailure(const std::string& message) {
    if (!failed) {
        failed = true;
        failure = message;
    }
    platform::postEvent({platform::Event::Quit, 0, 0});
}

std::string CaptureRun::framePath(uint64_t index) const {
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06llu.png", static_cast<unsigned long long>(index));
    return outputPath + name;
}

std::vector<unsigned char> CaptureRun::rangeAudio() const {
    const uint64_t first = passFirstSample(plan.firstPass, options.fps);
    const uint64_t end = passFirstSample(plan.endPass, options.fps);
    std::vector<unsigned char> pcm;
    if (end > first)
        appendPcm16(module.samples().data() + first, static_cast<size_t>(end - first), &pcm);
    return pcm;
}

} // namespace

int runCapture(const CaptureOptions& options) {
    CaptureRun run(options);
    if (!run.planFrames() || !run.enterDataAndCheckMedia() || !run.findEncoder() ||
        !run.renderSound() || !run.openContext() || !run.prepareOutputs())
        return 1;
    run.startShow();
    run.playShow();
    return run.finish();
}
