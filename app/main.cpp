// The show's entry point: the command line, then everything happens in
// showMain on this thread. The media folder is looked up first, so the show
// finds its files wherever it was started from (a build tree, an installed
// copy, a desktop launcher whose working directory is the home folder).
//
// For tests of what the window shows, TUHKALA_TEST_FRAME=MS@FPS runs the show
// in its window under the capture program's virtual clock at FPS frames a
// second, without sound, and holds the last frame at or before MS on screen
// until a key ends the show: that frame is the one tuhkala-capture --fps FPS
// --at MS draws.
//
// Main thread. Times in milliseconds of show time, sizes in pixels.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/shell.h"
#include "app/show_options.h"
#include "app/virtual_show.h"
#include "music/music.h"
#include "platform/media_folder.h"
#include "platform/offline_module.h"
#include "platform/platform.h"
#include "tuhkala_version.h"

namespace {

const char* const TEST_FRAME_VARIABLE = "TUHKALA_TEST_FRAME";

// Where the media are found from here, for --help.
std::string mediaLine() {
    const platform::MediaSearch search = platform::findMediaFolder(platform::programFolder());
    if (search.folder.empty())
        return "From here: " + platform::mediaNotFoundMessage(search) + ".";
    return "From here: " + search.folder + "/tavara/.";
}

bool parseWhole(const std::string& text, long low, long high, long* out) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *out = std::strtol(text.c_str(), nullptr, 10);
    return *out >= low && *out <= high;
}

// TUHKALA_TEST_FRAME's value, MS@FPS.
bool parseTestFrame(const std::string& text, uint32_t* ms, int* fps) {
    const size_t at = text.find('@');
    long msValue = 0, fpsValue = 0;
    if (at == std::string::npos || !parseWhole(text.substr(0, at), 0, SHOW_LAST_MS, &msValue) ||
        !parseWhole(text.substr(at + 1), 1, 1000, &fpsValue))
        return false;
    *ms = static_cast<uint32_t>(msValue);
    *fps = static_cast<int>(fpsValue);
    return true;
}

// The show in its window under the virtual clock, up to the frame at ms; the
// frame then stays on screen until a key, a close request or Escape ends the
// run. 0 when it ends so; 1 when the window or the module could not be had.
int showTestFrame(const ShowWindow& window, uint32_t ms, int fps) {
    if (openShowWindow(window) != 0)
        return 1;
    startVirtualScenes();
    platform::OfflineModule music;
    if (!music.loadFile(platform::dataPath(MUSIC_FILE), nullptr)) {
        std::fprintf(stderr, "tuhkalademo: cannot load the module %s\n",
                     platform::dataPath(MUSIC_FILE).c_str());
        return 1;
    }
    platform::useVirtualClockInWindow();
    const uint64_t pass = lastPassAtOrBefore(ms, fps);
    if (runVirtualFrameLoop(effectTable, fps, pass + 1, &music, nullptr) <= pass)
        return 0; // ended by the user first
    std::printf("tuhkalademo: holding pass %" PRIu64 ", show time %" PRIu32 " ms\n", pass,
                passTimeMs(pass, fps));
    std::fflush(stdout);
    // Nothing is drawn from now on: the frame stays as it was swapped.
    for (;;) {
        platform::Event event;
        while (platform::takeEvent(&event)) {
            if (event.type == platform::Event::KeyDown || event.type == platform::Event::Close)
                return 0;
        }
        if (platform::escapeHeld())
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

int main(int argc, char** argv) {
    ShowOptions options;
    std::string error;
    if (!parseShowArgs(argc, argv, &options, &error)) {
        std::fprintf(stderr, "tuhkalademo: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(showUsage(mediaLine()).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s %s\n", TUHKALA_PACKAGE, TUHKALA_VERSION);
        return 0;
    }
    uint32_t testMs = 0;
    int testFps = 0;
    const char* testFrame = std::getenv(TEST_FRAME_VARIABLE);
    if (testFrame && !parseTestFrame(testFrame, &testMs, &testFps)) {
        std::fprintf(stderr, "tuhkalademo: %s=%s: expected MS@FPS, e.g. 20800@5\n",
                     TEST_FRAME_VARIABLE, testFrame);
        return 2;
    }

    platform::setMessageBoxesEnabled(true);
    // Without media the show goes on as it does with missing files: the
    // missing module then ends it with its own message.
    platform::enterMediaFolder("tuhkalademo");
    if (testFrame)
        return showTestFrame(options.window, testMs, testFps);
    return showMain(options.window);
}
