// JPEG decoding from memory into a tightly packed 8-bit buffer.
//
// Any thread; no GL. Sizes in pixels.
#pragma once

// Decodes a whole JPEG file held in memory. Returns a malloc'ed buffer of
// width x height x channels bytes (RGB for 3 channels, grey for 1), top row
// first, no gaps between rows; the caller frees it. Null on any failure.
// width, height and channels are written as soon as the header has been read.
unsigned char* decodeJpeg(int* width, int* height, int* channels, const unsigned char* data,
                          int length);
