// The scenes' random numbers: the linear congruential generator that the C
// standard gives as its portable example of rand(), started from seed 1.
//
// Main thread only (called from the render callbacks). Results are 0 to 32767.
#include "effects/demo_rand.h"

#include <cstdint>

namespace {

// Only the low 31 bits of the state reach a result, so 32-bit unsigned
// arithmetic gives the same sequence as the standard's unsigned long.
uint32_t randState = 1;

} // namespace

int demoRand() {
    randState = randState * 1103515245u + 12345u;
    return static_cast<int>((randState / 65536u) % 32768u);
}

void demoSeedRand(unsigned int seed) {
    randState = seed;
}
