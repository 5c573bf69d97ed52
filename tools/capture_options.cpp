// The capture program's command line and its pass/time/sample arithmetic.
//
// Main thread. Milliseconds of show time, audio samples at 44100 Hz, pixels.
#include "tools/capture_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/capture_output.h"

namespace {

bool fail(std::string* error, const std::string& message) {
    if (error)
        *error = message;
    return false;
}

// A whole decimal number in [low, high], nothing else in the text.
bool parseInt(const char* text, long low, long high, int* out) {
    if (!text || !*text)
        return false;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
    }
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high)
        return false;
    *out = static_cast<int>(value);
    return true;
}

bool endsWith(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (text.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = text[text.size() - n + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

} // namespace

std::string captureUsage() {
    return "Usage: tuhkala-capture -o OUTPUT [options]\n"
           "Renders the show without a display, deterministically, at a fixed frame rate.\n"
           "\n"
           "Outputs:\n"
           "  -o show.mp4, -o show.mkv  the show (or the range) as a video with its music,\n"
           "                            encoded by the ffmpeg program (H.264 and AAC)\n"
           "  -o DIR/                   a PNG sequence (frame-000000.png, ...) and audio.wav;\n"
           "                            with --at, only the pictures DIR/at-MS.png\n"
           "  --render-only             render and read back every frame, write nothing\n"
           "\n"
           "Options:\n"
           "  --size WxH       picture size in pixels (default 640x480)\n"
           "  --keep-aspect    keep the picture's 4:3 shape at any size: the largest 4:3\n"
           "                   picture that fits, centred, black bars around it\n"
           "  --fps N          frames per second, 1 to 1000 (default 60); pass n shows\n"
           "                   show time floor(n*1000/N) ms\n"
           "  --from MS        first millisecond of show time to write (default 0)\n"
           "  --to MS          end of the range, exclusive (default: the end, " +
           std::to_string(SHOW_LAST_MS) +
           " included)\n"
           "  --at MS          write DIR/at-MS.png, the last frame at or before MS (repeatable;\n"
           "                   the show still runs from 0, nothing else is written)\n"
           "  --data DIR       the folder holding tavara/ (default: the working directory,\n"
           "                   else the folder of this program, else its ../share/tuhkalademo)\n"
           "  --vcodec NAME    ffmpeg video encoder (default libx264)\n"
           "  --acodec NAME    ffmpeg audio encoder (default aac)\n"
           "  --quiet          no progress line\n"
           "  --help           this text\n"
           "  --version        the name and version\n"
           "\n"
           "Example: tuhkala-capture -o show.mp4\n";
}

bool parseCaptureArgs(int argc, const char* const* argv, CaptureOptions* options,
                      std::string* error) {
    CaptureOptions result;
    bool fromGiven = false;
    bool toGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            result.help = true;
            *options = result;
            return true;
        }
        if (arg == "--version") {
            result.version = true;
            *options = result;
            return true;
        }
        if (arg == "--quiet") {
            result.quiet = true;
            continue;
        }
        if (arg == "--keep-aspect") {
            result.keepAspect = true;
            continue;
        }
        if (arg == "--render-only") {
            if (result.output != CaptureOutput::None)
                return fail(error, "only one output may be given");
            result.output = CaptureOutput::RenderOnly;
            continue;
        }
        const bool takesValue = arg == "-o" || arg == "--size" || arg == "--fps" ||
                                arg == "--from" || arg == "--to" || arg == "--at" ||
                                arg == "--data" || arg == "--vcodec" || arg == "--acodec";
        if (!takesValue)
            return fail(error, "unknown argument '" + arg + "' (see --help)");
        if (i + 1 >= argc)
            return fail(error, arg + " needs a value");
        const char* value = argv[++i];
        if (arg == "-o") {
            if (result.output != CaptureOutput::None)
                return fail(error, "only one output may be given");
            result.outputPath = value;
            if (result.outputPath.empty())
                return fail(error, "-o needs a file or folder name");
            if (result.outputPath.back() == '/' || isFolder(result.outputPath))
                result.output = CaptureOutput::PngFolder;
            else if (endsWith(result.outputPath, ".mp4") || endsWith(result.outputPath, ".mkv"))
                result.output = CaptureOutput::Video;
            else
                return fail(error, "-o " + result.outputPath +
                                       ": give a .mp4 or .mkv file, or a folder ending in /");
        } else if (arg == "--size") {
            const char* x = std::strchr(value, 'x');
            if (!x)
                return fail(error, std::string("--size ") + value + ": expected WxH, e.g. 640x480");
            const std::string w(value, static_cast<size_t>(x - value));
            if (!parseInt(w.c_str(), 1, MAX_CAPTURE_SIZE, &result.width) ||
                !parseInt(x + 1, 1, MAX_CAPTURE_SIZE, &result.height))
                return fail(error, std::string("--size ") + value +
                                       ": width and height must be 1 to " +
                                       std::to_string(MAX_CAPTURE_SIZE));
        } else if (arg == "--fps") {
            if (!parseInt(value, 1, MAX_CAPTURE_FPS, &result.fps))
                return fail(error, std::string("--fps ") + value + ": expected 1 to " +
                                       std::to_string(MAX_CAPTURE_FPS));
        } else if (arg == "--from" || arg == "--to" || arg == "--at") {
            int ms = 0;
            if (!parseInt(value, 0, 100000000, &ms))
                return fail(error, arg + " " + value + ": expected milliseconds (0 or more)");
            if (arg == "--from") {
                result.fromMs = ms;
                fromGiven = true;
            } else if (arg == "--to") {
                result.toMs = ms;
                toGiven = true;
            } else {
                if (ms > SHOW_LAST_MS)
                    return fail(error, "--at " + std::string(value) +
                                           ": past the end of the show (" +
                                           std::to_string(SHOW_LAST_MS) + " ms)");
                result.atMs.push_back(ms);
            }
        } else if (arg == "--data") {
            result.dataDir = value;
        } else if (arg == "--vcodec") {
            result.videoCodec = value;
        } else {
            result.audioCodec = value;
        }
    }

    if (result.output == CaptureOutput::None)
        return fail(error, "no output: give -o show.mp4, -o DIR/ or --render-only (see --help)");
    result.rangeGiven = fromGiven || toGiven;
    if (!result.atMs.empty()) {
        if (result.rangeGiven)
            return fail(error, "--at cannot be combined with --from or --to");
        if (result.output != CaptureOutput::PngFolder)
            return fail(error, "--at writes pictures: give a folder with -o DIR/");
        std::sort(result.atMs.begin(), result.atMs.end());
        result.atMs.erase(std::unique(result.atMs.begin(), result.atMs.end()), result.atMs.end());
    }
    if (result.fromMs > SHOW_LAST_MS)
        return fail(error, "--from " + std::to_string(result.fromMs) +
                               ": past the end of the show (" + std::to_string(SHOW_LAST_MS) +
                               " ms)");
    // A range that runs past the show ends with it.
    result.toMs = std::min(result.toMs, SHOW_END_MS);
    if (result.toMs <= result.fromMs)
        return fail(error, "--to must be later than --from");
    if (result.output == CaptureOutput::Video && (result.width % 2 || result.height % 2))
        return fail(error, "--size: a video needs an even width and height");
    if (result.videoCodec.empty() || result.audioCodec.empty())
        return fail(error, "--vcodec and --acodec need a name");
    *options = result;
    return true;
}

uint64_t passFirstSample(uint64_t pass, int fps) {
    return pass * CAPTURE_AUDIO_RATE / static_cast<uint64_t>(fps);
}

CapturePlan planCapture(const CaptureOptions& options) {
    CapturePlan plan;
    if (!options.atMs.empty()) {
        for (int ms : options.atMs)
            plan.atPasses.push_back(lastPassAtOrBefore(static_cast<uint64_t>(ms), options.fps));
        plan.stopPass = plan.atPasses.back() + 1;
        return plan;
    }
    plan.firstPass = firstPassAtOrAfter(static_cast<uint64_t>(options.fromMs), options.fps);
    plan.endPass = firstPassAtOrAfter(static_cast<uint64_t>(options.toMs), options.fps);
    plan.stopPass = plan.endPass;
    return plan;
}
