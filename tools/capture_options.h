// The capture program's command line and the arithmetic that maps frame-loop
// passes to show time and to audio samples.
//
// Main thread. Times are milliseconds of show time from the start of the
// frame loop; audio positions are sample indices at CAPTURE_AUDIO_RATE Hz;
// sizes are pixels. Pass n of a capture at f frames per second runs at show
// time floor(n * 1000 / f) ms and covers the samples from
// floor(n * 44100 / f) up to the next pass's first sample.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/virtual_show.h"

constexpr int CAPTURE_AUDIO_RATE = 44100;
// A range's end is exclusive, so the whole show is [0, SHOW_END_MS).
constexpr int SHOW_END_MS = SHOW_LAST_MS + 1;
constexpr int MAX_CAPTURE_FPS = 1000;
constexpr int MAX_CAPTURE_SIZE = 4096;

enum class CaptureOutput {
    None,       // nothing chosen yet
    Video,      // a .mp4 or .mkv file through ffmpeg
    PngFolder,  // PNG sequence and audio.wav, or at-MS.png pictures
    RenderOnly, // every frame rendered and read back, nothing written
};

struct CaptureOptions {
    int width = 640;
    int height = 480;
    int fps = 60;
    // Range of show time whose passes are written: fromMs <= t < toMs.
    int fromMs = 0;
    int toMs = SHOW_END_MS;
    bool rangeGiven = false;
    // Single pictures; sorted, without repeats.
    std::vector<int> atMs;
    CaptureOutput output = CaptureOutput::None;
    std::string outputPath;
    // The folder that holds tavara/; empty: the shared media lookup.
    std::string dataDir;
    std::string videoCodec = "libx264";
    std::string audioCodec = "aac";
    // The picture at 4:3 in the middle of the size asked for, black around
    // it; without it the picture fills the size.
    bool keepAspect = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Parses argv[1..]. False with a one-line reason in *error (without the
// program name) on bad arguments. --help and --version set help or version and
// skip the other checks.
bool parseCaptureArgs(int argc, const char* const* argv, CaptureOptions* options,
                      std::string* error);
// The --help text.
std::string captureUsage();

// First audio sample of pass n.
uint64_t passFirstSample(uint64_t pass, int fps);

// What one capture renders and writes, in passes.
struct CapturePlan {
    uint64_t firstPass = 0;         // first pass of the range
    uint64_t endPass = 0;           // one past the range's last pass
    std::vector<uint64_t> atPasses; // the pass of each atMs entry, same order
    uint64_t stopPass = 0;          // the loop is ended before this pass runs
};
CapturePlan planCapture(const CaptureOptions& options);
