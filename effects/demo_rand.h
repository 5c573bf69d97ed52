// The scenes' random numbers: the portable generator of the C standard's
// example, 0 to 32767, starting from seed 1, so every run and every platform
// shows the same jitter.
//
// Main thread only.
#pragma once

int demoRand();
// Restarts the sequence (the capture program and tests start from seed 1).
void demoSeedRand(unsigned int seed);
