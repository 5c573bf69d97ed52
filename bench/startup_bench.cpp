// Start-up benchmark: from process start to the first frame presented with
// all media loaded, and how that time splits into JPEG decoding, mipmap
// building, 3DS parsing, normals and the rest.
//
// Main thread. Run from a folder holding the show's tavara/. Times in ms.
//
// The parent starts the program again as a child several times, handing it
// the moment just before fork; the child does what the show does before its
// first frame (GL context and state, every effect setup, music load and
// start, the first pass of "eka efu" and a finished swap), on the off-screen
// context so that no window manager is timed. Mipmap building and texture
// upload are timed where the setups call them: the link wraps those two GL
// library calls (see CMakeLists.txt), so the setups run unchanged. JPEG
// decoding, 3DS parsing and normals are timed after the first frame, by
// running the show's own loaders once more over the files the setups read
// (the show's media list), in the same process.
#include <GL/gl.h>
#include <GL/glu.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/shell.h"
#include "bench/bench_util.h"
#include "effects/media_files.h"
#include "music/music.h"
#include "platform/offscreen.h"
#include "platform/platform.h"
#include "resources/jpeg.h"
#include "resources/model.h"

namespace {

// CLOCK_MONOTONIC is shared by parent and child, unlike steady_clock's epoch
// which only happens to be the same on Linux.
double monotonicMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct Split {
    double jpeg = 0.0;
    double mipmaps = 0.0;
    double upload = 0.0;
    double parse = 0.0;
    double normals = 0.0;
    int jpegCount = 0;
    int mipmapCount = 0;
    int modelCount = 0;
};
Split split;

const char* const LAUNCH_VARIABLE = "TUHKALA_BENCH_LAUNCH_MS";
const int FIELD_COUNT = 11;
const char* const FIELD_NAMES[FIELD_COUNT] = {
    "process start to first frame",
    "  exec and program start",
    "  GL context and state",
    "  effect setups",
    "    JPEG decoding",
    "    mipmap building",
    "    level-0 texture upload",
    "    3DS parsing",
    "    vertex normals",
    "  music load and start",
    "  first frame",
};

} // namespace

// Timed stand-ins for the two GL library calls of a texture upload; the linker
// routes the setups' calls here.
extern "C" {
GLint __real_gluBuild2DMipmaps(GLenum, GLint, GLsizei, GLsizei, GLenum, GLenum, const void*);
void __real_glTexImage2D(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum,
                         const void*);

GLint __wrap_gluBuild2DMipmaps(GLenum target, GLint components, GLsizei width, GLsizei height,
                               GLenum format, GLenum type, const void* pixels) {
    double start = bench::nowMs();
    GLint result =
        __real_gluBuild2DMipmaps(target, components, width, height, format, type, pixels);
    split.mipmaps += bench::nowMs() - start;
    split.mipmapCount++;
    return result;
}

void __wrap_glTexImage2D(GLenum target, GLint level, GLint components, GLsizei width,
                         GLsizei height, GLint border, GLenum format, GLenum type,
                         const void* pixels) {
    double start = bench::nowMs();
    __real_glTexImage2D(target, level, components, width, height, border, format, type, pixels);
    split.upload += bench::nowMs() - start;
}
}

namespace {

// Decodes the picture as the texture loader would when it is a JPEG, timed.
void timeJpeg(const char* path) {
    std::string name = path;
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::vector<unsigned char> bytes;
    if (name.find(".jpg") == std::string::npos || !platform::readDataFile(path, bytes))
        return;
    int width = 0, height = 0, channels = 0;
    const double start = bench::nowMs();
    unsigned char* pixels =
        decodeJpeg(&width, &height, &channels, bytes.data(), static_cast<int>(bytes.size()));
    split.jpeg += bench::nowMs() - start;
    split.jpegCount++;
    std::free(pixels);
}

// The setups' JPEG decodes, 3DS reads and normals once more, each timed, in
// the setups' order: every scene picture, every mesh file with the normals of
// its meshes, and for a mesh drawn textured the map of each of its materials
// (as the setups do, once per material).
void timeLoaders() {
    for (const SceneFile& file : SCENE_FILES) {
        if (!std::strstr(file.path, ".3ds")) {
            timeJpeg(file.path);
            continue;
        }
        Model* model = new Model;
        double start = bench::nowMs();
        model->load(file.path);
        split.parse += bench::nowMs() - start;
        split.modelCount++;
        start = bench::nowMs();
        for (int i = 0; i < model->meshCount; ++i)
            computeNormals(model->meshes[i]);
        split.normals += bench::nowMs() - start;
        for (int i = 0; file.textured && i < model->materialCount; ++i) {
            if (model->materials[i]->flags & MATERIAL_HAS_TEXTURE)
                timeJpeg(model->materials[i]->mapName);
        }
    }
}

int runChild() {
    double entered = monotonicMs();
    const char* launch = std::getenv(LAUNCH_VARIABLE);
    double launched = launch ? std::atof(launch) : entered;

    std::string error;
    if (!platform::openOffscreen(640, 480, &error)) {
        std::fprintf(stderr, "startup_bench: no off-screen GL context: %s\n", error.c_str());
        return 1;
    }
    initGl();
    glFinish();
    double contextReady = monotonicMs();

    runEffectSetups();
    glFinish();
    double setupsDone = monotonicMs();

    musicInit();
    musicPlay();
    double musicStarted = monotonicMs();

    // The first pass of the frame loop: position reset, "eka efu" with a
    // frameTime of 0, and a swap that finishes the frame.
    musicSetPosition(0);
    effectTable[0].render(0.0f);
    platform::swapBuffers();
    double presented = monotonicMs();

    timeLoaders();

    double values[FIELD_COUNT] = {
        presented - launched,
        entered - launched,
        contextReady - entered,
        setupsDone - contextReady,
        split.jpeg,
        split.mipmaps,
        split.upload,
        split.parse,
        split.normals,
        musicStarted - setupsDone,
        presented - musicStarted,
    };
    for (double value : values) {
        std::printf("%.3f ", value);
    }
    std::printf("%d %d %d\n", split.jpegCount, split.mipmapCount, split.modelCount);
    std::fflush(stdout);
    // The show frees nothing at its end either.
    _exit(0);
}

// One child run; false when it failed. Its line of figures goes to values.
bool runOnce(std::vector<double>& values, int counts[3]) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return false;
    }
    char launch[64];
    std::snprintf(launch, sizeof launch, "%.6f", monotonicMs());
    setenv(LAUNCH_VARIABLE, launch, 1);
    pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        char self[] = "/proc/self/exe";
        char mode[] = "--child";
        char* arguments[] = {self, mode, nullptr};
        execv(self, arguments);
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string text;
    char buffer[512];
    ssize_t got;
    while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) {
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return false;
    }
    const char* cursor = text.c_str();
    values.assign(FIELD_COUNT, 0.0);
    for (int i = 0; i < FIELD_COUNT; i++) {
        char* end = nullptr;
        values[i] = std::strtod(cursor, &end);
        if (end == cursor) {
            return false;
        }
        cursor = end;
    }
    for (int i = 0; i < 3; i++) {
        counts[i] = static_cast<int>(std::strtol(cursor, const_cast<char**>(&cursor), 10));
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) {
        return runChild();
    }
    int runs = argc > 1 ? std::atoi(argv[1]) : 9;
    if (runs < 1) {
        std::fprintf(stderr, "usage: startup_bench [RUNS]\n");
        return 2;
    }
    std::vector<std::vector<double>> samples(FIELD_COUNT);
    int counts[3] = {0, 0, 0};
    for (int run = 0; run < runs; run++) {
        std::vector<double> values;
        if (!runOnce(values, counts)) {
            std::fprintf(stderr, "startup_bench: run %d failed\n", run + 1);
            return 1;
        }
        for (int i = 0; i < FIELD_COUNT; i++) {
            samples[i].push_back(values[i]);
        }
    }
    double total = bench::median(samples[0]);
    std::printf("Start-up, off-screen 640x480, %d runs (%d JPEG decodes, %d mipmap builds, "
                "%d 3DS files per run)\n",
                runs, counts[0], counts[1], counts[2]);
    std::printf("  %-32s %10s %10s %10s %8s\n", "", "median ms", "min ms", "max ms", "share");
    for (int i = 0; i < FIELD_COUNT; i++) {
        double med = bench::median(samples[i]);
        std::printf("  %-32s %10.2f %10.2f %10.2f %7.1f%%\n", FIELD_NAMES[i], med,
                    bench::quantile(samples[i], 0.0), bench::quantile(samples[i], 1.0),
                    total > 0 ? 100.0 * med / total : 0.0);
    }
    // The rest: everything outside the three big loaders, per run.
    std::vector<double> rest;
    for (int run = 0; run < runs; run++) {
        rest.push_back(samples[0][run] - samples[4][run] - samples[5][run] - samples[7][run]);
    }
    double restMedian = bench::median(rest);
    std::printf("  %-32s %10.2f %10.2f %10.2f %7.1f%%\n", "rest (all but JPEG/mipmap/3DS)",
                restMedian, bench::quantile(rest, 0.0), bench::quantile(rest, 1.0),
                total > 0 ? 100.0 * restMedian / total : 0.0);
    return 0;
}
