// The show's command line (see show_options.h).
//
// Main thread. Sizes in pixels.
#include "app/show_options.h"

#include <cerrno>
#include <cstdlib>

namespace {

bool fail(std::string* error, const std::string& message) {
    if (error)
        *error = message;
    return false;
}

// A whole decimal number from 1 to max, digits only.
bool parseDimension(const std::string& text, int max, int* out) {
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < 1 || value > max)
        return false;
    *out = static_cast<int>(value);
    return true;
}

} // namespace

bool parseSize(const std::string& text, int max, int* width, int* height) {
    const size_t x = text.find('x');
    if (x == std::string::npos)
        return false;
    int w = 0, h = 0;
    if (!parseDimension(text.substr(0, x), max, &w) || !parseDimension(text.substr(x + 1), max, &h))
        return false;
    *width = w;
    *height = h;
    return true;
}

bool parseShowArgs(int argc, const char* const* argv, ShowOptions* options, std::string* error) {
    ShowOptions result;
    bool fullscreen = false;
    bool sized = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            result.help = true;
            *options = result;
            return true;
        }
        if (arg == "--version") {
            result.version = true;
            *options = result;
            return true;
        }
        if (arg == "--fullscreen" || arg == "-f") {
            fullscreen = true;
        } else if (arg == "--window") {
            if (i + 1 >= argc)
                return fail(error, "--window needs a size WxH, e.g. 1280x960");
            const std::string size = argv[++i];
            if (!parseSize(size, MAX_WINDOW_SIZE, &result.window.width, &result.window.height))
                return fail(error, "--window " + size + ": expected WxH, width and height 1 to " +
                                       std::to_string(MAX_WINDOW_SIZE) + ", e.g. 1280x960");
            sized = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return fail(error, "unknown option '" + arg + "' (see --help)");
        } else {
            return fail(error, "unexpected argument '" + arg + "' (see --help)");
        }
    }
    if (fullscreen && sized)
        return fail(error, "--fullscreen and --window cannot be combined");
    if (fullscreen)
        result.window.mode = ShowWindow::Fullscreen;
    else if (sized)
        result.window.mode = ShowWindow::Sized;
    *options = result;
    return true;
}

std::string showUsage(const std::string& mediaLine) {
    return "Usage: tuhkalademo [--fullscreen | --window WxH]\n"
           "Plays Varjoinen Tuhkalademo by Rautakivi (Smog in 9kb): eight scenes over\n"
           "169 seconds, drawn with OpenGL and timed to an Impulse Tracker module.\n"
           "Without options the show plays in a window of 640x480 pixels.\n"
           "\n"
           "Options:\n"
           "  -f, --fullscreen  play full screen, at the desktop's resolution\n"
           "  --window WxH      play in a resizable window whose inside is W x H pixels\n"
           "                    (1 to " +
           std::to_string(MAX_WINDOW_SIZE) +
           " each)\n"
           "                    In both modes the picture keeps its 4:3 shape, centred,\n"
           "                    with black bars beside or above and below it.\n"
           "  -h, --help        print this text and exit\n"
           "  --version         print the name and version and exit\n"
           "\n"
           "Keys:\n"
           "  any key           ends the show (so does closing the window)\n"
           "\n"
           "Media:\n"
           "  The pictures, meshes and music are read from the folder tavara/ in the\n"
           "  first of: the working directory, the folder of this program, and\n"
           "  ../share/tuhkalademo beside that folder.\n"
           "  " +
           mediaLine +
           "\n"
           "\n"
           "Environment:\n"
           "  DISPLAY, WAYLAND_DISPLAY  the display the window opens on\n"
           "  SDL_VIDEODRIVER           SDL's video driver (x11, wayland)\n"
           "  SDL_AUDIODRIVER           the sound output: unset or pulseaudio, a sound\n"
           "                            server's stream where one answers, else SDL's;\n"
           "                            dummy plays in silence\n"
           "  TUHKALA_TEST_FRAME        MS@FPS, for tests: see tuhkalademo(6)\n"
           "\n"
           "Exit status: 0 when the show ended, 1 when it could not start, 2 for a\n"
           "usage error. See tuhkalademo(6).\n";
}
