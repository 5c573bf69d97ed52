// Real-time playback of one tracker module: libopenmpt renders it for the
// default output (a sound server's stream, else an SDL2 audio device), and
// the main thread asks which order and row are being heard right now.
//
// The module_player* functions are called from the main thread; the
// rendering runs on the output's audio thread. Sample rates in Hz, sample
// counts and indices in output samples (mono frames), times in nanoseconds of
// a monotonic clock. A position word holds the order in bits 0-15 and the row
// in bits 16-31.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Error codes of the player (any nonzero value is a failure).
enum ModulePlayerError {
    PlayerOk = 0,
    PlayerFileOpen = 2,    // the module file could not be read
    PlayerNoDriver = 3,    // the audio subsystem could not start
    PlayerNotStarted = 8,  // used before the output was opened
    PlayerDeviceOpen = 23, // the output device could not be opened
    PlayerFileFormat = 41, // the file is not a module the library can load
};

// Settings shared by the real player and the offline renderer, so that both
// produce the same sound.
constexpr int PLAYER_RATE = 44100;
// 60 % output amplitude as a master gain: 2000 * log10(0.6) = -443.7 mB.
constexpr int PLAYER_GAIN_MILLIBEL = -444;
// Linear interpolation, like the common module players' default.
constexpr int PLAYER_INTERPOLATION = 2;
// Normal (the library's recommended) volume ramping: no clicks on note starts.
constexpr int PLAYER_VOLUME_RAMPING = -1;
// The position is recorded once per slice of this many samples (1 ms), the
// error of the reported position.
constexpr int PLAYER_SLICE_SAMPLES = 44;

inline uint32_t positionWord(int order, int row) {
    return (static_cast<uint32_t>(order) & 0xFFFFu) | (static_cast<uint32_t>(row) << 16);
}

// Which output sample is being heard, and so which recorded position. The
// audio thread reports each callback and each rendered slice; the main thread
// asks at a time of the same monotonic clock. Pure arithmetic over the times
// it is given, without locking: the player guards it with a mutex and tests
// drive it with a fake clock.
//
// Model: when the callback for a buffer starts, everything handed to the
// device before it (renderedBefore samples) has been consumed by the device
// except the last latencySamples, which are still queued; from then on the
// device plays on at the sample rate until the next callback.
//
// Each callback so gives an account of when output sample 0 was heard. One
// account wavers with when the output got round to asking for more and with
// the latency figure of the moment (by 2 to 3 ms through a sound server);
// the clock runs from the median of the last REFERENCE_CALLBACKS accounts,
// which wavers less and still follows a device whose rate differs from the
// monotonic clock's. A real change of the output's latency (a new sink) is
// followed once it holds for more than half of them.
class HeardClock {
  public:
    static constexpr int CAPACITY = 8192;          // recorded slices: 8 s at 1 ms slices
    static constexpr int REFERENCE_CALLBACKS = 31; // 0.7 s of 1024-sample buffers

    HeardClock();
    // Output rate and the samples queued between a callback and the listener
    // (what the output says it holds, plus any extra).
    void configure(int rate, int latencySamples);
    // Audio thread: a callback started at nowNs and will produce count samples.
    void callbackStarted(uint64_t nowNs, int count);
    // Audio thread: the next slice of count samples starts at position word.
    void recordSlice(uint32_t word, int count);
    // Output sample index heard at nowNs; never goes backwards.
    uint64_t heardSample(uint64_t nowNs);
    // Position word heard at nowNs: the newest recorded slice that has started
    // sounding, else the initial position.
    uint32_t positionAt(uint64_t nowNs);
    // Position word that will be heard aheadNs after nowNs, for a picture
    // that reaches the screen then: as positionAt(nowNs + aheadNs), but
    // counting on the output to keep pace until then (the next callbacks
    // come in time), and never before what is heard at nowNs. It sees no
    // further than the render: past the newest rendered slice (a look ahead
    // longer than the latency) that slice's word stands.
    uint32_t positionAhead(uint64_t nowNs, uint64_t aheadNs);
    // Playback jumped to word at nowNs: slices rendered but not yet heard are
    // forgotten and word is reported from now on. The next sample rendered is
    // the first of the new position.
    void jumpTo(uint32_t word, uint64_t nowNs);
    // Nanoseconds from nowNs until the first sample rendered after the latest
    // jump is heard; negative once it has been (how long ago), 0 before any
    // jump. A sample not rendered yet is at least one latency away, for up to
    // JUMP_STALL_LIMIT_NS after the jump.
    int64_t nsUntilJumpHeard(uint64_t nowNs) const;
    static constexpr uint64_t JUMP_STALL_LIMIT_NS = 2000000000;
    // Forget everything; the stream restarts at sample 0 with word.
    void reset(uint32_t word);

    uint64_t renderedSamples() const { return rendered; }

  private:
    struct Slice {
        uint64_t start; // output sample index where it is heard
        uint32_t word;
    };
    int rate = PLAYER_RATE;
    int latency = 0;
    bool started = false;
    bool jumped = false;
    uint64_t jumpNs = 0;
    uint64_t jumpSample = 0; // output sample index of the first sample after the jump
    // The recent callbacks' accounts of when output sample 0 was heard
    // (nanoseconds, may be before 0 of the clock: signed), oldest at
    // accountNext - accountCount, and their median.
    int64_t accounts[REFERENCE_CALLBACKS] = {};
    int accountCount = 0;
    int accountNext = 0;
    int64_t referenceNs = 0;
    uint64_t callbackBase = 0; // samples rendered before the latest callback
    int callbackCount = 0;     // samples of the latest callback
    uint64_t rendered = 0;     // samples recorded so far
    uint64_t lastHeard = 0;
    uint32_t fallbackWord = 0; // reported before any slice has sounded
    std::vector<Slice> ring;   // CAPACITY entries
    // The output sample heard aheadNs after nowNs, by the newest callback.
    uint64_t sampleAt(uint64_t nowNs, uint64_t aheadNs) const;
    // The newest recorded slice that starts at or before output sample heard.
    uint32_t wordAt(uint64_t heard) const;
    int head = 0;  // index of the next write
    int count = 0; // valid entries, oldest at head - count
};

// Monotonic clock in nanoseconds, the one the player uses.
uint64_t monotonicNs();

// Opens the default output at rate Hz, mono float, silent until a module
// plays: a stream on the sound server when one answers and SDL_AUDIODRIVER
// is unset or names pulseaudio (its start waits, at most 3 s, until the
// server plays it steadily), else SDL's audio device. PlayerOk or an error
// code.
int modulePlayerOpen(int rate);
// Loads the module file (a path as given to fopen), repeating forever, with
// the shared settings above. PlayerOk or an error code.
int modulePlayerLoad(const std::string& path);
// Starts the loaded module. It sounds from the next modulePlayerSetOrder on
// (the frame loop's rewind to order 0), not at once: the output cannot take
// back what it was given, so sound rendered before the rewind would be heard
// again after it.
void modulePlayerStart();
// Output amplitude, 0..1, applied as master gain in millibel.
void modulePlayerSetVolume(double amplitude);
// Position word being heard now; cheap, no rendering.
uint32_t modulePlayerPosition();
// Position word that will be heard aheadMs from now (HeardClock::positionAhead).
uint32_t modulePlayerPositionAhead(int aheadMs);
// Moves playback to row 0 of order; 1 when the module accepted it, else 0.
int modulePlayerSetOrder(int order);
// Milliseconds of wall time from now until the first sample played after the
// latest modulePlayerSetOrder reaches the listener; 0 or negative once it has
// (minus how long ago it was first heard); 0 before any jump or when no
// output runs.
int modulePlayerMsUntilHeard();
// The code of the latest failure, PlayerOk when none.
int modulePlayerLastError();
// Stops the output and frees the module and the device.
void modulePlayerClose();

} // namespace platform
