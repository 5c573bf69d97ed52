// tuhkala-sync-record: the sync meter's recorder. While the show plays on an
// X display and into a PulseAudio (or PipeWire) server, it stamps on the
// monotonic clock when each of the show's pictures reached the screen and
// keeps a small copy of it, and records the sink's monitor together with the
// server's own timing of that stream, so that the analysis
// (tuhkala-sync-meter) can tell when each recorded sample was played.
//
// Pictures: the X DAMAGE extension reports every drawing into the show's
// window as the X server performs it; the recorder waits for those reports,
// stamps each when it wakes, and then reads the window back (MIT-SHM) and
// keeps it as 80x60 cells, each the mean colour of its block of pixels.
// Sound: a record stream on the sink's monitor, mono float at the sink's
// rate, with a timing update every 10 ms; each update says which stream byte
// the sink was playing at which server time.
//
// Threads: the main thread runs the X loop; libpulse's threaded main loop
// reads the sound and the timing. Times are nanoseconds of CLOCK_MONOTONIC
// unless named otherwise; sample indices count mono samples of the record
// stream from its start.
//
// Files written into the output folder (read by bench/sync_analysis.cpp):
//   pictures.bin   header "TSYNCPIC", then one record per wake with damage
//   sound.f32      the monitor's samples, native float
//   sound_timing.txt   one line per timing update
//   recorder.txt   what was recorded, for people
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>
#include <pulse/pulseaudio.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/sync_format.h"

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int) {
    stopRequested = true;
}

uint64_t clockNs(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}
uint64_t monoNs() {
    return clockNs(CLOCK_MONOTONIC);
}

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "tuhkala-sync-record: %s\n", message.c_str());
    std::exit(1);
}

// ---- Sound: the record stream on the monitor ---------------------------------

struct Sound {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    std::string source;
    int rate = 44100;
    // Filled on libpulse's thread; the main thread reads them once that
    // thread has stopped.
    std::vector<float> samples;
    std::vector<syncmeter::TimingPoint> timing;
    uint64_t holes = 0;
    pa_sample_spec sourceSpec{};
    bool sourceFound = false;
};

// How often the stream's timing is asked for.
constexpr pa_usec_t TIMING_EVERY_USEC = 10000;

void onContextState(pa_context* c, void* user) {
    auto* s = static_cast<Sound*>(user);
    const pa_context_state_t state = pa_context_get_state(c);
    if (state == PA_CONTEXT_READY || state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        pa_threaded_mainloop_signal(s->loop, 0);
}

void onStreamState(pa_stream* st, void* user) {
    auto* s = static_cast<Sound*>(user);
    const pa_stream_state_t state = pa_stream_get_state(st);
    if (state == PA_STREAM_READY || state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
        pa_threaded_mainloop_signal(s->loop, 0);
}

// Libpulse's thread: everything the server has for us, in stream order. A
// hole (data lost on the way) is kept as silence so that indices stay those
// of the stream.
void onRead(pa_stream* st, size_t, void* user) {
    auto* s = static_cast<Sound*>(user);
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(st) > 0) {
        if (pa_stream_peek(st, &data, &bytes) < 0 || bytes == 0)
            break;
        const size_t count = bytes / sizeof(float);
        if (data) {
            const float* f = static_cast<const float*>(data);
            s->samples.insert(s->samples.end(), f, f + count);
        } else {
            s->samples.insert(s->samples.end(), count, 0.0f);
            s->holes += count;
        }
        pa_stream_drop(st);
    }
}

// Libpulse's thread: a timing update arrived. Its timestamp is the server's
// wall-clock time when it took the figures; the wall clock is tied to the
// monotonic one by reading both now.
void onTiming(pa_stream* st, int success, void* user) {
    auto* s = static_cast<Sound*>(user);
    const pa_timing_info* info = success ? pa_stream_get_timing_info(st) : nullptr;
    if (!info || info->write_index_corrupt)
        return;
    syncmeter::TimingPoint p{};
    p.monoNs = monoNs();
    p.realNs = clockNs(CLOCK_REALTIME);
    p.serverRealNs = static_cast<uint64_t>(info->timestamp.tv_sec) * 1000000000ull +
                     static_cast<uint64_t>(info->timestamp.tv_usec) * 1000ull;
    p.writeIndex = info->write_index / static_cast<int64_t>(sizeof(float));
    p.sourceUsec = static_cast<int64_t>(info->source_usec);
    p.sinkUsec = static_cast<int64_t>(info->sink_usec);
    p.transportUsec = static_cast<int64_t>(info->transport_usec);
    p.playing = info->playing;
    p.synchronizedClocks = info->synchronized_clocks;
    p.readSoFar = static_cast<int64_t>(s->samples.size());
    s->timing.push_back(p);
}

void onTimer(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* user) {
    auto* s = static_cast<Sound*>(user);
    if (s->stream && pa_stream_get_state(s->stream) == PA_STREAM_READY) {
        if (pa_operation* op = pa_stream_update_timing_info(s->stream, onTiming, s))
            pa_operation_unref(op);
    }
    pa_context_rttime_restart(s->context, event, pa_rtclock_now() + TIMING_EVERY_USEC);
}

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* user) {
    auto* s = static_cast<Sound*>(user);
    if (info) {
        s->sourceSpec = info->sample_spec;
        s->sourceFound = true;
    }
    if (eol)
        pa_threaded_mainloop_signal(s->loop, 0);
}

// Connects to the server named by PULSE_SERVER (or the default) and starts
// recording the monitor of sinkName (the default sink when empty).
void startSound(Sound& s, const std::string& sinkName) {
    s.loop = pa_threaded_mainloop_new();
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(s.loop);
    s.context = pa_context_new(api, "tuhkala-sync-record");
    pa_context_set_state_callback(s.context, onContextState, &s);
    if (pa_context_connect(s.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        fail(std::string("cannot reach the sound server: ") +
             pa_strerror(pa_context_errno(s.context)));
    pa_threaded_mainloop_lock(s.loop);
    pa_threaded_mainloop_start(s.loop);
    while (pa_context_get_state(s.context) != PA_CONTEXT_READY) {
        const pa_context_state_t state = pa_context_get_state(s.context);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
            pa_threaded_mainloop_unlock(s.loop);
            fail(std::string("cannot reach the sound server: ") +
                 pa_strerror(pa_context_errno(s.context)));
        }
        pa_threaded_mainloop_wait(s.loop);
    }
    s.source = (sinkName.empty() ? std::string("@DEFAULT_SINK@") : sinkName) + ".monitor";
    // The monitor is recorded as the sink has it: a conversion of rate would
    // add its own delay, so the sink must already run at the show's rate.
    pa_operation* op =
        pa_context_get_source_info_by_name(s.context, s.source.c_str(), onSourceInfo, &s);
    while (op && pa_operation_get_state(op) == PA_OPERATION_RUNNING)
        pa_threaded_mainloop_wait(s.loop);
    if (op)
        pa_operation_unref(op);
    if (!s.sourceFound) {
        pa_threaded_mainloop_unlock(s.loop);
        fail("the sound server has no source " + s.source);
    }
    if (s.sourceSpec.rate != static_cast<uint32_t>(s.rate)) {
        pa_threaded_mainloop_unlock(s.loop);
        fail(s.source + " runs at " + std::to_string(s.sourceSpec.rate) + " Hz, not " +
             std::to_string(s.rate) + " Hz");
    }
    pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(s.rate), 1};
    s.stream = pa_stream_new(s.context, "sync meter monitor", &format, nullptr);
    pa_stream_set_state_callback(s.stream, onStreamState, &s);
    pa_stream_set_read_callback(s.stream, onRead, &s);
    // Small fragments keep the sink's own latency small as well (a monitor
    // asks its sink for what its readers ask for), so that the sink renders
    // little ahead of what it plays.
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(4 * s.rate * sizeof(float));
    attr.fragsize = static_cast<uint32_t>(s.rate / 200 * sizeof(float));
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    const pa_stream_flags_t flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING);
    if (pa_stream_connect_record(s.stream, s.source.c_str(), &attr, flags) < 0)
        fail("cannot record " + s.source);
    while (pa_stream_get_state(s.stream) != PA_STREAM_READY) {
        if (pa_stream_get_state(s.stream) != PA_STREAM_CREATING) {
            pa_threaded_mainloop_unlock(s.loop);
            fail("cannot record " + s.source + ": " + pa_strerror(pa_context_errno(s.context)));
        }
        pa_threaded_mainloop_wait(s.loop);
    }
    pa_context_rttime_new(s.context, pa_rtclock_now() + TIMING_EVERY_USEC, onTimer, &s);
    pa_threaded_mainloop_unlock(s.loop);
}

void stopSound(Sound& s) {
    if (!s.loop)
        return;
    pa_threaded_mainloop_stop(s.loop);
}

// ---- Pictures: the show's window ---------------------------------------------

struct ShowWindow {
    Display* display = nullptr;
    ::Window id = 0;
    int width = 0, height = 0;
    int damageEvent = 0;
    Damage damage = 0;
    XImage* image = nullptr;
    XShmSegmentInfo shm{};
};

bool classMatches(Display* d, ::Window w, const std::string& wanted) {
    XClassHint hint{};
    if (!XGetClassHint(d, w, &hint))
        return false;
    const bool match =
        (hint.res_class && wanted == hint.res_class) || (hint.res_name && wanted == hint.res_name);
    if (hint.res_name)
        XFree(hint.res_name);
    if (hint.res_class)
        XFree(hint.res_class);
    return match;
}

// The largest viewable top-level window of the class (a browser keeps small
// windows of its own beside the one it shows), or of any class when
// className is empty; 0 when there is none yet. Looks one level below the
// top-level windows too, where a window manager's frame holds the client.
::Window findWindow(Display* d, const std::string& className) {
    ::Window root = DefaultRootWindow(d), parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, root, &root, &parent, &children, &count))
        return 0;
    ::Window found = 0;
    long foundArea = 0;
    auto consider = [&](::Window w, bool viewable) {
        XWindowAttributes a{};
        if (!viewable && (!XGetWindowAttributes(d, w, &a) || a.map_state != IsViewable))
            return;
        if (!className.empty() && !classMatches(d, w, className))
            return;
        XGetWindowAttributes(d, w, &a);
        const long area = static_cast<long>(a.width) * a.height;
        if (area > foundArea) {
            found = w;
            foundArea = area;
        }
    };
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a{};
        if (!XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable)
            continue;
        consider(children[i], true);
        ::Window r = 0, p = 0, *inner = nullptr;
        unsigned n = 0;
        if (XQueryTree(d, children[i], &r, &p, &inner, &n)) {
            for (unsigned j = 0; j < n; ++j)
                consider(inner[j], false);
            if (inner)
                XFree(inner);
        }
    }
    if (children)
        XFree(children);
    return found;
}

int ignoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

void openWindow(ShowWindow& w, const std::string& className, double waitSeconds) {
    w.display = XOpenDisplay(nullptr);
    if (!w.display)
        fail("cannot open the X display (DISPLAY is not set or not reachable)");
    int damageError = 0, shmMajor = 0, shmMinor = 0;
    Bool pixmaps = False;
    if (!XDamageQueryExtension(w.display, &w.damageEvent, &damageError))
        fail("the X server has no DAMAGE extension");
    if (!XShmQueryVersion(w.display, &shmMajor, &shmMinor, &pixmaps))
        fail("the X server has no MIT-SHM extension");
    // The window may go away between two requests; its end is noticed below.
    XSetErrorHandler(ignoreXErrors);
    const uint64_t deadline = monoNs() + static_cast<uint64_t>(waitSeconds * 1e9);
    while (!(w.id = findWindow(w.display, className))) {
        if (stopRequested || monoNs() > deadline)
            fail("no window of class \"" + className + "\" appeared");
        usleep(5000);
    }
    XWindowAttributes a{};
    XGetWindowAttributes(w.display, w.id, &a);
    w.width = a.width;
    w.height = a.height;
    XSelectInput(w.display, w.id, StructureNotifyMask);
    w.damage = XDamageCreate(w.display, w.id, XDamageReportRawRectangles);
    w.image =
        XShmCreateImage(w.display, a.visual, static_cast<unsigned>(a.depth), ZPixmap, nullptr,
                        &w.shm, static_cast<unsigned>(w.width), static_cast<unsigned>(w.height));
    if (!w.image || w.image->bits_per_pixel != 32)
        fail("the window's pixels are not 32 bits each");
    w.shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(w.image->bytes_per_line) * w.height,
                         IPC_CREAT | 0600);
    if (w.shm.shmid < 0)
        fail("no shared memory for the window's pixels");
    w.shm.shmaddr = w.image->data = static_cast<char*>(shmat(w.shm.shmid, nullptr, 0));
    w.shm.readOnly = False;
    XShmAttach(w.display, &w.shm);
    XSync(w.display, False);
    // Marked for removal now: it goes when both sides have detached.
    shmctl(w.shm.shmid, IPC_RMID, nullptr);
}

// The window as cells: the mean colour of each block, red, green, blue.
void readCells(const ShowWindow& w, std::vector<uint8_t>& cells) {
    const XImage* im = w.image;
    cells.assign(syncmeter::CELLS_X * syncmeter::CELLS_Y * 3, 0);
    const unsigned long rm = im->red_mask, gm = im->green_mask, bm = im->blue_mask;
    const int rs = __builtin_ctzl(rm), gs = __builtin_ctzl(gm), bs = __builtin_ctzl(bm);
    for (int cy = 0; cy < syncmeter::CELLS_Y; ++cy) {
        const int y0 = cy * w.height / syncmeter::CELLS_Y,
                  y1 = (cy + 1) * w.height / syncmeter::CELLS_Y;
        for (int cx = 0; cx < syncmeter::CELLS_X; ++cx) {
            const int x0 = cx * w.width / syncmeter::CELLS_X,
                      x1 = (cx + 1) * w.width / syncmeter::CELLS_X;
            uint32_t r = 0, g = 0, b = 0, n = 0;
            for (int y = y0; y < y1; ++y) {
                const uint32_t* row = reinterpret_cast<const uint32_t*>(
                    im->data + static_cast<size_t>(y) * im->bytes_per_line);
                for (int x = x0; x < x1; ++x) {
                    const uint32_t p = row[x];
                    r += (p & rm) >> rs;
                    g += (p & gm) >> gs;
                    b += (p & bm) >> bs;
                    ++n;
                }
            }
            uint8_t* c = &cells[(static_cast<size_t>(cy) * syncmeter::CELLS_X + cx) * 3];
            if (n) {
                c[0] = static_cast<uint8_t>((r + n / 2) / n);
                c[1] = static_cast<uint8_t>((g + n / 2) / n);
                c[2] = static_cast<uint8_t>((b + n / 2) / n);
            }
        }
    }
}

// A wait shorter than this was no wait: the report was already there.
constexpr uint64_t WOKEN_AFTER_NS = 100000;

struct Batch {
    int drawings = 0; // reports of drawing taken
    int later = 0;    // of which the server made after request `serial`
    bool gone = false;
};

// Takes every event already read from the connection. A report's serial is
// the number of the last of our requests the server had performed when it
// made the report: those from `serial` on came after that request.
Batch drainQueued(const ShowWindow& w, unsigned long serial) {
    Batch b;
    while (XEventsQueued(w.display, QueuedAlready) > 0) {
        XEvent e;
        XNextEvent(w.display, &e);
        if (e.type == w.damageEvent + XDamageNotify) {
            ++b.drawings;
            if (serial && e.xany.serial >= serial)
                ++b.later;
        } else if (e.type == DestroyNotify || e.type == UnmapNotify) {
            b.gone = true;
        }
    }
    return b;
}

// The X loop. It waits for reports of drawing, then reads the window back;
// the reports that come with the read's reply and were made before the read
// belong to this picture, those made after it to the next, which is read at
// once. Each picture is written with the times between which its drawings
// reached the screen.
void recordPictures(ShowWindow& w, FILE* out, double seconds, uint64_t* records,
                    uint64_t* damages) {
    syncmeter::PictureHeader header{};
    std::memcpy(header.magic, syncmeter::PICTURE_MAGIC, sizeof header.magic);
    header.version = syncmeter::PICTURE_VERSION;
    header.cellsX = syncmeter::CELLS_X;
    header.cellsY = syncmeter::CELLS_Y;
    header.windowWidth = static_cast<uint32_t>(w.width);
    header.windowHeight = static_cast<uint32_t>(w.height);
    std::fwrite(&header, sizeof header, 1, out);
    std::vector<uint8_t> cells;
    const int fd = ConnectionNumber(w.display);
    const uint64_t end = seconds > 0 ? monoNs() + static_cast<uint64_t>(seconds * 1e9) : 0;
    // Every report that reached the connection up to here has been taken.
    uint64_t quietSince = monoNs();
    syncmeter::PictureRecord pending{};
    for (;;) {
        if (pending.drawings == 0) {
            if (stopRequested || (end && monoNs() > end))
                break;
            XFlush(w.display);
            Batch b = drainQueued(w, 0);
            pending = syncmeter::PictureRecord{};
            pending.firstNs = quietSince;
            if (b.drawings == 0 && !b.gone) {
                const uint64_t waitFrom = monoNs();
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 100) <= 0) {
                    quietSince = monoNs();
                    continue;
                }
                const uint64_t woke = monoNs();
                XEventsQueued(w.display, QueuedAfterReading);
                b = drainQueued(w, 0);
                if (woke - waitFrom >= WOKEN_AFTER_NS) {
                    // The loop was waiting: the first report woke it.
                    pending.firstNs = waitFrom;
                    if (b.drawings == 1) {
                        pending.firstNs = woke;
                        pending.flags |= syncmeter::PICTURE_EXACT;
                    }
                }
                pending.lastNs = woke;
            } else {
                pending.lastNs = monoNs();
            }
            if (b.gone)
                break;
            pending.drawings = static_cast<uint32_t>(b.drawings);
            if (b.drawings == 0) {
                quietSince = monoNs();
                continue;
            }
        }
        XDamageSubtract(w.display, w.damage, None, None);
        const unsigned long serial = NextRequest(w.display);
        const uint64_t readFrom = monoNs();
        const bool read = XShmGetImage(w.display, w.id, w.image, 0, 0, AllPlanes);
        const uint64_t readTo = monoNs();
        const Batch during = drainQueued(w, serial);
        quietSince = readTo;
        if (during.drawings > during.later) {
            // Drawn before the read, after the loop woke: in these cells too.
            pending.drawings += static_cast<uint32_t>(during.drawings - during.later);
            pending.lastNs = readTo;
            pending.flags &= ~syncmeter::PICTURE_EXACT;
        }
        if (read) {
            pending.flags |= syncmeter::PICTURE_HAS_CELLS;
            readCells(w, cells);
        }
        std::fwrite(&pending, sizeof pending, 1, out);
        if (read)
            std::fwrite(cells.data(), 1, cells.size(), out);
        ++*records;
        *damages += pending.drawings;
        if (during.gone || !read)
            break;
        pending = syncmeter::PictureRecord{};
        pending.drawings = static_cast<uint32_t>(during.later);
        pending.firstNs = readFrom;
        pending.lastNs = readTo;
    }
}

void usage(FILE* to) {
    std::fprintf(to, "usage: tuhkala-sync-record --out DIR [--sink NAME] [--class NAME]\n"
                     "                           [--wait SECONDS] [--seconds SECONDS]\n"
                     "Records the pictures of an X window (DAMAGE events, read back) and the\n"
                     "monitor of a PulseAudio sink with the server's timing, on the monotonic\n"
                     "clock, until the window goes, SECONDS pass, or SIGINT/SIGTERM.\n");
}

} // namespace

int main(int argc, char** argv) {
    std::string outDir, sinkName, className = "Tuhkala Rautakivi";
    double waitSeconds = 120, seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "tuhkala-sync-record: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("tuhkala-sync-record 1.0\n");
            return 0;
        } else if (a == "--out") {
            outDir = value();
        } else if (a == "--sink") {
            sinkName = value();
        } else if (a == "--class") {
            className = value();
        } else if (a == "--wait") {
            waitSeconds = std::atof(value().c_str());
        } else if (a == "--seconds") {
            seconds = std::atof(value().c_str());
        } else {
            std::fprintf(stderr, "tuhkala-sync-record: unknown option %s\n", a.c_str());
            return 2;
        }
    }
    if (outDir.empty()) {
        std::fprintf(stderr, "tuhkala-sync-record: --out DIR is needed\n");
        return 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    Sound sound;
    startSound(sound, sinkName);
    ShowWindow window;
    openWindow(window, className, waitSeconds);
    FILE* pictures = std::fopen((outDir + "/pictures.bin").c_str(), "wb");
    if (!pictures)
        fail("cannot write into " + outDir);
    uint64_t records = 0, damages = 0;
    recordPictures(window, pictures, seconds, &records, &damages);
    std::fclose(pictures);
    stopSound(sound);

    // The sound thread has stopped: its data can be read.
    FILE* f = std::fopen((outDir + "/sound.f32").c_str(), "wb");
    if (!f)
        fail("cannot write into " + outDir);
    std::fwrite(sound.samples.data(), sizeof(float), sound.samples.size(), f);
    std::fclose(f);
    f = std::fopen((outDir + "/sound_timing.txt").c_str(), "w");
    if (!f)
        fail("cannot write into " + outDir);
    std::fprintf(f, "%s\n", syncmeter::TIMING_COLUMNS);
    for (const syncmeter::TimingPoint& p : sound.timing)
        std::fprintf(f, "%s\n", syncmeter::formatTimingPoint(p).c_str());
    std::fclose(f);
    f = std::fopen((outDir + "/recorder.txt").c_str(), "w");
    if (f) {
        std::fprintf(f,
                     "window 0x%lx %dx%d\npicture records %llu\ndamage events %llu\n"
                     "monitor %s at %d Hz\nsamples %zu\nholes %llu\ntiming updates %zu\n",
                     window.id, window.width, window.height,
                     static_cast<unsigned long long>(records),
                     static_cast<unsigned long long>(damages), sound.source.c_str(), sound.rate,
                     sound.samples.size(), static_cast<unsigned long long>(sound.holes),
                     sound.timing.size());
        std::fclose(f);
    }
    return 0;
}
