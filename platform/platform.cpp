// Backend dispatch, the posted-message queue, error boxes and data-file access
// of the window-system layer.
//
// Main thread only. Ticks are milliseconds on the backend's 32-bit counter.
//
// The frame loop never talks to SDL or EGL directly: every call goes through
// the installed Backend, so the show, the capture program and the tests drive
// the same loop. Messages that the show posts to itself (the destroy of a key
// press, the quit of a teardown) wait in a queue here and are taken before the
// backend's own events, as posted messages come before input on the original
// platform.
#include "platform/platform.h"

#include <deque>

namespace platform {
namespace {

const Backend* installed = nullptr;
std::deque<Event> posted;
// Off until the show turns them on: a modal box in a headless test or a tool
// would wait for a click that never comes.
bool boxesEnabled = false;

} // namespace

void setBackend(const Backend* backend) {
    installed = backend;
}

const Backend* currentBackend() {
    return installed;
}

uint32_t tickCount() {
    return installed ? installed->tickCount() : 0;
}

bool escapeHeld() {
    return installed && installed->escapeHeld();
}

void swapBuffers() {
    if (installed)
        installed->swapBuffers();
}

bool contextCurrent() {
    return installed && installed->contextCurrent();
}

void releaseContext() {
    if (installed)
        installed->releaseContext();
}

void postEvent(const Event& event) {
    posted.push_back(event);
}

bool takeEvent(Event* out) {
    if (!posted.empty()) {
        *out = posted.front();
        posted.pop_front();
        return true;
    }
    return installed && installed->takeEvent(out);
}

void clearPostedEvents() {
    posted.clear();
}

void showErrorBox(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    if (boxesEnabled)
        showSystemErrorBox(caption, text);
}

void setMessageBoxesEnabled(bool enabled) {
    boxesEnabled = enabled;
}

std::string dataPath(const char* path) {
    std::string mapped = path ? path : "";
    for (char& c : mapped) {
        if (c == '\\')
            c = '/';
    }
    return mapped;
}

FILE* openDataFile(const char* path, const char* mode) {
    if (!path || !mode)
        return nullptr;
    return std::fopen(dataPath(path).c_str(), mode);
}

bool readDataFile(const char* path, std::vector<unsigned char>& out) {
    out.clear();
    FILE* f = openDataFile(path, "rb");
    if (!f)
        return false;
    // Read in chunks rather than trusting a seek-reported size, so a file
    // that changes or a special file still reads to its real end.
    unsigned char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        out.insert(out.end(), chunk, chunk + got);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok)
        out.clear();
    return ok;
}

} // namespace platform
