// The media lookup shared by the show and its tools (see media_folder.h).
//
// Main thread only, once per run.
#include "platform/media_folder.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace platform {
namespace fs = std::filesystem;

namespace {

bool holdsMedia(const std::string& folder) {
    std::error_code ignored;
    return fs::is_directory(fs::path(folder) / "tavara", ignored);
}

} // namespace

MediaSearch findMediaFolder(const std::string& programDir) {
    MediaSearch search;
    std::error_code error;
    const fs::path here = fs::current_path(error);
    // A working directory that was removed has no name but may still be
    // entered as ".".
    std::vector<std::string> candidates = {error ? std::string(".") : here.string()};
    if (!programDir.empty()) {
        const fs::path program = fs::path(programDir).lexically_normal();
        candidates.push_back(program.string());
        candidates.push_back(
            (program / ".." / "share" / "tuhkalademo").lexically_normal().string());
    }
    // Started from its own folder, a program would name that folder twice.
    for (const std::string& folder : candidates) {
        bool seen = false;
        for (const std::string& earlier : search.looked)
            seen = seen || earlier == folder;
        if (!seen)
            search.looked.push_back(folder);
    }
    for (const std::string& folder : search.looked) {
        if (holdsMedia(folder)) {
            search.folder = folder;
            break;
        }
    }
    return search;
}

std::string programFolder() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error || !exe.has_parent_path())
        return "";
    return exe.parent_path().string();
}

std::string mediaNotFoundMessage(const MediaSearch& search) {
    std::string text = "no tavara/ folder in ";
    const size_t count = search.looked.size();
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            text += i + 1 == count ? " or " : ", ";
        text += search.looked[i];
    }
    return text;
}

bool enterMediaFolder(const char* programName) {
    const MediaSearch search = findMediaFolder(programFolder());
    if (search.folder.empty()) {
        std::fprintf(stderr, "%s: %s\n", programName, mediaNotFoundMessage(search).c_str());
        std::fflush(stderr);
        return false;
    }
    if (chdir(search.folder.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot enter %s\n", programName, search.folder.c_str());
        std::fflush(stderr);
        return false;
    }
    return true;
}

} // namespace platform
