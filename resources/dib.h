// Windows bitmap (BMP file or bare DIB) loading into 24-bit RGB.
//
// Main thread (it may show a message box). Sizes in pixels.
#pragma once

#include <cstddef>
#include <cstdint>

struct DibImage {
    int width = 0;
    int height = 0;
    unsigned char* pixels = nullptr; // width x height RGB triples, bottom row first, no gaps
};

// Reads the file and converts it. On failure shows one error box and returns
// null. The caller frees pixels and then the record (free, then delete).
DibImage* loadDibImage(const char* path, bool wide);

// Parses a bitmap held in memory. On failure returns null and, when message is
// not null, points it at the failure's message text ("Unknown DIB file format."
// and so on). Never reads outside [data, data + size).
DibImage* decodeDib(const unsigned char* data, size_t size, const char** message);

// Colour count of a bitmap header: the colours-used field when it is not zero,
// cut to 16 bits; else 2/16/256 by bit count (0 for other depths).
uint16_t dibColorCount(const unsigned char* header);

// The most bytes that decodeDib allocates for a picture of width x height
// pixels, whatever the file's length: the 24-bit picture and its record.
// Headers, colour tables and masks are read where they lie in the file.
// (loadDibImage reads the file into memory first.)
size_t dibReadBudget(int width, int height);

// Releases a result of loadDibImage or decodeDib.
void freeDibImage(DibImage* image);
