// JPEG decoding from memory into a tightly packed 8-bit buffer.
//
// Any thread; no GL. Sizes in pixels.
#pragma once

#include <cstddef>

// Decodes a whole JPEG file held in memory. Returns a malloc'ed buffer of
// width x height x channels bytes (RGB for 3 channels, grey for 1), top row
// first, no gaps between rows; the caller frees it. Null on any failure.
// width, height and channels are written as soon as the header has been read.
unsigned char* decodeJpeg(int* width, int* height, int* channels, const unsigned char* data,
                          int length);

// The most bytes that decoding a JPEG whose header declares width x height
// pixels of channels channels allocates, whatever the file's length: a fixed
// overhead, the picture itself, and the decoder's working memory for it (2
// bytes per channel of each pixel, the picture grown by 32 pixels each way,
// plus 64 rows). A picture that is refused (too large, or neither 1 nor 3
// channels) gets only the fixed overhead.
size_t jpegReadBudget(int width, int height, int channels);
