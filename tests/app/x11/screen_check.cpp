// tuhkala-screen-check [--pointer-hidden] WINDOW-ID WIDTH HEIGHT X Y W H
//                      [REFERENCE.png]
//
// What an X11 window shows, read back from the X server: the window must be
// WIDTH x HEIGHT; every pixel outside the picture rectangle (X, Y from the
// top left, W x H) must be black; the picture must reach each of its four
// edges (a row or column of it holds a pixel brighter than noise); and, with
// a reference, the picture must match it within the reference frames'
// tolerance (at most 0.5 % of the pixels differ by more than 16 levels in a
// channel, mean difference at most 1 level). On a mismatch the window's
// picture is kept beside the reference as REFERENCE-screen.png. With
// --pointer-hidden the pointer is moved into the window's middle and the
// cursor shown there must have no visible pixel.
//
// Prints one line of figures; exit 0 when all holds, 1 when not, 2 for a
// usage error. The window tests use it on a private Xvfb.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/kit.h"
#include "tools/capture_encode.h"

// Last: Xlib's macros (None, Status, ...) would clash with names above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

namespace {

const int THRESHOLD = 16;         // levels of one channel
const double PIXELS_OVER = 0.005; // share of the picture's pixels
const double MEAN_LIMIT = 1.0;    // levels, over every channel value
const int NOISE = 16;             // an edge pixel brighter than this is picture

bool number(const char* text, long* out) {
    char* end = nullptr;
    *out = std::strtol(text, &end, 0);
    return *text != '\0' && *end == '\0' && *out >= 0;
}

// Spreads a channel's mask bits to 0-255.
int channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0)
        return 0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    const unsigned long top = mask >> shift;
    return static_cast<int>(((pixel & mask) >> shift) * 255 / top);
}

// A connection to the display, closed with its owner.
using Connection = std::unique_ptr<Display, int (*)(Display*)>;
Connection connect() {
    return Connection(XOpenDisplay(nullptr), XCloseDisplay);
}

bool grab(Window window, int width, int height, kit::Picture* out, std::string* problem) {
    const Connection display = connect();
    XWindowAttributes attributes;
    if (!display)
        *problem = "cannot open the display";
    else if (!XGetWindowAttributes(display.get(), window, &attributes))
        *problem = "no such window";
    else if (attributes.width != width || attributes.height != height)
        *problem = "the window is " + std::to_string(attributes.width) + "x" +
                   std::to_string(attributes.height) + ", not " + std::to_string(width) + "x" +
                   std::to_string(height);
    if (!problem->empty())
        return false;
    XImage* image = XGetImage(display.get(), window, 0, 0, width, height, AllPlanes, ZPixmap);
    if (!image) {
        *problem = "the window's picture cannot be read";
        return false;
    }
    out->width = width;
    out->height = height;
    out->rgb.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            unsigned char* p = &out->rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<unsigned char>(channel(pixel, image->red_mask));
            p[1] = static_cast<unsigned char>(channel(pixel, image->green_mask));
            p[2] = static_cast<unsigned char>(channel(pixel, image->blue_mask));
        }
    }
    XDestroyImage(image);
    return true;
}

// The visible pixels of the cursor over the window's middle; -1 when the
// server cannot say.
int visibleCursorPixels(Window window, int width, int height) {
    const Connection display = connect();
    int event = 0, error = 0;
    if (!display || !XFixesQueryExtension(display.get(), &event, &error))
        return -1;
    XWarpPointer(display.get(), None, window, 0, 0, 0, 0, width / 2, height / 2);
    XSync(display.get(), False);
    XFixesCursorImage* cursor = XFixesGetCursorImage(display.get());
    if (!cursor)
        return -1;
    int visible = 0;
    // ARGB in the low 32 bits of each long.
    for (int i = 0; i < cursor->width * cursor->height; ++i)
        visible += ((cursor->pixels[i] >> 24) & 0xFF) != 0;
    XFree(cursor);
    return visible;
}

int brightest(const kit::Picture& screen, int x0, int y0, int x1, int y1) {
    int most = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            most = std::max(most, kit::distance(screen.at(x, y), {0, 0, 0}));
    return most;
}

} // namespace

int main(int argc, char** argv) {
    const bool pointerHidden = argc > 1 && std::string(argv[1]) == "--pointer-hidden";
    if (pointerHidden) {
        ++argv;
        --argc;
    }
    long v[7];
    bool ok = argc == 8 || argc == 9;
    for (int i = 0; ok && i < 7; ++i)
        ok = number(argv[i + 1], &v[i]);
    const int width = static_cast<int>(v[1]), height = static_cast<int>(v[2]);
    const int x = static_cast<int>(v[3]), y = static_cast<int>(v[4]);
    const int w = static_cast<int>(v[5]), h = static_cast<int>(v[6]);
    if (!ok || v[0] == 0 || w < 1 || h < 1 || x + w > width || y + h > height) {
        std::fprintf(stderr, "usage: tuhkala-screen-check [--pointer-hidden] WINDOW-ID WIDTH "
                             "HEIGHT X Y W H [REFERENCE.png]\n");
        return 2;
    }
    kit::Picture screen;
    std::string problem;
    if (!grab(static_cast<Window>(v[0]), width, height, &screen, &problem)) {
        std::printf("FAIL: %s\n", problem.c_str());
        return 1;
    }

    // Outside the picture: black, to the last bit.
    int outside = 0;
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            const bool in = col >= x && col < x + w && row >= y && row < y + h;
            if (!in && !(screen.at(col, row) == kit::Rgb{0, 0, 0}))
                ++outside;
        }
    }
    // The picture's own edges, each a row or column inside it.
    const int left = brightest(screen, x, y, x + 1, y + h);
    const int right = brightest(screen, x + w - 1, y, x + w, y + h);
    const int top = brightest(screen, x, y, x + w, y + 1);
    const int bottom = brightest(screen, x, y + h - 1, x + w, y + h);
    std::printf("window %dx%d, picture %dx%d at (%d, %d): %d pixels outside it not black; "
                "brightest edge pixel left %d right %d top %d bottom %d",
                width, height, w, h, x, y, outside, left, right, top, bottom);
    bool pass = outside == 0 && left > NOISE && right > NOISE && top > NOISE && bottom > NOISE;

    if (argc == 9) {
        const kit::Picture reference = kit::readPng(argv[8]);
        kit::Picture picture;
        picture.width = w;
        picture.height = h;
        for (int row = y; row < y + h; ++row) {
            const unsigned char* start = &screen.rgb[(static_cast<size_t>(row) * width + x) * 3];
            picture.rgb.insert(picture.rgb.end(), start, start + static_cast<size_t>(w) * 3);
        }
        const kit::Difference d = kit::compare(picture, reference, THRESHOLD);
        std::printf("; against %s: %d pixels differ by more than %d (at most %.0f), worst %d, "
                    "mean %.3f (at most %.1f)",
                    argv[8], d.pixelsOver, THRESHOLD, PIXELS_OVER * w * h, d.worst, d.mean,
                    MEAN_LIMIT);
        if (!reference.problem.empty())
            std::printf(" (%s)", reference.problem.c_str());
        if (d.pixelsOver > PIXELS_OVER * w * h || d.mean > MEAN_LIMIT) {
            pass = false;
            kit::writeFile(std::string(argv[8]) + "-screen.png",
                           encodePng(picture.rgb.data(), w, h));
        }
    }
    if (pointerHidden) {
        const int visible = visibleCursorPixels(static_cast<Window>(v[0]), width, height);
        std::printf("; the pointer over it shows %d visible pixels", visible);
        pass = pass && visible == 0;
    }
    std::printf("\n");
    return pass ? 0 : 1;
}
