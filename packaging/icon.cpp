// tuhkala-icon: the desktop icon, made at build time from the show's title
// picture with the show's own JPEG reader.
//
//   tuhkala-icon PICTURE.jpg OUT.png SIZE
//
// The largest centred square of the picture is scaled to SIZE x SIZE by
// averaging the source pixels that each icon pixel covers, and written as a
// PNG. Single-threaded command-line tool; sizes in pixels. Exit status 0 when
// the icon was written, 1 when the picture could not be read or the icon not
// written, 2 for a usage error.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "resources/jpeg.h"
#include "tools/capture_encode.h"
#include "tools/capture_output.h"

namespace {

const int MAX_ICON_SIZE = 1024;

// Box filter over the centred square: icon pixel (x, y) averages the source
// pixels in [x * side / size, (x + 1) * side / size) and likewise for y, at
// least one of them when the picture is smaller than the icon.
std::vector<unsigned char> squareIcon(const unsigned char* pixels, int width, int height,
                                      int channels, int size) {
    const int side = width < height ? width : height;
    const int left = (width - side) / 2;
    const int top = (height - side) / 2;
    std::vector<unsigned char> icon(static_cast<size_t>(size) * size * 3);
    for (int y = 0; y < size; ++y) {
        const int y0 = top + static_cast<int>(static_cast<long>(y) * side / size);
        const int y1 =
            std::max(y0 + 1, top + static_cast<int>(static_cast<long>(y + 1) * side / size));
        for (int x = 0; x < size; ++x) {
            const int x0 = left + static_cast<int>(static_cast<long>(x) * side / size);
            const int x1 =
                std::max(x0 + 1, left + static_cast<int>(static_cast<long>(x + 1) * side / size));
            long sum[3] = {0, 0, 0};
            for (int sy = y0; sy < y1; ++sy) {
                for (int sx = x0; sx < x1; ++sx) {
                    const unsigned char* p =
                        pixels + (static_cast<size_t>(sy) * width + sx) * channels;
                    for (int c = 0; c < 3; ++c)
                        sum[c] += p[channels == 1 ? 0 : c];
                }
            }
            const long count = static_cast<long>(y1 - y0) * (x1 - x0);
            unsigned char* out = &icon[(static_cast<size_t>(y) * size + x) * 3];
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<unsigned char>((sum[c] + count / 2) / count);
        }
    }
    return icon;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: tuhkala-icon PICTURE.jpg OUT.png SIZE\n");
        return 2;
    }
    const int size = std::atoi(argv[3]);
    if (size < 1 || size > MAX_ICON_SIZE) {
        std::fprintf(stderr, "tuhkala-icon: SIZE must be 1 to %d\n", MAX_ICON_SIZE);
        return 2;
    }
    std::vector<unsigned char> bytes;
    if (!platform::readDataFile(argv[1], bytes) || bytes.size() > 0x7FFFFFFF) {
        std::fprintf(stderr, "tuhkala-icon: cannot read %s\n", argv[1]);
        return 1;
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    unsigned char* pixels =
        decodeJpeg(&width, &height, &channels, bytes.data(), static_cast<int>(bytes.size()));
    if (!pixels || (channels != 1 && channels != 3)) {
        std::free(pixels);
        std::fprintf(stderr, "tuhkala-icon: %s is not a JPEG picture the reader accepts\n",
                     argv[1]);
        return 1;
    }
    const std::vector<unsigned char> icon = squareIcon(pixels, width, height, channels, size);
    std::free(pixels);
    std::string error;
    if (!writeWholeFile(argv[2], encodePng(icon.data(), size, size, 9), &error)) {
        std::fprintf(stderr, "tuhkala-icon: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
