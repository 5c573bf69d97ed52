// Where the show's media folder tavara/ is: the one lookup that the show, the
// capture program and the inspect program share, so that an installed copy or
// one started from a launcher (whose working directory is the home folder)
// finds its pictures, meshes and module wherever it was started from.
//
// Main thread only; called once at a program's start. Paths are absolute,
// without "." or ".." parts, so that messages name real folders.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The outcome of one lookup.
struct MediaSearch {
    std::string folder;              // the folder that holds tavara/; empty when none does
    std::vector<std::string> looked; // every folder tried, in order
};

// The first folder that holds a tavara/ folder, tried in this order: the
// working directory; the program's own folder (a build tree); its
// ../share/tuhkalademo (an installed copy). An empty programDir (unknown)
// tries the working directory alone.
MediaSearch findMediaFolder(const std::string& programDir);

// The folder of the running program, symbolic links resolved; empty when the
// system does not say.
std::string programFolder();

// "no tavara/ folder in A, B or C": the folders of a failed lookup.
std::string mediaNotFoundMessage(const MediaSearch& search);

// The show's start: looks up the media and makes their folder the working
// directory, since every scene, and every texture name stored inside a mesh,
// names its file relative to it. When no folder holds tavara/, one line
// "PROGRAM: no tavara/ folder in ..." goes to standard error, the working
// directory stays, and false is returned; the show then plays on as it does
// with missing files.
bool enterMediaFolder(const char* programName);

} // namespace platform
