// File formats that the capture program writes itself: PNG pictures (over
// zlib) and 16-bit PCM WAV sound.
//
// Main thread. Pictures are tightly packed 8-bit RGB, top row first; sound is
// mono float samples in [-1, 1].
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A complete PNG file of a width x height RGB picture (8 bits per channel,
// no interlace). Each row gets the filter that minimises its sum of absolute
// filtered values, the usual heuristic, before deflate at the given level.
std::vector<unsigned char> encodePng(const unsigned char* rgb, int width, int height,
                                     int level = 6);

// The 44-byte header of a 16-bit PCM WAV stream of sampleCount frames.
std::vector<unsigned char> wavHeader(uint64_t sampleCount, int rate, int channels);

// Appends count samples as signed 16-bit little-endian values: scaled by
// 32767, rounded to nearest, clamped to +-32767 (sound past full scale clips).
void appendPcm16(const float* samples, size_t count, std::vector<unsigned char>* out);
