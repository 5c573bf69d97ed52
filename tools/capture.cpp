// tuhkala-capture: renders the show without a display, deterministically,
// into pictures or a video with its music (see --help).
//
// Main thread only; the video encoder is the ffmpeg program in a child
// process. Times in milliseconds of show time, sizes in pixels.
#include <cstdio>
#include <string>

#include "tools/capture_options.h"
#include "tools/capture_run.h"
#include "tuhkala_version.h"

int main(int argc, char** argv) {
    CaptureOptions options;
    std::string error;
    if (!parseCaptureArgs(argc, argv, &options, &error)) {
        std::fprintf(stderr, "tuhkala-capture: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(captureUsage().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tuhkala-capture (%s) %s\n", TUHKALA_PACKAGE, TUHKALA_VERSION);
        return 0;
    }
    return runCapture(options);
}
