// The files that the sync meter's recorder (sync_record.cpp) writes and its
// analysis (sync_analysis.cpp) reads: the picture records with their cells,
// and the sound server's timing updates of the monitor stream.
//
// Any thread. Times are nanoseconds (monotonic unless named otherwise),
// indices count mono samples of the record stream, latencies microseconds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace syncmeter {

// A picture is kept as CELLS_X x CELLS_Y cells of the window, each the mean
// red, green and blue of its block (8x8 pixels of a 640x480 window).
constexpr int CELLS_X = 80;
constexpr int CELLS_Y = 60;
constexpr char PICTURE_MAGIC[8] = {'T', 'S', 'Y', 'N', 'C', 'P', 'I', 'C'};
constexpr uint32_t PICTURE_VERSION = 2;

struct PictureHeader {
    char magic[8];
    uint32_t version;
    uint32_t cellsX, cellsY;
    uint32_t windowWidth, windowHeight;
    uint32_t reserved;
};

enum PictureFlags : uint32_t {
    PICTURE_HAS_CELLS = 1, // the window was read back: cells follow the record
    PICTURE_EXACT = 2,     // one drawing, for which the recorder was waiting: it
                           // reached the screen when the recorder woke, lastNs
};

// The drawings that reached the screen since the previous record, and the
// window as it was after them. The X server performs requests one at a
// time and reports drawing in order with the read's reply, so the cells
// hold exactly these drawings. The first of them reached the screen at or
// after firstNs, the last by lastNs.
struct PictureRecord {
    uint64_t firstNs;
    uint64_t lastNs;
    uint32_t drawings;
    uint32_t flags;
};

// One timing update of the monitor stream, as libpulse reports it: at the
// server's wall-clock time serverRealNs the stream's write index was
// writeIndex; monoNs and realNs were read together when the update arrived.
struct TimingPoint {
    uint64_t monoNs;
    uint64_t realNs;
    uint64_t serverRealNs;
    int64_t writeIndex;    // samples
    int64_t sourceUsec;    // the source's latency (0 for a monitor)
    int64_t sinkUsec;      // the sink's latency: what it holds ahead of playing
    int64_t transportUsec; // time the update took to come over
    int64_t readSoFar;     // samples the recorder had read by then
    int playing;
    int synchronizedClocks;
};

constexpr char TIMING_COLUMNS[] = "# monoNs realNs serverRealNs writeIndex sourceUsec sinkUsec "
                                  "transportUsec readSoFar playing synchronizedClocks";

inline std::string formatTimingPoint(const TimingPoint& p) {
    char line[320];
    std::snprintf(line, sizeof line, "%llu %llu %llu %lld %lld %lld %lld %lld %d %d",
                  static_cast<unsigned long long>(p.monoNs),
                  static_cast<unsigned long long>(p.realNs),
                  static_cast<unsigned long long>(p.serverRealNs),
                  static_cast<long long>(p.writeIndex), static_cast<long long>(p.sourceUsec),
                  static_cast<long long>(p.sinkUsec), static_cast<long long>(p.transportUsec),
                  static_cast<long long>(p.readSoFar), p.playing, p.synchronizedClocks);
    return line;
}

// False for a comment or a line that is not a whole timing point.
inline bool parseTimingPoint(const char* line, TimingPoint* p) {
    unsigned long long mono = 0, real = 0, server = 0;
    long long write = 0, source = 0, sink = 0, transport = 0, read = 0;
    int playing = 0, synced = 0;
    if (std::sscanf(line, "%llu %llu %llu %lld %lld %lld %lld %lld %d %d", &mono, &real, &server,
                    &write, &source, &sink, &transport, &read, &playing, &synced) != 10)
        return false;
    *p = TimingPoint{mono, real, server, write, source, sink, transport, read, playing, synced};
    return true;
}

} // namespace syncmeter
