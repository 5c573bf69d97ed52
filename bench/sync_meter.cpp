// tuhkala-sync-meter: the sync meter's report. Reads what tuhkala-sync-record
// wrote while the show played, and prints for every event of the show tied
// to an order or a row the offset picture - sound in milliseconds, with the
// median, the 90th percentile of |offset|, the largest, and each scene's mean
// frame time beside them. With --check it compares three runs (nothing
// injected, the picture delayed, the sound delayed) and says whether the
// meter read the injected delay.
//
// Run from the folder that holds tavara/ (the build folder), or name it with
// --data. Main thread only. Milliseconds unless said otherwise.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/shell.h"
#include "bench/sync_analysis.h"
#include "platform/offline_module.h"
#include "resources/jpeg.h"

namespace {

using namespace syncmeter;

// The song is rendered a little past the show's end.
constexpr double SONG_SECONDS = 175;

void usage(FILE* to) {
    std::fprintf(to,
                 "usage: tuhkala-sync-meter [--data DIR] [--events] [--trace N] RUN\n"
                 "       tuhkala-sync-meter [--data DIR] --check [--delay MS] BASE PLUS MINUS\n"
                 "Prints the offset picture - sound of each event of the show in RUN (a folder\n"
                 "written by tuhkala-sync-record). --check: BASE ran with nothing injected,\n"
                 "PLUS with the picture delayed by MS (default 40), MINUS with the sound\n"
                 "delayed by MS; passes when both are read within 3 ms.\n");
}

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "tuhkala-sync-meter: %s\n", message.c_str());
    std::exit(1);
}

Song loadSong(const std::string& data) {
    platform::OfflineModule module;
    const std::string path = data + "/tavara/amerikka.it";
    if (!module.loadFile(path, nullptr))
        fail(path + ": cannot be read as the show's module");
    const uint64_t end = static_cast<uint64_t>(SONG_SECONDS * RATE);
    module.renderTo(end);
    Song song;
    song.samples = module.samples();
    for (const platform::OfflineModule::RowStart& r : module.rowStarts(end))
        song.rows.push_back({r.sample, r.word});
    return song;
}

std::vector<Template> loadImages(const std::string& data) {
    std::vector<Template> images;
    for (const ImageUse& use : eventImages()) {
        const std::string path = data + "/tavara/" + use.file;
        FILE* f = std::fopen(path.c_str(), "rb");
        std::vector<unsigned char> bytes;
        if (f) {
            unsigned char buffer[65536];
            size_t n = 0;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
                bytes.insert(bytes.end(), buffer, buffer + n);
            std::fclose(f);
        }
        int w = 0, h = 0, channels = 0;
        unsigned char* rgb = bytes.empty() ? nullptr
                                           : decodeJpeg(&w, &h, &channels, bytes.data(),
                                                        static_cast<int>(bytes.size()));
        if (!rgb || channels != 3) {
            std::free(rgb);
            fail(path + ": cannot be read as a colour JPEG");
        }
        images.push_back(makeTemplate(rgb, w, h, use.rect));
        std::free(rgb);
    }
    return images;
}

std::vector<Scene> showScenes() {
    std::vector<Scene> scenes;
    for (const EffectEntry* row = effectTable; row->render; ++row)
        scenes.push_back({row->name, row->start, row->end});
    return scenes;
}

Run loadRun(const std::string& folder) {
    Run run;
    std::string error;
    if (!readRun(folder, &run, &error))
        fail(error);
    return run;
}

std::string signedMs(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f", ms);
    return text;
}

void printStats(const char* label, const std::vector<double>& offsets) {
    const Stats s = statistics(offsets);
    std::printf("%s%zu events, median %s ms, 90th percentile |offset| %.1f ms, largest %s ms\n",
                label, s.count, signedMs(s.median).c_str(), s.p90Abs, signedMs(s.largest).c_str());
}

void report(const std::string& folder, const Run& run, const Song& song,
            const std::vector<Event>& events, const Measurement& m, bool allEvents) {
    const std::vector<Picture>& pictures = run.pictures.pictures;
    size_t exact = 0, drawings = 0;
    for (const Picture& p : pictures) {
        exact += p.exact;
        drawings += static_cast<size_t>(p.drawings);
    }
    std::printf("run %s\n", folder.c_str());
    std::printf("pictures: %zu reached the screen, %zu read back, %zu of them on their own when "
                "they came (%.0f %%)\n",
                drawings, pictures.size(), exact, drawings ? 100.0 * exact / drawings : 0.0);
    size_t heard = 0;
    for (const Segment& s : m.segments)
        heard += static_cast<size_t>(s.songEnd - s.songStart);
    std::printf("sound: %zu timing updates of the sink (spread %.1f ms); the song heard in %zu "
                "piece(s), %.1f s in all\n",
                m.sinkUpdates, m.sinkSpreadMs, m.segments.size(), double(heard) / RATE);
    if (m.segments.size() > 1) {
        std::printf("  where the output lost or repeated sound (song s: recorded - song, ms):");
        for (const Segment& s : m.segments)
            std::printf(" %.2f:%+.1f", double(s.songStart) / RATE, double(s.lag) * 1000.0 / RATE);
        std::printf("\n");
    }
    std::printf("\n%-30s %5s %3s %9s %10s %6s\n", "event", "order", "row", "song s", "offset ms",
                "+-ms");
    std::vector<double> all, letters, scenes, cues;
    size_t letterEvents = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        const Offset& o = m.offsets[i];
        const bool letter = e.look == Look::Letter;
        letterEvents += letter;
        if (o.ok) {
            all.push_back(o.offsetMs);
            (letter ? letters : e.kind == "scene" ? scenes : cues).push_back(o.offsetMs);
        }
        if (letter && !allEvents)
            continue;
        const int64_t s = song.rowStart(e.order, e.row);
        if (o.ok)
            std::printf("%-30s %5d %3d %9.3f %10s %6.1f\n", e.name.c_str(), e.order, e.row,
                        double(s) / RATE, signedMs(o.offsetMs).c_str(), o.uncertainty);
        else
            std::printf("%-30s %5d %3d %9.3f   not measured: %s\n", e.name.c_str(), e.order, e.row,
                        double(s) / RATE, o.why.c_str());
    }
    if (!allEvents)
        std::printf("%-30s %9s   %zu of %zu measured (--events lists them)\n",
                    "joku: letters (orders 32-39)", "", letters.size(), letterEvents);
    std::printf("\n%-12s %14s %7s %11s\n", "scene", "frame time ms", "events", "median ms");
    for (const SceneFigures& f : m.scenes) {
        char frame[32] = "not reached";
        if (!std::isnan(f.frameMs))
            std::snprintf(frame, sizeof frame, "%.1f", f.frameMs);
        std::printf("%-12s %14s %7zu %11s\n", f.scene->name.c_str(), frame, f.offsets.size(),
                    f.offsets.empty() ? "" : signedMs(median(f.offsets)).c_str());
    }
    std::printf("\n");
    // The scene changes come from the schedule, the others from the music's
    // position.
    printStats("scene changes:        ", scenes);
    printStats("pictures and fades:   ", cues);
    printStats("letters:              ", letters);
    printStats("all:                  ", all);
}

// Every picture near event n, with what the event's test makes of it.
void trace(const Run& run, const std::vector<Event>& events, const std::vector<Template>& images,
           const Measurement& m, size_t n) {
    if (n >= events.size())
        fail("there are " + std::to_string(events.size()) + " events");
    const Event& e = events[n];
    const Offset& o = m.offsets[n];
    std::printf("event %zu: %s, order %d row %d; sound at %.1f ms; %s\n", n, e.name.c_str(),
                e.order, e.row, o.soundMs,
                o.ok ? ("offset " + signedMs(o.offsetMs) + " ms").c_str() : o.why.c_str());
    for (const Picture& p : run.pictures.pictures) {
        const bool scene = e.kind == "scene";
        if (p.lastMs < o.soundMs - (scene ? SCENE_BEFORE_MS : SEARCH_BEFORE_MS) ||
            p.lastMs > o.soundMs + (scene ? SCENE_AFTER_MS : SEARCH_AFTER_MS) || p.cells.empty())
            continue;
        const Rgb c = meanColour(p.cells, {0, 0, 640, 480});
        std::printf("  %+8.1f..%+8.1f ms  state %2d  drawings %d%s  mean %.0f %.0f %.0f",
                    p.firstMs - o.soundMs, p.lastMs - o.soundMs, classify(e, p.cells, images),
                    p.drawings, p.exact ? " exact" : "", c.r, c.g, c.b);
        for (int image : {e.image, e.otherImage})
            if (image >= 0)
                std::printf("  difference %.1f correlation %.2f",
                            meanDifference(p.cells, images[size_t(image)]),
                            correlation(p.cells, images[size_t(image)]));
        if (e.look == Look::Letter && !p.cells.empty())
            for (size_t k = 0; k < 3; ++k)
                std::printf("  %zu:%.2f", k, correlation(p.cells, images[images.size() - 3 + k]));
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string data = ".";
    bool check = false, allEvents = false;
    double delay = 40;
    long traceEvent = -1;
    std::vector<std::string> runs;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "tuhkala-sync-meter: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("tuhkala-sync-meter 1.0\n");
            return 0;
        } else if (a == "--data") {
            data = value();
        } else if (a == "--check") {
            check = true;
        } else if (a == "--events") {
            allEvents = true;
        } else if (a == "--delay") {
            const std::string v = value();
            char* end = nullptr;
            delay = std::strtod(v.c_str(), &end);
            if (end == v.c_str() || *end || !(delay > 0)) {
                std::fprintf(stderr, "tuhkala-sync-meter: --delay needs milliseconds above 0\n");
                return 2;
            }
        } else if (a == "--trace") {
            traceEvent = std::atol(value().c_str());
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "tuhkala-sync-meter: unknown option %s\n", a.c_str());
            return 2;
        } else {
            runs.push_back(a);
        }
    }
    if (runs.size() != (check ? 3u : 1u)) {
        std::fprintf(stderr, check ? "tuhkala-sync-meter: --check needs three run folders\n"
                                   : "tuhkala-sync-meter: name one run folder\n");
        return 2;
    }

    const Song song = loadSong(data);
    const std::vector<Template> images = loadImages(data);
    const std::vector<Event> events = showEvents();
    const std::vector<Scene> scenes = showScenes();
    if (!check) {
        const Run run = loadRun(runs[0]);
        const Measurement m = measure(run, song, events, images, scenes);
        if (traceEvent >= 0)
            trace(run, events, images, m, static_cast<size_t>(traceEvent));
        else
            report(runs[0], run, song, events, m, allEvents);
        return 0;
    }
    std::vector<Measurement> ms;
    const char* labels[] = {"nothing injected", "picture delayed", "sound delayed"};
    for (size_t i = 0; i < 3; ++i) {
        const Run run = loadRun(runs[i]);
        ms.push_back(measure(run, song, events, images, scenes));
        std::vector<double> found;
        for (const Offset& o : ms.back().offsets)
            if (o.ok)
                found.push_back(o.offsetMs);
        const Stats s = statistics(found);
        std::printf("%-17s %s: %zu events, median %s ms\n", labels[i], runs[i].c_str(), s.count,
                    signedMs(s.median).c_str());
    }
    const CheckResult r = selfCheck(ms[0].offsets, ms[1].offsets, ms[2].offsets, delay,
                                    CHECK_TOLERANCE_MS, CHECK_MINIMUM_PAIRS);
    std::printf("picture delayed by %.0f ms: read %s ms over %zu events\n", delay,
                signedMs(r.readPlus).c_str(), r.pairsPlus);
    std::printf("sound delayed by %.0f ms:   read %s ms over %zu events\n", delay,
                signedMs(r.readMinus).c_str(), r.pairsMinus);
    std::printf("self-check %s (each within %.0f ms of +-%.0f, at least %zu events)\n",
                r.pass ? "passed" : "FAILED", CHECK_TOLERANCE_MS, delay, CHECK_MINIMUM_PAIRS);
    return r.pass ? 0 : 1;
}
