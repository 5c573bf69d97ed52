// The show's command line: how its window opens, and the questions it answers
// without opening anything (--help, --version).
//
// Main thread, before anything else runs. Sizes in pixels.
#pragma once

#include <string>

#include "app/shell.h"

// Larger windows than this are refused: GL implementations draw at most
// 16384 pixels a side.
constexpr int MAX_WINDOW_SIZE = 16384;

struct ShowOptions {
    ShowWindow window;
    bool help = false;
    bool version = false;
};

// Parses argv[1..]. False with a one-line reason in *error (without the
// program's name) on a usage error. --help and --version end the parsing:
// whatever follows them is not looked at.
bool parseShowArgs(int argc, const char* const* argv, ShowOptions* options, std::string* error);

// "W" "x" "H" in whole decimal numbers from 1 to max, nothing else.
bool parseSize(const std::string& text, int max, int* width, int* height);

// The --help text. mediaLine says where the media are found from here (or
// that they are not); it ends the section on media.
std::string showUsage(const std::string& mediaLine);
