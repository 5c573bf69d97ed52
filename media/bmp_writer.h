// Windows bitmap files (14-byte file header, 40-byte info header, bottom row
// first, rows padded to 4 bytes) for the level's textures.
//
// Build time, one thread. Sizes in pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "media/image.h"

struct PaletteEntry {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
};

// A 24-bit BMP of the image.
std::vector<unsigned char> encodeBmp24(const Image& image);
// An 8-bit paletted BMP: indices holds width × height palette indices, top row
// first; the palette has 1 to 256 entries and every index must lie inside it.
// Returns an empty vector when the arguments do not fit together.
std::vector<unsigned char> encodeBmp8(int width, int height, const std::vector<uint8_t>& indices,
                                      const std::vector<PaletteEntry>& palette);
