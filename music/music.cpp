// The show's music layer: starts the module through the real-time player in
// platform/ and answers the scenes' questions about the position (order and
// row) being heard. The position can come from another source instead: the
// capture program's offline render or a test's script.
//
// Main thread only. The player renders on its own audio thread; everything
// here only asks it for the latest heard position, which is cheap.
#include "music/music.h"

#include <cstdio>
#include <cstdlib>

#include "platform/module_player.h"
#include "platform/platform.h"

namespace {

// The position that musicRowChanged saw last; all bits set before the first
// call, which no real position equals.
uint32_t lastPosition = 0xFFFFFFFFu;

const MusicSource* source = nullptr;

// musicSetLookAhead's milliseconds, for the real player.
int lookAheadMs = 0;

uint32_t playerPosition(void*) {
    return platform::modulePlayerPositionAhead(lookAheadMs);
}
int playerSetPosition(void*, int order) {
    return platform::modulePlayerSetOrder(order);
}
int playerMsUntilHeard(void*) {
    return platform::modulePlayerMsUntilHeard();
}
const MusicSource PLAYER_SOURCE = {playerPosition, playerSetPosition, playerMsUntilHeard, nullptr,
                                   true};

// The scripted source of the tests; its user pointer is the word it reports.
uint32_t scriptWord = 0;
uint32_t scriptPosition(void* word) {
    return *static_cast<uint32_t*>(word);
}
int scriptSetPosition(void* word, int order) {
    *static_cast<uint32_t*>(word) = platform::positionWord(order, 0);
    return 1;
}
int heardAtOnce(void*) {
    return 0;
}
const MusicSource SCRIPT_SOURCE = {scriptPosition, scriptSetPosition, heardAtOnce, &scriptWord,
                                   false};

const MusicSource& currentSource() {
    return source ? *source : PLAYER_SOURCE;
}
uint32_t position() {
    const MusicSource& current = currentSource();
    return current.position(current.user);
}

} // namespace

int musicInit() {
    if (platform::modulePlayerOpen(platform::PLAYER_RATE) != platform::PlayerOk)
        musicFail("Can't initialize device");
    if (platform::modulePlayerLoad(platform::dataPath(MUSIC_FILE)) != platform::PlayerOk)
        musicFail("Can't play the file");
    return 0;
}

void musicPlay() {
    platform::modulePlayerStart();
    platform::modulePlayerSetVolume(0.6);
}

int musicSetPosition(int order) {
    const MusicSource& current = currentSource();
    return current.setPosition(current.user, order & 0xFFFF);
}

int musicMsUntilHeard() {
    const MusicSource& current = currentSource();
    return current.msUntilHeard ? current.msUntilHeard(current.user) : 0;
}

bool musicHeardClock() {
    return currentSource().heardClock;
}

void musicSetLookAhead(int ms) {
    lookAheadMs = ms > 0 ? ms : 0;
}

int musicOrder() {
    return static_cast<int>(position() & 0xFFFFu);
}

int musicRow() {
    return static_cast<int>(position() >> 16);
}

int musicRowChanged() {
    const uint32_t p = position();
    if (p == lastPosition)
        return -1;
    lastPosition = p;
    return static_cast<int>(p >> 16);
}

void musicFail(const char* message) {
    const int code = platform::modulePlayerLastError();
    std::printf("Error(%d): %s\n", code, message);
    std::fflush(stdout);
    platform::modulePlayerClose();
    // A failure must not look like success to whoever started the show.
    std::_Exit(1);
}

void musicSetSource(const MusicSource* newSource) {
    source = newSource;
}

void musicScriptPosition(int order, int row) {
    scriptWord = platform::positionWord(order, row);
    source = &SCRIPT_SOURCE;
}
