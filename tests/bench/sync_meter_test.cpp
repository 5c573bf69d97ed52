// The sync meter's analysis (bench/sync_analysis.h) on made-up recordings
// whose true offsets are known: the sink's clock from timing updates, the
// alignment of recorded sound with the song across lost and repeated sound,
// the looks of pictures, the first picture of an event, the figures, and a
// whole measurement with its self-check (a picture delayed and a sound
// delayed by 40 ms must read +40 and -40).
//
// Test thread. Milliseconds, 44100 Hz samples, 80x60 cells.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "bench/sync_analysis.h"

using namespace syncmeter;

namespace {

// A timing update saying that the sink played stream sample `playing` at
// monotonic `ms`, told the way the server tells it: a write index ahead of
// it by what the sink holds, a server stamp on the wall clock.
TimingPoint tie(double playing, double ms, double sinkHoldsMs = 20) {
    TimingPoint p{};
    const int64_t wallAhead = 1700000000000000000ll; // wall clock minus monotonic, ns
    p.monoNs = static_cast<uint64_t>(ms * 1e6) + 123456;
    p.realNs = p.monoNs + wallAhead;
    p.serverRealNs = static_cast<uint64_t>(ms * 1e6) + wallAhead;
    p.sinkUsec = static_cast<int64_t>(sinkHoldsMs * 1000);
    p.writeIndex = static_cast<int64_t>(std::llround(playing + sinkHoldsMs * RATE / 1000));
    p.playing = 1;
    return p;
}

std::vector<float> noise(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    std::vector<float> out(n);
    for (float& x : out)
        x = d(random);
    return out;
}

std::vector<uint8_t> flat(int r, int g, int b) {
    std::vector<uint8_t> cells;
    for (int i = 0; i < CELLS_X * CELLS_Y; ++i)
        cells.insert(cells.end(), {uint8_t(r), uint8_t(g), uint8_t(b)});
    return cells;
}

// Paints a template's cells (its rect only) into cells, at the given share
// over what is there.
void paint(std::vector<uint8_t>& cells, const Template& t, double share = 1.0) {
    size_t i = 0;
    for (int cy = t.rect.y0 / 8; cy < t.rect.y1 / 8; ++cy)
        for (int cx = t.rect.x0 / 8; cx < t.rect.x1 / 8; ++cx)
            for (int k = 0; k < 3; ++k, ++i) {
                uint8_t& c = cells[(size_t(cy) * CELLS_X + cx) * 3 + k];
                c = uint8_t(std::lround(std::min(255.0, c * (1 - share) + t.values[i] * share)));
            }
}

// One made-up image per template the events use, each a different pattern.
std::vector<Template> madeUpImages() {
    std::vector<Template> images;
    unsigned seed = 1;
    for (const ImageUse& use : eventImages()) {
        std::vector<uint8_t> rgb(64 * 64 * 3);
        ++seed;
        for (size_t i = 0; i < rgb.size(); i += 3) {
            // Blocks of 8x8 pixels, so that the cells keep the pattern.
            const size_t x = (i / 3) % 64 / 8, y = (i / 3) / 64 / 8;
            std::mt19937 block(unsigned(seed * 1000 + y * 8 + x));
            for (size_t k = i; k < i + 3; ++k)
                rgb[k] = uint8_t(block() % 200 + 30);
        }
        images.push_back(makeTemplate(rgb.data(), 64, 64, use.rect));
    }
    return images;
}

// One drawing that reached the screen at ms.
Picture picture(double ms, std::vector<uint8_t> cells) {
    return Picture{ms, ms, true, 1, std::move(cells)};
}

} // namespace

TEST(SyncMeter, SinkClockTiesSamplesToTheMonotonicClock) {
    // A sink whose clock runs 200 ppm fast, with its updates noisy by up to
    // 1.5 ms; updates before the first sample or while not playing say nothing.
    std::vector<TimingPoint> points;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-1.5, 1.5);
    TimingPoint idle = tie(0, 900);
    idle.writeIndex = 0;
    points.push_back(idle);
    for (int k = 0; k < 1000; ++k) {
        const double ms = 1000 + 10.0 * k;
        const double playing = (ms - 1000) * RATE / 1000 * 1.0002;
        points.push_back(tie(playing, ms + jitter(random)));
    }
    TimingPoint stopped = tie(0, 1500);
    stopped.playing = 0;
    points.push_back(stopped);
    const SinkClock clock(points, RATE);
    EXPECT_EQ(clock.updates(), 1000u);
    for (double seconds : {2.0, 5.0, 9.0}) {
        const double index = seconds * RATE * 1.0002;
        double ms = 0;
        ASSERT_TRUE(clock.playedAtMs(index, &ms));
        EXPECT_NEAR(ms, 1000 + seconds * 1000, 0.5) << seconds;
    }
    EXPECT_GT(clock.spreadMs(4 * RATE), 1.5);
    EXPECT_LT(clock.spreadMs(4 * RATE), 3.0);
    double ms = 0;
    EXPECT_FALSE(clock.playedAtMs(30.0 * RATE, &ms)) << "no update near it";
    // Only the updates of the given stretch count: the sink jumped by 5 ms
    // at sample 220500 (a rewind after lost sound).
    std::vector<TimingPoint> jumped;
    for (int k = 0; k < 1000; ++k) {
        const double index = k * 441.0;
        jumped.push_back(tie(index, 1000 + k * 10.0 + (index >= 220500 ? 5 : 0)));
    }
    const SinkClock two(jumped, RATE);
    ASSERT_TRUE(two.playedAtMs(220500 + 441, &ms, 220500, 1e9));
    EXPECT_NEAR(ms, 1000 + 5010 + 5, 1e-3);
    ASSERT_TRUE(two.playedAtMs(220500 - 441, &ms, 0, 220500));
    EXPECT_NEAR(ms, 1000 + 4990, 1e-3);
}

TEST(SyncMeter, RecordingIsAlignedWithTheSongAcrossLostAndRepeatedSound) {
    // A song of noise whose seconds 4-6 repeat seconds 1-3 exactly, as a
    // module repeats its patterns.
    std::vector<float> song = noise(8 * RATE, 3);
    std::copy(song.begin() + RATE, song.begin() + 3 * RATE, song.begin() + 4 * RATE);
    // Recorded: silence, the first 10 ms twice (a start played twice), the
    // song to 2.5 s, 300 ms of silence (an underrun), the song on, with 5 ms
    // of it lost at 5.5 s.
    std::vector<float> rec(RATE / 2, 0.0f);
    rec.insert(rec.end(), song.begin(), song.begin() + 441);
    rec.insert(rec.end(), song.begin(), song.begin() + 110250);
    rec.insert(rec.end(), 13230, 0.0f);
    rec.insert(rec.end(), song.begin() + 110250, song.begin() + 242550);
    rec.insert(rec.end(), song.begin() + 242550 + 220, song.end());
    const std::vector<Segment> pieces = alignRecording(rec, song);
    ASSERT_GE(pieces.size(), 3u);
    const int64_t start = RATE / 2 + 441;
    EXPECT_EQ(recordedIndex(pieces, 44100), start + 44100);
    EXPECT_EQ(recordedIndex(pieces, 110249), start + 110249);
    EXPECT_EQ(recordedIndex(pieces, 110250), start + 110250 + 13230) << "after the underrun";
    // Inside the repeat the nearest place is the right one.
    EXPECT_EQ(recordedIndex(pieces, 5 * RATE), start + 13230 + 5 * RATE);
    EXPECT_EQ(recordedIndex(pieces, 242550 + 100), -1) << "lost";
    EXPECT_EQ(recordedIndex(pieces, 7 * RATE), start + 13230 + 7 * RATE - 220);
    EXPECT_EQ(recordedIndex(pieces, 9 * RATE), -1) << "past the song";
}

TEST(SyncMeter, LooksOfPicturesAreTold) {
    const std::vector<Template> images = madeUpImages();
    const std::vector<Event> events = showEvents();
    auto find = [&](const std::string& name) -> const Event& {
        for (const Event& e : events)
            if (e.name == name)
                return e;
        ADD_FAILURE() << name;
        return events[0];
    };
    std::vector<uint8_t> cells;
    const Event& white = find("toka: first frame, white");
    EXPECT_EQ(classify(white, flat(255, 255, 255), images), 1);
    EXPECT_EQ(classify(white, flat(250, 246, 248), images), 1);
    EXPECT_EQ(classify(white, flat(200, 190, 180), images), 0);
    EXPECT_EQ(classify(white, {}, images), -1) << "a picture not read";
    EXPECT_EQ(classify(find("toka: order 10, green"), flat(0, 255, 0), images), 1);
    EXPECT_EQ(classify(find("muija: first frame, dark red"), flat(128, 0, 0), images), 1);
    EXPECT_EQ(classify(find("muija: first frame, dark red"), flat(0, 255, 0), images), 0);
    EXPECT_EQ(classify(find("tyma: order 45, black"), flat(2, 3, 1), images), 1);
    EXPECT_EQ(classify(find("tyma: order 45, black"), flat(90, 50, 30), images), 0);
    EXPECT_EQ(classify(find("neljas: first frame"), flat(60, 55, 50), images), 1);
    EXPECT_EQ(classify(find("neljas: first frame"), flat(60, 12, 8), images), 0);
    // Before the end's black comes the pictures of "tyma efu", not just
    // anything but black.
    const Event& end = find("loppu: first frame, black");
    cells = flat(90, 50, 30);
    EXPECT_EQ(classify(end, cells, images), -1);
    paint(cells, images[size_t(end.beforeImage)], 0.5);
    EXPECT_EQ(classify(end, cells, images), 0);
    EXPECT_EQ(classify(end, flat(0, 0, 0), images), 1);

    // The centre picture shown over something else, and not.
    const Event& centre = find("eka: centre picture");
    cells = flat(60, 40, 90);
    EXPECT_EQ(classify(centre, cells, images), 0);
    paint(cells, images[size_t(centre.image)]);
    EXPECT_EQ(classify(centre, cells, images), 1);
    // A quarter picture added at half strength over a dark scene comes and goes.
    const Event& on = find("joku: c3 on");
    const Event& off = find("joku: c3 off");
    cells = flat(12, 5, 4);
    EXPECT_EQ(classify(on, cells, images), 0);
    EXPECT_EQ(classify(off, cells, images), 1);
    paint(cells, images[size_t(on.image)], 0.5);
    EXPECT_EQ(classify(on, cells, images), 1);
    EXPECT_EQ(classify(off, cells, images), 0);
    // Each letter is told from the other two.
    Event letter;
    letter.look = Look::Letter;
    for (int k = 0; k < 3; ++k) {
        cells = flat(20, 6, 4);
        paint(cells, images[images.size() - 3 + size_t(k)], 0.5);
        EXPECT_EQ(classify(letter, cells, images), k);
    }
    EXPECT_EQ(classify(letter, flat(20, 6, 4), images), -1) << "no letter";
}

TEST(SyncMeter, FirstPictureOfAnEventAndWhenItCannotBeTold) {
    PictureLog log;
    // Pictures every 10 ms: before, before, after from 1030 on.
    for (int k = 0; k < 8; ++k)
        log.pictures.push_back(picture(1000 + 10 * k, flat(0, 0, 0)));
    std::vector<int> states = {0, 0, 0, 1, 1, 1, 1, 1};
    Found f = findTransition(log, states, 0, 1, 900, 2000, true);
    ASSERT_TRUE(f.ok) << f.why;
    EXPECT_DOUBLE_EQ(f.ms, 1030);
    EXPECT_DOUBLE_EQ(f.uncertainty, 0);
    EXPECT_FALSE(findTransition(log, states, 0, 1, 1031, 2000, true).ok) << "outside the window";

    // A picture in between that cannot be told: the change lies in either
    // of two drawings, 6 ms apart: the middle, 3 ms either way.
    states = {0, 0, -1, 1, 1, 1, 1, 1};
    log.pictures[2].firstMs = log.pictures[2].lastMs = 1024;
    f = findTransition(log, states, 0, 1, 900, 2000, true);
    ASSERT_TRUE(f.ok) << f.why;
    EXPECT_DOUBLE_EQ(f.ms, 1027);
    EXPECT_DOUBLE_EQ(f.uncertainty, 3);
    // Three drawings came together (the recorder fell behind): their times
    // span more than the meter accepts.
    states = {0, 0, 0, 1, 1, 1, 1, 1};
    log.pictures[3].drawings = 3;
    log.pictures[3].exact = false;
    log.pictures[3].firstMs = 1011;
    f = findTransition(log, states, 0, 1, 900, 2000, true);
    EXPECT_FALSE(f.ok);
    log.pictures[3] = picture(1030, flat(0, 0, 0));
    // A change that does not hold is not taken; the next one is.
    states = {0, 0, 0, 1, 0, 0, 1, 1};
    f = findTransition(log, states, 0, 1, 900, 2000, true);
    ASSERT_TRUE(f.ok);
    EXPECT_DOUBLE_EQ(f.ms, 1060);
    f = findTransition(log, states, 0, 1, 900, 2000, false);
    EXPECT_DOUBLE_EQ(f.ms, 1030) << "letters need not hold";
    // A picture long after says nothing of the change.
    for (size_t k = 4; k < log.pictures.size(); ++k)
        log.pictures[k].firstMs = log.pictures[k].lastMs += HOLD_MS;
    f = findTransition(log, states, 0, 1, 900, 2000, true);
    EXPECT_DOUBLE_EQ(f.ms, 1030);
}

TEST(SyncMeter, FiguresOfTheOffsets) {
    const Stats s = statistics({12, -3, 40, 7, 9, 11, 8, -25, 10, 6});
    EXPECT_EQ(s.count, 10u);
    EXPECT_DOUBLE_EQ(s.median, 8.5);
    EXPECT_DOUBLE_EQ(s.p90Abs, 25); // |offsets| sorted: 3 6 7 8 9 10 11 12 25 40
    EXPECT_DOUBLE_EQ(s.largest, 40);
    EXPECT_DOUBLE_EQ(statistics({-50, 3}).largest, -50);
    EXPECT_EQ(statistics({}).count, 0u);
    EXPECT_DOUBLE_EQ(quantile({5, 1, 3}, 0.5), 3);
    EXPECT_DOUBLE_EQ(quantile({5, 1, 3}, 1.0), 5);
    EXPECT_DOUBLE_EQ(quantile({5, 1, 3}, 0.0), 1);

    // Frame times: drawings that came together count each.
    PictureLog log;
    for (int k = 0; k <= 10; ++k)
        log.pictures.push_back(picture(100 + 20 * k, {}));
    log.pictures[5].drawings = 2;
    EXPECT_DOUBLE_EQ(meanFrameTime(log, 100, 301), 200.0 / 11);
    EXPECT_DOUBLE_EQ(meanFrameTime(log, 500, 600), 0);
}

namespace {

// A whole made-up run: a song of noise, rows of 2205 samples (64 to an
// order); the sink plays recorded sample i at 10000 ms + i / 44.1 (plus the
// sound's delay); pictures every 10 ms from 10000 ms; the events' pictures
// change at the first picture at or after their sound + offset.
struct MadeUp {
    Song song;
    std::vector<Event> events;
    std::vector<Template> images = madeUpImages();

    MadeUp() {
        song.samples = noise(6 * 64 * 2205, 11);
        for (uint32_t k = 0; k < 6 * 64; ++k)
            song.rows.push_back({uint64_t(k) * 2205, (k / 64) | (k % 64) << 16});
        // Fields: name, kind, order, row, look, look after, image, other
        // image, letter.
        events = {{"white", "scene", 1, 0, Look::White},
                  {"green", "fade", 2, 0, Look::Green},
                  {"black", "fade", 4, 8, Look::Black}};
        for (int row = 1; row < 64; ++row)
            events.push_back({"letter", "letter", 3, row, Look::Letter, true, -1, -1, row % 3});
    }

    // When the sound of a row is played, with no delay.
    double soundAt(int order, int row) const { return 10000 + 500 + (order * 64 + row) * 50.0; }

    // The run with the pictures `offsetMs` after the sound, and then the
    // sound late by soundDelayMs.
    Run run(double offsetMs, double soundDelayMs) const {
        Run r;
        // 500 ms of silence, then the song.
        r.sound.assign(RATE / 2, 0.0f);
        r.sound.insert(r.sound.end(), song.samples.begin(), song.samples.end());
        for (int k = 0; k < 2000; ++k)
            r.timing.push_back(tie(k * 441.0, 10000 + k * 10.0 + soundDelayMs));
        const double whiteAt = soundAt(1, 0) + offsetMs;
        const double greenAt = soundAt(2, 0) + offsetMs;
        const double blackAt = soundAt(4, 8) + offsetMs;
        for (double ms = 10000; ms < 10000 + 6 * 3200 + 1000; ms += 10) {
            std::vector<uint8_t> cells = flat(70, 40, 30);
            if (ms >= whiteAt && ms < whiteAt + 500)
                cells = flat(255, 255, 255);
            if (ms >= greenAt && ms < greenAt + 500)
                cells = flat(0, 255, 0);
            const double lettersFrom = soundAt(3, 0) + offsetMs;
            if (ms >= lettersFrom && ms < lettersFrom + 3200) {
                const int row = int((ms - lettersFrom) / 50);
                cells = flat(20, 6, 4);
                paint(cells, images[images.size() - 3 + size_t(row % 3)], 0.5);
            }
            if (ms >= blackAt)
                cells = flat(0, 0, 0);
            r.pictures.pictures.push_back(picture(ms, cells));
        }
        return r;
    }
};

// The first picture at or after ms (pictures every 10 ms from 10000).
double pictureAtOrAfter(double ms) {
    return 10000 + std::ceil((ms - 10000) / 10 - 1e-9) * 10;
}

} // namespace

TEST(SyncMeter, WholeMeasurementAndItsSelfCheck) {
    const MadeUp m;
    const std::vector<Scene> scenes = {{"one", 0, 6399}, {"two", 6400, 20000}};
    const Measurement base = measure(m.run(23, 0), m.song, m.events, m.images, scenes);
    ASSERT_EQ(base.offsets.size(), m.events.size());
    size_t measured = 0;
    for (size_t i = 0; i < m.events.size(); ++i) {
        const Offset& o = base.offsets[i];
        ASSERT_TRUE(o.ok) << m.events[i].name << " row " << m.events[i].row << ": " << o.why;
        const double sound = m.soundAt(m.events[i].order, m.events[i].row);
        EXPECT_NEAR(o.soundMs, sound, 1e-6);
        EXPECT_NEAR(o.offsetMs, pictureAtOrAfter(sound + 23) - sound, 1e-6) << m.events[i].name;
        ++measured;
    }
    EXPECT_EQ(measured, 66u);
    ASSERT_EQ(base.scenes.size(), 2u);
    EXPECT_NEAR(base.scenes[0].frameMs, 10, 1e-9);
    EXPECT_EQ(base.scenes[0].offsets.size(), 1u); // the white, in order 1
    EXPECT_EQ(base.scenes[1].offsets.size(), 65u);

    // The picture 40 ms later, then the sound 40 ms later: read as +40 and -40.
    const Measurement plus = measure(m.run(63, 0), m.song, m.events, m.images, scenes);
    const Measurement minus = measure(m.run(23, 40), m.song, m.events, m.images, scenes);
    CheckResult r = selfCheck(base.offsets, plus.offsets, minus.offsets, 40, 3, 20);
    EXPECT_TRUE(r.pass);
    EXPECT_EQ(r.pairsPlus, 66u);
    EXPECT_NEAR(r.readPlus, 40, 1e-6);
    EXPECT_NEAR(r.readMinus, -40, 1e-6);
    // A meter that reads 10 ms short fails, and so does one with too few events.
    const Measurement short30 = measure(m.run(53, 0), m.song, m.events, m.images, scenes);
    r = selfCheck(base.offsets, short30.offsets, minus.offsets, 40, 3, 20);
    EXPECT_FALSE(r.pass);
    EXPECT_NEAR(r.readPlus, 30, 1e-6);
    EXPECT_FALSE(selfCheck(base.offsets, plus.offsets, minus.offsets, 40, 3, 67).pass);
}
