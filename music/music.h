// The show's music: playback of "tavara\amerikka.it" and the position (order
// and row of the module) that the scenes synchronise to.
//
// Called from the main thread only; the player's own audio thread lives in
// platform/. Orders and rows count from 0.
#pragma once

#include <cstdint>

// The module the show plays.
inline constexpr char MUSIC_FILE[] = "tavara\\amerikka.it";

// Opens the default output at 44100 Hz and loads the module. On failure prints
// "Error(%d): %s\n" and ends the process with status 1. Returns 0.
int musicInit();
// Starts the module and sets the output volume to 60 %. The module sounds
// from the next musicSetPosition (the frame loop's rewind to order 0), so
// that its start is heard once.
void musicPlay();
// Moves playback to row 0 of the given order. Returns the player's success flag.
int musicSetPosition(int order);
// Milliseconds of wall time until the first sound after the latest
// musicSetPosition is heard; 0 or negative once it has been (minus how long
// ago), 0 before any move or when nothing is playing.
int musicMsUntilHeard();
// The live show draws each picture for when it will be seen: the positions
// asked from now on are those heard ms from now (0: now). Only the real player
// looks ahead; the other sources give the position at a time of their own.
void musicSetLookAhead(int ms);
// Current order (low 16 bits of the position word).
int musicOrder();
// Current row (high 16 bits of the position word).
int musicRow();
// The current row, but only when the position changed since the last call; else -1.
int musicRowChanged();
// Prints "Error(%d): %s\n" with the player's error code and ends the process.
[[noreturn]] void musicFail(const char* message);

// Where the position comes from. The show always uses the real player; the
// capture program takes the position of an offline render at a virtual time,
// and tests script it.
// Every function gets the source's user pointer.
struct MusicSource {
    // The position word: order in bits 0-15, row in bits 16-31.
    uint32_t (*position)(void* user);
    // Moves to row 0 of the order; the player's success flag.
    int (*setPosition)(void* user, int order);
    // As musicMsUntilHeard. Sources without an output (the offline render,
    // a script) answer 0: what they set is heard at once. Null answers 0.
    int (*msUntilHeard)(void* user);
    void* user;
    // True when msUntilHeard reads a clock of the output's own, a sound
    // device's, which keeps answering how long ago the set position was
    // heard: the schedule then runs on that clock (musicHeardClock).
    bool heardClock;
};
// Whether the source's heard clock runs the schedule: the real player's does.
// A sound device plays at a rate of its own against the tick counter (a
// PulseAudio null sink here runs 200 to 1700 parts per million fast: up to
// 0.3 s over the show); the cues follow what is heard, so the schedule must
// read the same clock for scene changes to land with them.
bool musicHeardClock();
// Installs a source (null: the real player).
void musicSetSource(const MusicSource* source);
// Installs a scripted source that reports the given order and row until told
// otherwise (tests). setPosition on it moves to row 0 of the order.
void musicScriptPosition(int order, int row);
