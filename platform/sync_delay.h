// A known delay of the picture or of the sound, so that a sync meter can
// show that it reads one (bench/sync_meter.sh). The environment variable
// TUHKALA_SYNC_DELAY_MS holds whole milliseconds from -1000 to 1000:
//
// - above 0, the picture comes that much later: the heard clock takes the
//   output to hold that much more than it does, so the scenes follow the
//   music that much late, and the schedule, which starts when order 0 is
//   heard, starts that much later too;
// - below 0, the sound comes that much later: the player's buffers reach
//   the output through a delay line the rest of the show knows nothing of.
//
// Unset or 0, nothing changes. Only the real-time player reads the variable,
// when it opens the output; the capture program and the tests never do.
//
// syncDelaySound runs on the audio thread; everything else on the main
// thread. Times in milliseconds, lengths in samples.
#pragma once

namespace platform {

// The value of TUHKALA_SYNC_DELAY_MS: false (and *ms untouched) for text
// that is not a whole number of milliseconds from -1000 to 1000.
bool parseSyncDelay(const char* text, int* ms);

// Sets the delay (clamped to -1000..1000) for output at rate Hz and readies
// the sound's delay line. Before the output runs: the audio thread reads
// the line without locking.
void setSyncDelay(int ms, int rate);
// Reads TUHKALA_SYNC_DELAY_MS and sets it as above; a value that cannot be
// read is reported on standard error and ignored. Returns the picture's delay
// in samples at rate, for the heard clock to add to the output's latency.
int syncDelayFromEnvironment(int rate);

// The picture's delay in milliseconds (0 unless a positive delay is set).
int syncDelayPictureMs();
// Audio thread: passes count samples through the sound's delay line (does
// nothing unless a negative delay is set).
void syncDelaySound(float* samples, int count);

} // namespace platform
