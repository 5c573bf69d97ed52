// The sync meter's analysis (see sync_analysis.h): reading the recordings,
// the sink's clock, the alignment of the recorded sound with the song, the
// looks of the show's pictures, and the figures.
//
// One thread. Milliseconds of the monotonic clock; 44100 Hz samples; cells
// of 8x8 virtual-screen units.
#include "bench/sync_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace syncmeter {

// ---- Recordings --------------------------------------------------------------

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

} // namespace

bool readPictureLog(const std::string& path, PictureLog* log, std::string* error) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        *error = path + ": cannot be read";
        return false;
    }
    PictureHeader header{};
    if (std::fread(&header, sizeof header, 1, f.get()) != 1 ||
        std::memcmp(header.magic, PICTURE_MAGIC, sizeof header.magic) != 0 ||
        header.version != PICTURE_VERSION || header.cellsX != CELLS_X || header.cellsY != CELLS_Y) {
        *error = path + ": not a picture log of this version";
        return false;
    }
    log->windowWidth = static_cast<int>(header.windowWidth);
    log->windowHeight = static_cast<int>(header.windowHeight);
    log->pictures.clear();
    PictureRecord rec{};
    const size_t cellBytes = static_cast<size_t>(CELLS_X) * CELLS_Y * 3;
    while (std::fread(&rec, sizeof rec, 1, f.get()) == 1) {
        Picture p;
        p.firstMs = static_cast<double>(rec.firstNs) / 1e6;
        p.lastMs = static_cast<double>(rec.lastNs) / 1e6;
        p.exact = (rec.flags & PICTURE_EXACT) != 0;
        p.drawings = static_cast<int>(rec.drawings);
        if (rec.flags & PICTURE_HAS_CELLS) {
            p.cells.resize(cellBytes);
            if (std::fread(p.cells.data(), 1, cellBytes, f.get()) != cellBytes)
                break; // a record cut short: the recorder was stopped while writing
        }
        log->pictures.push_back(std::move(p));
    }
    return true;
}

bool readSound(const std::string& path, std::vector<float>* samples, std::string* error) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        *error = path + ": cannot be read";
        return false;
    }
    samples->clear();
    float buffer[8192];
    size_t n = 0;
    while ((n = std::fread(buffer, sizeof(float), 8192, f.get())) > 0)
        samples->insert(samples->end(), buffer, buffer + n);
    return true;
}

bool readTiming(const std::string& path, std::vector<TimingPoint>* points, std::string* error) {
    File f(std::fopen(path.c_str(), "r"));
    if (!f) {
        *error = path + ": cannot be read";
        return false;
    }
    points->clear();
    char line[512];
    TimingPoint p{};
    while (std::fgets(line, sizeof line, f.get()))
        if (line[0] != '#' && parseTimingPoint(line, &p))
            points->push_back(p);
    return true;
}

// ---- SinkClock -------------------------------------------------------------------

SinkClock::SinkClock(const std::vector<TimingPoint>& points, int sampleRate) : rate(sampleRate) {
    for (const TimingPoint& p : points) {
        // Before the first sample arrives the write index says nothing.
        if (!p.playing || p.writeIndex <= 0)
            continue;
        // The server's wall-clock stamp, moved onto the monotonic clock by
        // the two clocks' difference when the update arrived.
        const double serverMonoMs =
            (static_cast<double>(p.serverRealNs) +
             (static_cast<double>(p.monoNs) - static_cast<double>(p.realNs))) /
            1e6;
        const double playing = static_cast<double>(p.writeIndex) +
                               static_cast<double>(p.sourceUsec - p.sinkUsec) * rate / 1e6;
        ties.push_back({playing, serverMonoMs - playing * 1000.0 / rate});
    }
    std::sort(ties.begin(), ties.end(),
              [](const Tie& a, const Tie& b) { return a.index < b.index; });
}

std::vector<double> SinkClock::near(double index, double from, double to) const {
    std::vector<double> offsets;
    const double reach = WINDOW_SECONDS * rate;
    const double low = std::max(index - reach, from), high = std::min(index + reach, to);
    auto first = std::lower_bound(ties.begin(), ties.end(), low,
                                  [](const Tie& t, double v) { return t.index < v; });
    for (auto it = first; it != ties.end() && it->index < high; ++it)
        offsets.push_back(it->offsetMs);
    return offsets;
}

bool SinkClock::playedAtMs(double index, double* ms, double from, double to) const {
    const std::vector<double> offsets = near(index, from, to);
    if (offsets.size() < MIN_UPDATES)
        return false;
    *ms = median(offsets) + index * 1000.0 / rate;
    return true;
}

double SinkClock::spreadMs(double index, double from, double to) const {
    const std::vector<double> offsets = near(index, from, to);
    return offsets.empty() ? 0.0 : quantile(offsets, 0.9) - quantile(offsets, 0.1);
}

// ---- Alignment -------------------------------------------------------------------

namespace {

constexpr int BLOCK = 1024;         // samples compared at a time
constexpr double TOLERANCE = 1e-4;  // per sample: the path keeps samples as they are
constexpr double QUIET = 1e-3;      // a block quieter than this (mean |x|) cannot place itself
constexpr int64_t NEAR = 2 * RATE;  // a new piece is looked for this close to the last one
constexpr int64_t LOST = 10 * RATE; // ... and farther after this much song found nowhere
constexpr int64_t FAR = 60 * RATE;

bool sameAt(const std::vector<float>& rec, const std::vector<float>& song, int64_t s, int64_t lag) {
    const int64_t r = s + lag;
    return r >= 0 && r < static_cast<int64_t>(rec.size()) && s >= 0 &&
           s < static_cast<int64_t>(song.size()) &&
           std::fabs(double(rec[size_t(r)]) - double(song[size_t(s)])) <= TOLERANCE;
}

bool blockMatches(const std::vector<float>& rec, const std::vector<float>& song, int64_t s,
                  int64_t lag) {
    for (int i = 0; i < BLOCK; ++i)
        if (!sameAt(rec, song, s + i, lag))
            return false;
    return true;
}

double loudness(const std::vector<float>& song, int64_t s) {
    double sum = 0;
    for (int i = 0; i < BLOCK; ++i)
        sum += std::fabs(song[size_t(s + i)]);
    return sum / BLOCK;
}

// A lag at which the song from s is in the recording for two blocks: the
// one nearest to `around` within `reach` (the song repeats itself, so only
// nearness tells the right place from a repeat), or with no `around` the
// earliest in the recording.
bool findLag(const std::vector<float>& rec, const std::vector<float>& song, int64_t s,
             const int64_t* around, int64_t reach, int64_t* lag) {
    auto fits = [&](int64_t candidate) {
        return sameAt(rec, song, s, candidate) && blockMatches(rec, song, s, candidate) &&
               blockMatches(rec, song, s + BLOCK, candidate);
    };
    if (!around) {
        for (int64_t r = 0; r + 2 * BLOCK <= static_cast<int64_t>(rec.size()); ++r)
            if (fits(r - s)) {
                *lag = r - s;
                return true;
            }
        return false;
    }
    if (fits(*around)) {
        *lag = *around;
        return true;
    }
    for (int64_t d = 1; d <= reach; ++d)
        for (int64_t candidate : {*around + d, *around - d})
            if (fits(candidate)) {
                *lag = candidate;
                return true;
            }
    return false;
}

} // namespace

std::vector<Segment> alignRecording(const std::vector<float>& recording,
                                    const std::vector<float>& song) {
    std::vector<Segment> pieces;
    const int64_t last = static_cast<int64_t>(song.size()) - 3 * BLOCK;
    int64_t lag = 0, lastFound = 0;
    bool placed = false;
    int64_t s = 0;
    while (s < last) {
        if (loudness(song, s) < QUIET) {
            s += BLOCK;
            continue;
        }
        int64_t found = 0;
        const int64_t reach = s - lastFound > LOST ? FAR : NEAR;
        // Past the end of the recording nothing more can be found.
        if (placed && s + lag - reach > static_cast<int64_t>(recording.size()))
            break;
        if (!findLag(recording, song, s, placed ? &lag : nullptr, reach, &found)) {
            // Where the output lost sound the song goes on elsewhere: step on
            // in small steps, so that the next piece is found near its start.
            s += BLOCK / 4;
            continue;
        }
        lag = found;
        placed = true;
        // Grow the piece both ways sample by sample while it matches, but not
        // back into the piece before it.
        const int64_t floor = pieces.empty() ? 0 : pieces.back().songEnd;
        int64_t start = s;
        while (start > floor && sameAt(recording, song, start - 1, lag))
            --start;
        int64_t end = s + BLOCK;
        while (end < static_cast<int64_t>(song.size()) && sameAt(recording, song, end, lag))
            ++end;
        pieces.push_back({start, end, lag});
        lastFound = end;
        s = end;
    }
    return pieces;
}

const Segment* segmentOf(const std::vector<Segment>& segments, int64_t s) {
    for (const Segment& seg : segments)
        if (s >= seg.songStart && s < seg.songEnd)
            return &seg;
    return nullptr;
}

int64_t recordedIndex(const std::vector<Segment>& segments, int64_t s) {
    const Segment* seg = segmentOf(segments, s);
    return seg ? s + seg->lag : -1;
}

// ---- Cells -----------------------------------------------------------------------

namespace {

constexpr int CELL = 8; // virtual-screen units per cell

const uint8_t* cellAt(const std::vector<uint8_t>& cells, int cx, int cy) {
    return &cells[(static_cast<size_t>(cy) * CELLS_X + static_cast<size_t>(cx)) * 3];
}

double brightness(double r, double g, double b) {
    return 0.299 * r + 0.587 * g + 0.114 * b;
}

} // namespace

Template makeTemplate(const uint8_t* rgb, int width, int height, Rect rect) {
    Template t;
    t.rect = rect;
    const double w = rect.x1 - rect.x0, h = rect.y1 - rect.y0;
    for (int cy = rect.y0 / CELL; cy < rect.y1 / CELL; ++cy) {
        for (int cx = rect.x0 / CELL; cx < rect.x1 / CELL; ++cx) {
            // The mean of the image's pixels that fall in this cell.
            const int u0 = static_cast<int>((cx * CELL - rect.x0) / w * width);
            const int u1 =
                std::max(u0 + 1, static_cast<int>(((cx + 1) * CELL - rect.x0) / w * width));
            const int v0 = static_cast<int>((cy * CELL - rect.y0) / h * height);
            const int v1 =
                std::max(v0 + 1, static_cast<int>(((cy + 1) * CELL - rect.y0) / h * height));
            double sum[3] = {0, 0, 0};
            int n = 0;
            for (int v = std::max(0, v0); v < std::min(height, v1); ++v)
                for (int u = std::max(0, u0); u < std::min(width, u1); ++u, ++n)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += rgb[(static_cast<size_t>(v) * width + u) * 3 + c];
            for (int c = 0; c < 3; ++c)
                t.values.push_back(n ? sum[c] / n : 0.0);
        }
    }
    return t;
}

Rgb meanColour(const std::vector<uint8_t>& cells, Rect rect) {
    Rgb m;
    int n = 0;
    for (int cy = rect.y0 / CELL; cy < rect.y1 / CELL; ++cy)
        for (int cx = rect.x0 / CELL; cx < rect.x1 / CELL; ++cx, ++n) {
            const uint8_t* c = cellAt(cells, cx, cy);
            m.r += c[0];
            m.g += c[1];
            m.b += c[2];
        }
    if (n) {
        m.r /= n;
        m.g /= n;
        m.b /= n;
    }
    return m;
}

double meanDifference(const std::vector<uint8_t>& cells, const Template& t) {
    double sum = 0;
    size_t i = 0;
    for (int cy = t.rect.y0 / CELL; cy < t.rect.y1 / CELL; ++cy)
        for (int cx = t.rect.x0 / CELL; cx < t.rect.x1 / CELL; ++cx) {
            const uint8_t* c = cellAt(cells, cx, cy);
            for (int k = 0; k < 3; ++k, ++i)
                sum += std::fabs(c[k] - t.values[i]);
        }
    return i ? sum / static_cast<double>(i) : 0.0;
}

double correlation(const std::vector<uint8_t>& cells, const Template& t) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    size_t i = 0, n = 0;
    for (int cy = t.rect.y0 / CELL; cy < t.rect.y1 / CELL; ++cy)
        for (int cx = t.rect.x0 / CELL; cx < t.rect.x1 / CELL; ++cx, i += 3, ++n) {
            const uint8_t* c = cellAt(cells, cx, cy);
            const double a = brightness(c[0], c[1], c[2]);
            const double b = brightness(t.values[i], t.values[i + 1], t.values[i + 2]);
            sa += a;
            sb += b;
            saa += a * a;
            sbb += b * b;
            sab += a * b;
        }
    if (n < 2)
        return 0.0;
    const double cov = sab - sa * sb / n, va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    return va > 1e-9 && vb > 1e-9 ? cov / std::sqrt(va * vb) : 0.0;
}

// ---- Events ----------------------------------------------------------------------

namespace {

const Rect SCREEN{0, 0, 640, 480};
const Rect CENTRE{160, 120, 480, 360};        // the centre pictures of "eka efu" and "toka efu"
const Rect LETTER_SQUARE{192, 112, 448, 368}; // the letters of "joku efu"

enum Image {
    GAY_CENTRE,
    TITLE_CENTRE,
    TITLE_SCREEN,
    C1,
    C2,
    C3,
    C4,
    C5,
    C6,
    MUIJA_BACKGROUND,
    TYMA_PICTURE,
    LETTER1,
    LETTER2,
    LETTER3
};

// The share of the cells whose every channel lies within `within` of colour.
double shareNear(const std::vector<uint8_t>& cells, int r, int g, int b, int within) {
    int hits = 0;
    for (int i = 0; i < CELLS_X * CELLS_Y; ++i) {
        const uint8_t* c = &cells[static_cast<size_t>(i) * 3];
        hits += std::abs(c[0] - r) <= within && std::abs(c[1] - g) <= within &&
                std::abs(c[2] - b) <= within;
    }
    return static_cast<double>(hits) / (CELLS_X * CELLS_Y);
}

// 1 when the look is there, 0 when it is not, -1 when the picture is in
// between.
int present(double value, double yesFrom, double noBelow) {
    if (value >= yesFrom)
        return 1;
    if (value < noBelow)
        return 0;
    return -1;
}

int lookPresent(Look look, int image, int otherImage, const std::vector<uint8_t>& cells,
                const std::vector<Template>& images) {
    switch (look) {
    case Look::White:
        return present(shareNear(cells, 255, 255, 255, 24), 0.95, 0.5);
    case Look::Green:
        return present(shareNear(cells, 0, 255, 0, 48), 0.95, 0.5);
    case Look::DarkRed:
        return present(shareNear(cells, 128, 0, 0, 24), 0.95, 0.5);
    case Look::Black:
        return present(shareNear(cells, 0, 0, 0, 10), 0.97, 0.5);
    case Look::Grey: {
        // Blue near red: a grey picture, not one lit red.
        const Rgb m = meanColour(cells, SCREEN);
        return m.r + m.g + m.b < 15 ? -1 : present(m.b / std::max(m.r, 1.0), 0.7, 0.55);
    }
    case Look::ImageShown: {
        // Drawn opaque, the picture is there to within the drawing's own
        // filtering (a few steps of 255); another picture of like colours
        // is some 30 away.
        double difference = meanDifference(cells, images[size_t(image)]);
        if (otherImage >= 0)
            difference = std::min(difference, meanDifference(cells, images[size_t(otherImage)]));
        return present(-difference, -12, -24);
    }
    case Look::ImageOverlay:
        return present(correlation(cells, images[size_t(image)]), 0.6, 0.3);
    case Look::Letter:
        break;
    }
    return -1;
}

} // namespace

const std::vector<ImageUse>& eventImages() {
    static const std::vector<ImageUse> images = {
        {"gay.jpg", CENTRE},
        {"vtdemo.jpg", CENTRE},
        {"vtdemo.jpg", SCREEN},
        {"c1.jpg", {0, 240, 320, 480}},
        {"c2.jpg", {320, 0, 640, 240}},
        {"c3.jpg", {0, 0, 320, 240}},
        {"c4.jpg", {320, 240, 620, 480}},
        {"c5.jpg", {0, 240, 320, 480}},
        {"c6.jpg", {320, 0, 640, 240}},
        {"neito.jpg", SCREEN},
        {"please.jpg", SCREEN},
        {"letter1.jpg", LETTER_SQUARE},
        {"letter2.jpg", LETTER_SQUARE},
        {"letter3.jpg", LETTER_SQUARE},
    };
    return images;
}

std::vector<Event> showEvents() {
    std::vector<Event> events;
    auto add = [&](const char* name, const char* kind, int order, int row, Look look,
                   bool after = true, int image = -1) {
        Event e;
        e.name = name;
        e.kind = kind;
        e.order = order;
        e.row = row;
        e.look = look;
        e.lookAfter = after;
        e.image = image;
        events.push_back(e);
    };
    // "eka efu": the centre picture from order 4 on.
    add("eka: centre picture", "picture", 4, 0, Look::ImageShown, true, GAY_CENTRE);
    // "toka efu" starts under a white fade; order 10 turns it green; the
    // centre picture comes in order 14, the title picture in order 15.
    add("toka: first frame, white", "scene", 6, 0, Look::White);
    add("toka: order 10, green", "fade", 10, 0, Look::Green);
    add("toka: centre picture", "picture", 14, 0, Look::ImageShown, true, GAY_CENTRE);
    add("toka: title picture", "picture", 15, 0, Look::ImageShown, true, TITLE_CENTRE);
    // Its copies start from where order 14 left them (the whole screen)
    // unless a picture fell on row 0.
    events.back().otherImage = TITLE_SCREEN;
    // The next scenes' first frames.
    add("kaka: first frame, white", "scene", 16, 0, Look::White);
    add("muija: first frame, dark red", "scene", 20, 0, Look::DarkRed);
    add("joku: first frame", "scene", 24, 0, Look::ImageOverlay, false, MUIJA_BACKGROUND);
    // "joku efu": a picture in a quarter of the screen in the first half of
    // orders 24 to 29.
    static const char* const quarterOn[] = {"joku: c1 on", "joku: c2 on", "joku: c3 on",
                                            "joku: c4 on", "joku: c5 on", "joku: c6 on"};
    static const char* const quarterOff[] = {"joku: c1 off", "joku: c2 off", "joku: c3 off",
                                             "joku: c4 off", "joku: c5 off", "joku: c6 off"};
    for (int k = 0; k < 6; ++k) {
        add(quarterOn[k], "picture", 24 + k, 0, Look::ImageOverlay, true, C1 + k);
        add(quarterOff[k], "picture", 24 + k, 32, Look::ImageOverlay, false, C1 + k);
    }
    // The letters, one per row from order 32 on (row 0 repeats row 63's).
    for (int order = 32; order < 40; ++order)
        for (int row = 1; row < 64; ++row) {
            Event e;
            e.name = "joku: letter";
            e.kind = "letter";
            e.order = order;
            e.row = row;
            e.look = Look::Letter;
            e.letter = row % 3;
            events.push_back(e);
        }
    add("neljas: first frame", "scene", 40, 0, Look::Grey, true);
    // The next two come after pictures of their own (grey "neljas efu", the
    // pictures of "tyma efu"), not the black of order 45 between them.
    add("tyma: first frame", "scene", 44, 0, Look::ImageOverlay, true, TYMA_PICTURE);
    events.back().beforeGiven = true;
    events.back().before = Look::Grey;
    add("tyma: order 45, black", "fade", 45, 0, Look::Black, true);
    add("loppu: first frame, black", "scene", 50, 0, Look::Black, true);
    events.back().beforeGiven = true;
    events.back().before = Look::ImageOverlay;
    events.back().beforeImage = TYMA_PICTURE;
    return events;
}

int classify(const Event& e, const std::vector<uint8_t>& cells,
             const std::vector<Template>& images) {
    if (cells.empty())
        return -1;
    if (e.look == Look::Letter) {
        double best = -2, second = -2;
        int which = -1;
        for (int k = 0; k < 3; ++k) {
            const double c = correlation(cells, images[size_t(LETTER1 + k)]);
            if (c > best) {
                second = best;
                best = c;
                which = k;
            } else if (c > second) {
                second = c;
            }
        }
        return best >= 0.5 && best - second >= 0.2 ? which : -1;
    }
    const int p = lookPresent(e.look, e.image, e.otherImage, cells, images);
    const int after = p < 0 ? -1 : e.lookAfter ? p : 1 - p;
    if (!e.beforeGiven || after != 0)
        return after;
    return lookPresent(e.before, e.beforeImage, -1, cells, images) == 1 ? 0 : -1;
}

// ---- Matching --------------------------------------------------------------------

Found findTransition(const PictureLog& log, const std::vector<int>& states, int beforeState,
                     int afterState, double fromMs, double toMs, bool requireHold) {
    Found f;
    f.why = "no change seen";
    const std::vector<Picture>& p = log.pictures;
    long lastBefore = -1;
    for (size_t j = 0; j < p.size(); ++j) {
        if (p[j].lastMs >= toMs)
            break;
        if (states[j] == beforeState) {
            lastBefore = static_cast<long>(j);
            continue;
        }
        if (states[j] != afterState || p[j].lastMs < fromMs)
            continue;
        if (lastBefore < 0) {
            f.why = "no picture before it was seen";
            continue;
        }
        // One of the drawings after the last picture seen before the event,
        // up to picture j, brought the change.
        const Picture& k = p[size_t(lastBefore) + 1];
        const double lo = k.exact ? k.lastMs : k.firstMs;
        const double hi = p[j].lastMs;
        lastBefore = -1;
        if (hi - lo > 2 * MAX_UNCERTAINTY_MS) {
            f.why = "the pictures at the change were not all seen";
            continue;
        }
        if (requireHold) {
            size_t next = j + 1;
            while (next < p.size() && states[next] == -1)
                ++next;
            if (next < p.size() && states[next] != afterState &&
                p[next].lastMs - p[j].lastMs <= HOLD_MS) {
                f.why = "the change did not hold";
                continue;
            }
        }
        f.ok = true;
        f.ms = 0.5 * (lo + hi);
        f.uncertainty = 0.5 * (hi - lo);
        f.why.clear();
        return f;
    }
    return f;
}

// ---- Figures ---------------------------------------------------------------------

double quantile(std::vector<double> values, double q) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(values.size())));
    rank = std::min(std::max<size_t>(rank, 1), values.size());
    return values[rank - 1];
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

Stats statistics(const std::vector<double>& offsets) {
    Stats s;
    s.count = offsets.size();
    if (offsets.empty())
        return s;
    s.median = median(offsets);
    std::vector<double> magnitudes;
    double sum = 0;
    for (double o : offsets) {
        magnitudes.push_back(std::fabs(o));
        sum += o;
        if (std::fabs(o) > std::fabs(s.largest))
            s.largest = o;
    }
    s.p90Abs = quantile(magnitudes, 0.9);
    s.mean = sum / static_cast<double>(offsets.size());
    return s;
}

double meanFrameTime(const PictureLog& log, double fromMs, double toMs) {
    double first = 0, last = 0;
    int frames = 0;
    for (const Picture& p : log.pictures) {
        if (p.lastMs < fromMs || p.lastMs >= toMs)
            continue;
        if (frames == 0)
            first = p.lastMs;
        else
            frames += p.drawings - 1; // drawings that came together
        last = p.lastMs;
        ++frames;
    }
    return frames >= 2 ? (last - first) / (frames - 1) : 0.0;
}

int64_t Song::rowStart(int order, int row) const {
    const uint32_t word = (static_cast<uint32_t>(order) & 0xFFFFu) | static_cast<uint32_t>(row)
                                                                         << 16;
    for (const RowStart& r : rows)
        if (r.word == word)
            return static_cast<int64_t>(r.sample);
    return -1;
}

bool readRun(const std::string& folder, Run* run, std::string* error) {
    return readPictureLog(folder + "/pictures.bin", &run->pictures, error) &&
           readSound(folder + "/sound.f32", &run->sound, error) &&
           readTiming(folder + "/sound_timing.txt", &run->timing, error);
}

namespace {

// When song sample s was played: through the piece that holds it, else the
// nearest piece (for spans such as a scene's, where a few samples do not
// matter).
bool playedAt(const std::vector<Segment>& segments, const SinkClock& clock, int64_t s, bool exact,
              double* ms) {
    int64_t index = recordedIndex(segments, s);
    if (index < 0 && !exact) {
        int64_t best = -1, distance = 0;
        for (const Segment& seg : segments) {
            const int64_t d = s < seg.songStart ? seg.songStart - s : s - (seg.songEnd - 1);
            if (best < 0 || d < distance) {
                best = s + seg.lag;
                distance = d;
            }
        }
        index = best;
    }
    return index >= 0 && clock.playedAtMs(static_cast<double>(index), ms);
}

} // namespace

Measurement measure(const Run& run, const Song& song, const std::vector<Event>& events,
                    const std::vector<Template>& images, const std::vector<Scene>& scenes) {
    Measurement m;
    const SinkClock clock(run.timing, RATE);
    m.sinkUpdates = clock.updates();
    m.segments = alignRecording(run.sound, song.samples);
    const std::vector<Picture>& pictures = run.pictures.pictures;
    std::vector<int> states(pictures.size());
    std::vector<double> spreads;
    m.offsets.resize(events.size());

    auto sound = [&](const Event& e, Offset* o) {
        o->event = &e;
        const int64_t s = song.rowStart(e.order, e.row);
        if (s < 0) {
            o->why = "the song has no such row";
            return false;
        }
        const Segment* piece = segmentOf(m.segments, s);
        if (!piece) {
            o->why = m.segments.empty() || s >= m.segments.back().songEnd
                         ? "the recording ends before it"
                         : "its first sample was not played as rendered";
            return false;
        }
        const double index = static_cast<double>(s + piece->lag);
        const double from = static_cast<double>(piece->songStart + piece->lag);
        const double to = static_cast<double>(piece->songEnd + piece->lag);
        // A piece too short for timing updates of its own takes those near it.
        if (clock.playedAtMs(index, &o->soundMs, from, to)) {
            spreads.push_back(clock.spreadMs(index, from, to));
            return true;
        }
        if (clock.playedAtMs(index, &o->soundMs)) {
            spreads.push_back(clock.spreadMs(index));
            return true;
        }
        o->why = "no timing updates of the sink near it";
        return false;
    };
    auto picture = [&](const Event& e, Offset* o, int before, int after, double from, double to) {
        for (size_t i = 0; i < pictures.size(); ++i)
            states[i] = pictures[i].lastMs >= from - 1000 && pictures[i].lastMs < to + 1000
                            ? classify(e, pictures[i].cells, images)
                            : -1;
        // A picture that stays must still be there in the next picture; a
        // flash or a fade is unmistakable in its first picture only (at
        // long frame times it fades much by the second), and a letter lasts
        // one row.
        const bool stays =
            e.look == Look::ImageShown || e.look == Look::ImageOverlay || e.look == Look::Grey;
        const Found f = findTransition(run.pictures, states, before, after, from, to, stays);
        if (!f.ok) {
            o->why = f.why;
            return;
        }
        o->pictureMs = f.ms;
        o->uncertainty = f.uncertainty;
        o->offsetMs = o->pictureMs - o->soundMs;
        o->ok = true;
    };

    // First every event but the letters, in a wide window.
    std::vector<double> found;
    for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        Offset& o = m.offsets[i];
        if (e.look == Look::Letter || !sound(e, &o))
            continue;
        const bool scene = e.kind == "scene";
        picture(e, &o, 0, 1, o.soundMs - (scene ? SCENE_BEFORE_MS : SEARCH_BEFORE_MS),
                o.soundMs + (scene ? SCENE_AFTER_MS : SEARCH_AFTER_MS));
        if (o.ok && !scene)
            found.push_back(o.offsetMs);
    }
    m.guessMs = median(found);
    // Then the letters, near where the others put them, and again near
    // where the letters themselves were found.
    double centre = m.guessMs;
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<double> letters;
        for (size_t i = 0; i < events.size(); ++i) {
            const Event& e = events[i];
            Offset& o = m.offsets[i];
            if (e.look != Look::Letter)
                continue;
            o = Offset();
            if (!sound(e, &o))
                continue;
            const double at = o.soundMs + centre;
            picture(e, &o, (e.letter + 2) % 3, e.letter, at - LETTER_REACH_MS,
                    at + LETTER_REACH_MS);
            if (o.ok)
                letters.push_back(o.offsetMs);
        }
        if (letters.empty())
            break;
        centre = median(letters);
    }
    m.sinkSpreadMs = median(spreads);

    // A scene's pictures run from its first frame, as seen, to the next
    // scene's: the schedule that changes scenes may run on another clock
    // than the music (the system's, which drifts from the sound device's).
    // Where a scene's first frame was not measured it is put where the scene
    // changes that were put the others.
    auto songMs = [&](const Event& e) {
        return static_cast<double>(song.rowStart(e.order, e.row)) * 1000.0 / RATE;
    };
    std::vector<double> sceneOffsets;
    for (const Offset& o : m.offsets)
        if (o.ok && o.event->kind == "scene")
            sceneOffsets.push_back(o.offsetMs);
    const double sceneGuess = median(sceneOffsets);
    // Where a scene's start cannot be placed (the recording ended before
    // it) it is NaN, and so is its frame time.
    const double unknown = std::nan("");
    const double lastPicture = pictures.empty() ? unknown : pictures.back().lastMs + 1;
    std::vector<double> starts;
    for (size_t k = 0; k < scenes.size(); ++k) {
        double start = pictures.empty() ? unknown : pictures.front().lastMs;
        if (k > 0) {
            double heard = 0;
            const int64_t a = static_cast<int64_t>(scenes[k].startMs) * RATE / 1000;
            start = playedAt(m.segments, clock, a, true, &heard) ? heard + sceneGuess : unknown;
            for (const Offset& o : m.offsets)
                if (o.ok && o.event->kind == "scene" &&
                    std::fabs(songMs(*o.event) - scenes[k].startMs) < 1.0)
                    start = o.pictureMs;
        }
        starts.push_back(start < lastPicture ? start : unknown);
    }
    for (size_t k = 0; k < scenes.size(); ++k) {
        SceneFigures f;
        f.scene = &scenes[k];
        const double end =
            k + 1 < scenes.size() && !std::isnan(starts[k + 1]) ? starts[k + 1] : lastPicture;
        f.frameMs = std::isnan(starts[k]) ? unknown : meanFrameTime(run.pictures, starts[k], end);
        for (const Offset& o : m.offsets)
            if (o.ok && songMs(*o.event) >= scenes[k].startMs &&
                songMs(*o.event) <= scenes[k].endMs)
                f.offsets.push_back(o.offsetMs);
        m.scenes.push_back(f);
    }
    return m;
}

CheckResult selfCheck(const std::vector<Offset>& base, const std::vector<Offset>& plus,
                      const std::vector<Offset>& minus, double injectedMs, double toleranceMs,
                      size_t minimumPairs) {
    auto differences = [&](const std::vector<Offset>& other) {
        std::vector<double> d;
        for (size_t i = 0; i < base.size() && i < other.size(); ++i)
            if (base[i].ok && other[i].ok)
                d.push_back(other[i].offsetMs - base[i].offsetMs);
        return d;
    };
    const std::vector<double> dp = differences(plus), dm = differences(minus);
    CheckResult r;
    r.pairsPlus = dp.size();
    r.pairsMinus = dm.size();
    r.readPlus = median(dp);
    r.readMinus = median(dm);
    r.pass = dp.size() >= minimumPairs && dm.size() >= minimumPairs &&
             std::fabs(r.readPlus - injectedMs) <= toleranceMs &&
             std::fabs(r.readMinus + injectedMs) <= toleranceMs;
    return r;
}

} // namespace syncmeter
