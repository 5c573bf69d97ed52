// BMP encoding: little-endian headers written byte by byte, so the output does
// not depend on the host's struct layout or byte order.
//
// Build time, one thread.
#include "media/bmp_writer.h"

#include <cmath>

#include "media/little_endian.h"

namespace {

// File header and info header for a bottom-up BI_RGB bitmap.
std::vector<unsigned char> headers(int width, int height, int bitCount, uint32_t colors,
                                   uint32_t rowBytes) {
    const uint32_t imageSize = rowBytes * static_cast<uint32_t>(height);
    const uint32_t offBits = 14 + 40 + 4 * colors;
    std::vector<unsigned char> out;
    out.reserve(offBits + imageSize);
    out.push_back('B');
    out.push_back('M');
    putLe32(out, offBits + imageSize); // file size
    putLe32(out, 0);                   // reserved
    putLe32(out, offBits);
    putLe32(out, 40);
    putLe32(out, static_cast<uint32_t>(width));
    putLe32(out, static_cast<uint32_t>(height));
    putLe16(out, 1); // planes
    putLe16(out, static_cast<uint32_t>(bitCount));
    putLe32(out, 0); // BI_RGB
    putLe32(out, imageSize);
    putLe32(out, 2835); // 72 dpi, as pixels per metre
    putLe32(out, 2835);
    putLe32(out, colors);
    putLe32(out, colors);
    return out;
}

uint8_t toByte(float c) {
    const float k = c < 0.0f ? 0.0f : (c > 1.0f ? 1.0f : c);
    return static_cast<uint8_t>(std::lround(k * 255.0f));
}

} // namespace

std::vector<unsigned char> encodeBmp24(const Image& image) {
    const uint32_t rowBytes = (static_cast<uint32_t>(image.width) * 3 + 3) & ~3u;
    std::vector<unsigned char> out = headers(image.width, image.height, 24, 0, rowBytes);
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x) {
            const Rgb& p = image.at(x, y);
            out.push_back(toByte(p.b));
            out.push_back(toByte(p.g));
            out.push_back(toByte(p.r));
        }
        for (uint32_t pad = static_cast<uint32_t>(image.width) * 3; pad < rowBytes; ++pad)
            out.push_back(0);
    }
    return out;
}

std::vector<unsigned char> encodeBmp8(int width, int height, const std::vector<uint8_t>& indices,
                                      const std::vector<PaletteEntry>& palette) {
    if (width <= 0 || height <= 0 || palette.empty() || palette.size() > 256 ||
        indices.size() != static_cast<size_t>(width) * height)
        return {};
    for (uint8_t index : indices) {
        if (index >= palette.size())
            return {};
    }
    const uint32_t rowBytes = (static_cast<uint32_t>(width) + 3) & ~3u;
    std::vector<unsigned char> out =
        headers(width, height, 8, static_cast<uint32_t>(palette.size()), rowBytes);
    for (const PaletteEntry& e : palette) {
        out.push_back(e.b);
        out.push_back(e.g);
        out.push_back(e.r);
        out.push_back(0);
    }
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x)
            out.push_back(indices[static_cast<size_t>(y) * width + x]);
        for (uint32_t pad = static_cast<uint32_t>(width); pad < rowBytes; ++pad)
            out.push_back(0);
    }
    return out;
}
