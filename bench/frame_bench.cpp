// Frame-time benchmark: every scene of the schedule drawn at 640x480 on the
// off-screen context of the current GL, with the music position the show
// would have at each moment, reporting mean and 99th-percentile frame times.
//
//   frame_bench [FRAMES_PER_SCENE] [SCENE...]   (400 frames; every scene)
//
// Named scenes ("eka efu") are drawn alone, still in schedule order; a scene
// left out is not drawn at all, so the state it would leave is missing too.
//
// Main thread. Run from a folder holding the show's tavara/. Times in ms.
//
// Each scene gets FRAMES frames spread evenly over its span of the schedule,
// in schedule order (scenes leave GL state to their successors as in the
// show). The position for each frame comes from an offline render of the
// module at that virtual time; frameTime is the span divided by FRAMES so the
// scene's own animation covers its whole span. A frame is the render callback
// plus the swap, which finishes all drawing (glFinish). A second table splits
// each scene's median frame into its submit (the render callback: the show's
// calls, and the renderer's work on them until it queues the draws) and its
// finish (the swap, until every pixel is drawn).
//
// frame_bench draws through the system's GL, frame_bench_gl11 through the
// browser build's GL 1.1 layer over it (bench/drawing_api.h).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/shell.h"
#include "bench/bench_util.h"
#include "bench/drawing_api.h"
#include "music/music.h"
#include "platform/offline_module.h"
#include "platform/offscreen.h"
#include "platform/platform.h"

namespace {

bool wanted(const char* scene, const std::vector<std::string>& names) {
    if (names.empty())
        return true;
    for (const std::string& name : names)
        if (name == scene)
            return true;
    return false;
}

struct SceneSplit {
    const char* name;
    double submitMs;
    double finishMs;
    double draws; // per frame; negative when not counted
};

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: frame_bench [FRAMES_PER_SCENE] [SCENE...]\n"
                    "Frame times of the show's scenes at 640x480 off-screen (400 frames each;\n"
                    "every scene unless some are named). Run from the build folder.\n");
        return 0;
    }
    int frames = argc > 1 ? std::atoi(argv[1]) : 400;
    if (frames < 1) {
        std::fprintf(stderr,
                     "frame_bench: FRAMES_PER_SCENE is a whole number above 0, not \"%s\"\n",
                     argv[1]);
        return 2;
    }
    std::vector<std::string> names(argv + std::min(argc, 2), argv + argc);
    for (const std::string& name : names) {
        bool known = false;
        for (const EffectEntry* entry = effectTable; entry->render; entry++)
            known = known || name == entry->name;
        if (!known) {
            std::fprintf(stderr, "frame_bench: no scene is named \"%s\"\n", name.c_str());
            return 2;
        }
    }
    std::string error;
    if (!platform::openOffscreen(640, 480, &error)) {
        std::fprintf(stderr, "frame_bench: no off-screen GL context: %s\n", error.c_str());
        return 1;
    }
    platform::OfflineModule module;
    const std::string song = platform::dataPath(MUSIC_FILE);
    if (!module.loadFile(song, nullptr)) {
        std::fprintf(stderr, "frame_bench: cannot load %s (run from the build folder)\n",
                     song.c_str());
        return 1;
    }
    if (!bench::startDrawingApi(&error)) {
        std::fprintf(stderr, "frame_bench: %s\n", error.c_str());
        return 1;
    }
    initGl();
    musicScriptPosition(0, 0);
    runEffectSetups();

    std::printf("Frame time per scene, 640x480 off-screen, %s, %d frames each\n",
                bench::drawingApiName().c_str(), frames);
    std::printf("  %-12s %9s %9s %9s %9s %9s\n", "scene", "mean ms", "median", "p99 ms", "max ms",
                "mean fps");
    std::vector<double> all;
    std::vector<SceneSplit> splits;
    for (const EffectEntry* entry = effectTable; entry->render; entry++) {
        if (!wanted(entry->name, names))
            continue;
        double span = entry->end - entry->start;
        float frameTime = static_cast<float>(span / frames);
        std::vector<double> times;
        std::vector<double> submits;
        std::vector<double> finishes;
        const long drawsBefore = bench::drawsSoFar();
        for (int k = 0; k < frames; k++) {
            uint32_t t = static_cast<uint32_t>(entry->start + span * k / frames);
            uint32_t word = module.positionAtMs(t);
            musicScriptPosition(static_cast<int>(word & 0xffff), static_cast<int>(word >> 16));
            platform::setVirtualTicks(t);
            double start = bench::nowMs();
            entry->render(frameTime);
            double submitted = bench::nowMs();
            platform::swapBuffers();
            double finished = bench::nowMs();
            times.push_back(finished - start);
            submits.push_back(submitted - start);
            finishes.push_back(finished - submitted);
        }
        double meanMs = bench::mean(times);
        std::printf("  %-12s %9.3f %9.3f %9.3f %9.3f %9.1f\n", entry->name, meanMs,
                    bench::median(times), bench::quantile(times, 0.99), bench::quantile(times, 1.0),
                    meanMs > 0 ? 1000.0 / meanMs : 0.0);
        all.insert(all.end(), times.begin(), times.end());
        const double draws = drawsBefore < 0
                                 ? -1.0
                                 : static_cast<double>(bench::drawsSoFar() - drawsBefore) / frames;
        splits.push_back({entry->name, bench::median(submits), bench::median(finishes), draws});
    }
    double meanAll = bench::mean(all);
    std::printf("  %-12s %9.3f %9.3f %9.3f %9.3f %9.1f\n", "all scenes", meanAll,
                bench::median(all), bench::quantile(all, 0.99), bench::quantile(all, 1.0),
                meanAll > 0 ? 1000.0 / meanAll : 0.0);

    // Words between the figures, so that a reader of the table above (such
    // as bench/compare.sh) does not take these rows for scenes.
    std::printf("\nMedian frame split: submit (the scene's calls) and finish (the swap)\n");
    for (const SceneSplit& split : splits) {
        std::printf("  %-12s submit %8.3f ms  finish %8.3f ms", split.name, split.submitMs,
                    split.finishMs);
        if (split.draws >= 0)
            std::printf("  draws %6.1f a frame", split.draws);
        std::printf("\n");
    }
    return 0;
}
