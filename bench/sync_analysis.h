// The sync meter's analysis: from what the recorder wrote (sync_record.cpp)
// to one offset per event of the show, picture minus sound, in milliseconds.
//
// - When a sample was played: the sound server's timing updates tie stream
//   positions to its clock (SinkClock).
// - Which sample of the song a recorded sample is: the recording is matched
//   against the offline render piece by piece (alignRecording); a piece ends
//   where the output lost or repeated sound.
// - When the show's events were heard: the song's exact row starts, through
//   the alignment, then the sink's clock.
// - When they were seen: each event has a test on the cells of a picture
//   (classify) that tells the picture before the event from the one after;
//   the event reached the screen with the first picture after it, known to
//   within the drawings between it and the last picture before it
//   (findTransition).
//
// Any one thread. Times are milliseconds of the monotonic clock unless said
// otherwise; sample indices count 44100 Hz mono samples; pictures are cells
// (sync_format.h) in the show's 640x480 virtual screen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/sync_format.h"

namespace syncmeter {

constexpr int RATE = 44100;

// ---- Recordings --------------------------------------------------------------

// The drawings since the previous picture of the log, and the window's
// cells after them (when it was read back).
struct Picture {
    double firstMs = 0; // the first of them reached the screen at or after this
    double lastMs = 0;  // the last by this
    bool exact = false; // one drawing, which reached the screen at lastMs
    int drawings = 0;
    std::vector<uint8_t> cells; // empty when the window could not be read
};

struct PictureLog {
    int windowWidth = 0;
    int windowHeight = 0;
    std::vector<Picture> pictures;
};

bool readPictureLog(const std::string& path, PictureLog* log, std::string* error);
bool readSound(const std::string& path, std::vector<float>* samples, std::string* error);
bool readTiming(const std::string& path, std::vector<TimingPoint>* points, std::string* error);

// ---- When the sink played each recorded sample -----------------------------

// Each timing update says which stream sample the sink was playing at which
// moment: the write index, less what the sink holds ahead of playing, at the
// update's server time. The sink's clock may run at a slightly different
// rate from the monotonic clock, and an output that jumps changes the tie,
// so a sample's time comes from the median of the updates near it.
class SinkClock {
  public:
    SinkClock() = default;
    SinkClock(const std::vector<TimingPoint>& points, int rate);
    // Monotonic ms at which recorded sample `index` was played, from the
    // updates within WINDOW_SECONDS of it and, when given, within the
    // recorded samples [from, to): an output that lost sound also jumps in
    // its timing there, so the updates of one unbroken piece are used. False
    // when fewer than MIN_UPDATES are found.
    bool playedAtMs(double index, double* ms, double from = -1e300, double to = 1e300) const;
    // The spread (90th minus 10th percentile, ms) of those updates.
    double spreadMs(double index, double from = -1e300, double to = 1e300) const;
    size_t updates() const { return ties.size(); }

    static constexpr double WINDOW_SECONDS = 1.5;
    static constexpr size_t MIN_UPDATES = 5;

  private:
    struct Tie {
        double index;    // stream sample being played ...
        double offsetMs; // ... at offsetMs + index / rate
    };
    std::vector<Tie> ties; // by index
    int rate = RATE;
    std::vector<double> near(double index, double from, double to) const;
};

// ---- Which song sample each recorded sample is --------------------------------

// Recorded sample = song sample + lag, for song samples in [songStart, songEnd).
struct Segment {
    int64_t songStart;
    int64_t songEnd;
    int64_t lag;
};

// The pieces of the song found in the recording, in song order. Sound is
// matched where it equals the render within a small tolerance (the path to
// the sink keeps the samples as they are); where it stops matching (a gap,
// a skip, a repeat) the piece ends and the next one is searched for.
std::vector<Segment> alignRecording(const std::vector<float>& recording,
                                    const std::vector<float>& song);
// The piece that holds song sample s, or null.
const Segment* segmentOf(const std::vector<Segment>& segments, int64_t s);
// The recorded index of song sample s, or -1 when no piece holds it.
int64_t recordedIndex(const std::vector<Segment>& segments, int64_t s);

// ---- Cells ---------------------------------------------------------------------

// A rectangle of the virtual screen (640x480, y down), in whole cells.
struct Rect {
    int x0, y0, x1, y1;
};

struct Rgb {
    double r = 0, g = 0, b = 0;
};

// A picture made from an image drawn over rect, as cells (the rect's cells
// only, row by row): what the screen shows there when the image covers it.
struct Template {
    Rect rect{};
    std::vector<double> values; // r, g, b per cell
};
// The image (tightly packed RGB, top row first) scaled onto rect.
Template makeTemplate(const uint8_t* rgb, int width, int height, Rect rect);

Rgb meanColour(const std::vector<uint8_t>& cells, Rect rect);
// Mean absolute difference of the cells and the template, 0-255.
double meanDifference(const std::vector<uint8_t>& cells, const Template& t);
// Correlation of brightness of the cells and the template over its rect.
double correlation(const std::vector<uint8_t>& cells, const Template& t);

// ---- The show's events ---------------------------------------------------------

enum class Look {
    White,        // the whole picture white (a white fade at its start)
    Green,        // the whole picture green
    DarkRed,      // the whole picture dark red
    Black,        // the whole picture black
    Grey,         // a grey picture (not lit in colour)
    ImageShown,   // the template's image fills its rect
    ImageOverlay, // the template's image is added over its rect (half strength)
    Letter,       // which of three letters is in the centre
};

// One event: the picture changes when row `row` of order `order` is heard.
// The picture after it has the look (or, with lookAfter false, has lost
// it); the one before it has not (or has it), and where `before` is given,
// has that look.
struct Event {
    std::string name;
    std::string kind; // scene, picture, fade, letter
    int order = 0;
    int row = 0;
    Look look = Look::White;
    bool lookAfter = true; // true: the look appears; false: it goes
    int image = -1;        // template index for ImageShown and ImageOverlay
    int otherImage = -1;   // for ImageShown: another way the picture may be shown
    int letter = -1;       // for Letter: the letter shown after, 0-2
    bool beforeGiven = false;
    Look before = Look::White; // with beforeGiven: the look the picture before has
    int beforeImage = -1;
};

// The show's events, from its scenes: scene changes, the pictures tied to
// an order or a row, fades and the letters.
std::vector<Event> showEvents();

// The images events refer to, as media file names (inside tavara/), with the
// rect each is drawn over.
struct ImageUse {
    const char* file;
    Rect rect;
};
const std::vector<ImageUse>& eventImages();

// What a picture shows, for one event: 1 after it, 0 before it, -1 neither
// (a picture in between, or one that cannot be told). For letters, the
// letter shown (0-2) or -1.
int classify(const Event& e, const std::vector<uint8_t>& cells,
             const std::vector<Template>& images);

// ---- Matching --------------------------------------------------------------------

struct Found {
    bool ok = false;
    double ms = 0;          // when the first picture after the event reached the screen
    double uncertainty = 0; // how far from ms that moment may lie
    std::string why;        // when not ok
};

// The first picture of the event in [fromMs, toMs): the earliest picture
// classified as after the event that follows one classified as before it.
// The change reached the screen with one of the drawings between them; it is
// taken as the middle of their times, and refused when those span more than
// twice MAX_UNCERTAINTY_MS. With requireHold, the next picture that can be
// told, if it came within HOLD_MS, must still be after the event. `states`
// holds classify() for each picture.
constexpr double MAX_UNCERTAINTY_MS = 4;
constexpr double HOLD_MS = 250;
Found findTransition(const PictureLog& log, const std::vector<int>& states, int beforeState,
                     int afterState, double fromMs, double toMs, bool requireHold);

// ---- Figures ---------------------------------------------------------------------

struct Stats {
    size_t count = 0;
    double median = 0;  // of the offsets
    double p90Abs = 0;  // 90th percentile of |offset|
    double largest = 0; // the offset farthest from zero (with its sign)
    double mean = 0;
};
Stats statistics(const std::vector<double>& offsets);
// The q-quantile by nearest rank (q in 0..1).
double quantile(std::vector<double> values, double q);
double median(std::vector<double> values);

// Mean time between the pictures that reached the screen in [fromMs, toMs),
// counting every reported drawing (read or not); 0 when fewer than two.
double meanFrameTime(const PictureLog& log, double fromMs, double toMs);

// One event's result.
struct Offset {
    const Event* event = nullptr;
    double soundMs = 0;   // when its first sample was played
    double pictureMs = 0; // when its first picture reached the screen
    double offsetMs = 0;  // picture - sound
    double uncertainty = 0;
    bool ok = false;
    std::string why;
};

// ---- The whole measurement ----------------------------------------------------------

// The song as the offline render has it: its samples and where each row starts.
struct Song {
    std::vector<float> samples;
    struct RowStart {
        uint64_t sample;
        uint32_t word; // order in bits 0-15, row in 16-31
    };
    std::vector<RowStart> rows; // by sample
    // The first sample of (order, row); -1 when the song has no such row.
    int64_t rowStart(int order, int row) const;
};

// What the recorder wrote into one folder.
struct Run {
    PictureLog pictures;
    std::vector<float> sound;
    std::vector<TimingPoint> timing;
};
bool readRun(const std::string& folder, Run* run, std::string* error);

// A scene of the show's schedule: its name and its first and last
// millisecond of show time.
struct Scene {
    std::string name;
    int startMs;
    int endMs;
};

struct SceneFigures {
    const Scene* scene = nullptr;
    double frameMs = 0; // mean time between the pictures that reached the screen; NaN
                        // when the recording does not reach the scene
    std::vector<double> offsets;
};

struct Measurement {
    std::vector<Offset> offsets; // one per event, in the events' order
    std::vector<Segment> segments;
    size_t sinkUpdates = 0;
    double sinkSpreadMs = 0; // the timing updates' spread, the median over the events
    double guessMs = 0;      // the median offset of the music-tied events other than letters
    std::vector<SceneFigures> scenes;
};

// Window in which the first picture of an event is looked for, relative to
// its sound. Scene changes come from the schedule, which a show timing it
// by the system's clock, on a loaded machine that lost sound, can leave
// seconds away from the music, and each scene's look is unique for many
// seconds around it; the pictures tied to the music come closer, the quarter
// pictures 1.6 s apart; the letters come one per row, the same letter every
// third row, so they are looked for around the offset the other music-tied
// events gave.
constexpr double SCENE_BEFORE_MS = 8000;
constexpr double SCENE_AFTER_MS = 4000;
constexpr double SEARCH_BEFORE_MS = 300;
constexpr double SEARCH_AFTER_MS = 600;
constexpr double LETTER_REACH_MS = 60;

Measurement measure(const Run& run, const Song& song, const std::vector<Event>& events,
                    const std::vector<Template>& images, const std::vector<Scene>& scenes);

// The self-check: the medians of the differences to the run with nothing
// injected, per event found in both runs.
struct CheckResult {
    size_t pairsPlus = 0, pairsMinus = 0;
    double readPlus = 0, readMinus = 0; // ms
    bool pass = false;
};
constexpr double CHECK_TOLERANCE_MS = 3;
constexpr size_t CHECK_MINIMUM_PAIRS = 20;
CheckResult selfCheck(const std::vector<Offset>& base, const std::vector<Offset>& plus,
                      const std::vector<Offset>& minus, double injectedMs, double toleranceMs,
                      size_t minimumPairs);

} // namespace syncmeter
