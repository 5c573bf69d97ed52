// Preloaded into the show by the window test of Escape held (show_test.sh):
// SDL_PollEvent hands the show every event except key presses, so a key
// reaches the show only through SDL's keyboard state, the one Escape test of
// the frame loop, never through its any-key path. SDL records a key in that
// state before it queues the key's event, so dropping the event here leaves
// the state as it was.
//
// Main thread of the show, like the calls it stands in for.
#include <SDL.h>
#include <dlfcn.h>

extern "C" int SDL_PollEvent(SDL_Event* event) {
    using Poll = int (*)(SDL_Event*);
    static const Poll sdlPollEvent = reinterpret_cast<Poll>(dlsym(RTLD_NEXT, "SDL_PollEvent"));
    SDL_Event taken;
    while (sdlPollEvent(&taken)) {
        if (taken.type == SDL_KEYDOWN)
            continue;
        if (event)
            *event = taken;
        return 1;
    }
    return 0;
}
