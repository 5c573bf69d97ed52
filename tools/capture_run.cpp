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

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "app/shell.h"
#include "effects/demo_rand.h"
#include "effects/media_files.h"
#include "music/music.h"
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

// State of the run that the swap hook and the music source reach; both are
// plain function pointers without a user argument.
const CaptureOptions* options = nullptr;
CapturePlan plan;
platform::OfflineModule module;
uint64_t pass = 0; // the pass whose frame was just drawn
bool failed = false;
std::string failure;
std::string outputPath; // absolute
VideoEncoder encoder;
Clock::time_point loopStart;
Clock::time_point lastProgress;

// The virtual frame loop's own state (runVirtualFrameLoop).
int loopFps = 60;
uint64_t loopStopPass = 0;
uint64_t loopPass = 0;
platform::OfflineModule* loopMusic = nullptr;
void (*loopFrameDone)(uint64_t) = nullptr;

int report(const std::string& message) {
    std::fprintf(stderr, "tuhkala-capture: %s\n", message.c_str());
    return 1;
}

bool isFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
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

// The position of the offline render at the virtual clock.
uint32_t capturePosition() {
    return loopMusic->positionAtMs(platform::ticksBetween(startTick, platform::virtualTicks()));
}

// The frame loop moves the music to order 0 as its clock starts; the offline
// render starts there already. Any other order cannot be reached offline.
int captureSetPosition(int order) {
    return order == 0 ? 1 : 0;
}

const MusicSource CAPTURE_SOURCE = {capturePosition, captureSetPosition};

void stopWithFailure(const std::string& message) {
    if (!failed) {
        failed = true;
        failure = message;
    }
    platform::postEvent({platform::Event::Quit, 0, 0});
}

std::string twoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

void showProgress(bool last) {
    if (options->quiet)
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
                 passTimeMs(pass, options->fps) / 1000.0, rate, leftSeconds / 60,
                 twoDigits(leftSeconds % 60).c_str());
    if (last)
        std::fputc('\n', stderr);
    std::fflush(stderr);
}

std::string framePath(uint64_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06llu.png", static_cast<unsigned long long>(index));
    return outputPath + name;
}

// Writes the frame of the pass just drawn where it is wanted.
void emitFrame() {
    std::string error;
    if (!plan.atPasses.empty()) {
        std::vector<unsigned char> pixels;
        for (size_t i = 0; i < plan.atPasses.size(); ++i) {
            if (plan.atPasses[i] != pass)
                continue;
            if (pixels.empty())
                pixels = platform::readPixelsRGB();
            const std::string path =
                outputPath + "/at-" + std::to_string(options->atMs[i]) + ".png";
            if (!writeWholeFile(path, encodePng(pixels.data(), options->width, options->height),
                                &error))
                return stopWithFailure(error);
        }
        return;
    }
    if (pass < plan.firstPass || pass >= plan.endPass)
        return;
    const std::vector<unsigned char> pixels = platform::readPixelsRGB();
    switch (options->output) {
    case CaptureOutput::Video:
        if (!sendVideoFrame(&encoder, pixels.data(), pixels.size(), &error))
            stopWithFailure(error);
        break;
    case CaptureOutput::PngFolder:
        if (!writeWholeFile(
                framePath(pass - plan.firstPass),
                encodePng(pixels.data(), options->width, options->height, SEQUENCE_PNG_LEVEL),
                &error))
            stopWithFailure(error);
        break;
    default:
        break;
    }
}

// After every swap: the frame of pass n is finished. Hand it over, then move
// the clock to pass n + 1's time, so that the loop's closing tick reading
// makes this pass last exactly one frame period and the next pass sees its
// own time; before the stop pass, end the loop the way a quit message does.
void onSwap() {
    if (loopFrameDone)
        loopFrameDone(loopPass);
    platform::setVirtualTicks(startTick + passTimeMs(loopPass + 1, loopFps));
    loopPass += 1;
    if (loopPass >= loopStopPass)
        platform::postEvent({platform::Event::Quit, 0, 0});
}

void captureFrameDone(uint64_t donePass) {
    pass = donePass;
    if (!failed)
        emitFrame();
    showProgress(false);
}

// The data folder: the one given, else the working directory, else the
// program's folder; the working directory is moved there, since the show and
// its meshes name files relative to it.
bool enterDataFolder(const CaptureOptions& opts) {
    std::string folder;
    if (!opts.dataDir.empty()) {
        if (!isFolder(opts.dataDir + "/tavara")) {
            report("no tavara/ folder in " + absolutePath(opts.dataDir) +
                   " (build the media with: cmake --build build)");
            return false;
        }
        folder = opts.dataDir;
    } else if (isFolder("tavara")) {
        folder = ".";
    } else {
        const std::string beside = programFolder();
        if (beside.empty() || !isFolder(beside + "/tavara")) {
            report("no tavara/ folder in the working directory (" + absolutePath(".") +
                   ") or beside the program (" + beside +
                   "); build the media with: cmake --build build");
            return false;
        }
        folder = beside;
    }
    if (chdir(folder.c_str()) != 0) {
        report("cannot enter " + folder);
        return false;
    }
    return true;
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

std::vector<unsigned char> rangeAudio() {
    const uint64_t first = passFirstSample(plan.firstPass, options->fps);
    const uint64_t end = passFirstSample(plan.endPass, options->fps);
    std::vector<unsigned char> pcm;
    if (end > first)
        appendPcm16(module.samples().data() + first, static_cast<size_t>(end - first), &pcm);
    return pcm;
}

} // namespace

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

uint64_t runVirtualFrameLoop(const EffectEntry* table, int fps, uint64_t stopPass,
                             platform::OfflineModule* music, void (*frameDone)(uint64_t pass)) {
    loopFps = fps;
    loopStopPass = stopPass;
    loopPass = 0;
    loopMusic = music;
    loopFrameDone = frameDone;
    musicSetSource(&CAPTURE_SOURCE);
    platform::setSwapHook(onSwap);
    platform::setVirtualTicks(0);
    runFrameLoopWith(table);
    platform::setSwapHook(nullptr);
    musicSetSource(nullptr);
    // A quit posted after the last pass was read; one left unread (the
    // schedule ran out first) must not end a later loop.
    platform::clearPostedEvents();
    return loopPass;
}

int runCapture(const CaptureOptions& opts) {
    options = &opts;
    plan = planCapture(opts);
    if (plan.atPasses.empty() && plan.endPass <= plan.firstPass)
        return report("the range " + std::to_string(opts.fromMs) + " to " +
                      std::to_string(opts.toMs) + " ms holds no frame at " +
                      std::to_string(opts.fps) + " frames per second");

    // Output paths are taken relative to where the program was started.
    if (opts.output != CaptureOutput::RenderOnly)
        outputPath = absolutePath(opts.outputPath);
    while (outputPath.size() > 1 && outputPath.back() == '/')
        outputPath.pop_back();

    if (!enterDataFolder(opts))
        return 1;
    const std::vector<std::string> missing = missingMediaFiles();
    if (!missing.empty())
        return report("missing media file" + std::string(missing.size() > 1 ? "s " : " ") +
                      joinNames(missing) + " in " + absolutePath("."));

    std::string ffmpeg;
    if (opts.output == CaptureOutput::Video) {
        ffmpeg = findProgram("ffmpeg");
        if (ffmpeg.empty())
            return report("the ffmpeg program is not installed (not on PATH); install it with: "
                          "sudo apt-get install ffmpeg");
    }
    std::string error;
    // The whole sound up to the last pass first: it gives every pass its
    // music position and the outputs their sound.
    if (!module.loadFile(platform::dataPath(MUSIC_FILE), nullptr))
        return report("cannot load the module " + platform::dataPath(MUSIC_FILE));
    const uint64_t lastPass = plan.stopPass - 1;
    const uint64_t soundEnd = std::max(passFirstSample(plan.endPass, opts.fps),
                                       static_cast<uint64_t>(passTimeMs(lastPass, opts.fps) + 1) *
                                           CAPTURE_AUDIO_RATE / 1000);
    module.renderTo(soundEnd);

    if (!platform::openOffscreen(opts.width, opts.height, &error))
        return report("no off-screen OpenGL context: " + error);
    platform::setMessageBoxesEnabled(false);

    // Outputs are made only once nothing else can stop the run from starting.
    if (opts.output == CaptureOutput::Video && !prepareOutputFile(outputPath, &error))
        return report(error);
    if (opts.output == CaptureOutput::PngFolder && !prepareOutputFolder(outputPath, &error))
        return report(error);
    if (opts.output == CaptureOutput::PngFolder && plan.atPasses.empty()) {
        std::vector<unsigned char> wav = wavHeader(passFirstSample(plan.endPass, opts.fps) -
                                                       passFirstSample(plan.firstPass, opts.fps),
                                                   CAPTURE_AUDIO_RATE, 1);
        const std::vector<unsigned char> pcm = rangeAudio();
        wav.insert(wav.end(), pcm.begin(), pcm.end());
        if (!writeWholeFile(outputPath + "/audio.wav", wav, &error))
            return report(error);
    }
    if (opts.output == CaptureOutput::Video) {
        VideoSettings settings;
        settings.ffmpeg = ffmpeg;
        settings.outputPath = outputPath;
        settings.width = opts.width;
        settings.height = opts.height;
        settings.fps = opts.fps;
        settings.audioRate = CAPTURE_AUDIO_RATE;
        settings.videoCodec = opts.videoCodec;
        settings.audioCodec = opts.audioCodec;
        if (!startVideoEncoder(&encoder, settings, rangeAudio(), &error)) {
            unlink(outputPath.c_str());
            return report(error);
        }
    }

    // The show's own start-up, minus the window and the live music: the
    // random numbers start from their seed as in a fresh process.
    demoSeedRand(1);
    initGl();
    // A size other than the window's is what a resized window would show.
    if (opts.width != windowWidth || opts.height != windowHeight)
        resizeViewport(opts.width, opts.height);
    runEffectSetups();

    loopStart = lastProgress = Clock::now();
    const uint64_t passes =
        runVirtualFrameLoop(effectTable, opts.fps, plan.stopPass, &module, captureFrameDone);
    if (passes > 0)
        showProgress(true);

    if (!failed && passes < plan.stopPass)
        stopWithFailure("the show ended after " + std::to_string(passes) + " of " +
                        std::to_string(plan.stopPass) + " frames");
    if (opts.output == CaptureOutput::Video) {
        // ffmpeg's own verdict comes first: a pipe it closed is only a symptom.
        std::string encodeError;
        if (!finishVideoEncoder(&encoder, &encodeError)) {
            failed = true;
            failure = encodeError;
        }
    }
    platform::closeOffscreen();
    if (failed) {
        if (opts.output == CaptureOutput::Video)
            unlink(outputPath.c_str());
        return report(failure);
    }
    return 0;
}
