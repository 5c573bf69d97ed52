/* A glFinish that waits DELAY_FINISH_MS (a number of ms) after the real one,
 * preloaded (LD_PRELOAD) into a frame benchmark by bench/compare.sh and
 * bench/layer_cost.sh: every frame ends in glFinish, so each frame takes that
 * much longer, a known difference that their tables must show.
 *
 * Runs on the thread that calls glFinish. Wall time. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>

void glFinish(void) {
    static void (*real)(void);
    static double delay = -1.0;
    if (!real)
        real = (void (*)(void))dlsym(RTLD_NEXT, "glFinish");
    if (delay < 0.0) {
        const char* text = getenv("DELAY_FINISH_MS");
        delay = text ? atof(text) : 0.0;
    }
    if (real)
        real();
    /* A busy wait: how late a sleep wakes on a loaded machine is not known. */
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    do
        clock_gettime(CLOCK_MONOTONIC, &now);
    while ((now.tv_sec - start.tv_sec) * 1e3 + (now.tv_nsec - start.tv_nsec) / 1e6 < delay);
}
