// JPEG encoding of the generated pictures through libjpeg, into memory.
//
// Build time, one thread. Sizes in pixels; quality 1..100 as libjpeg takes it.
#pragma once

#include <string>
#include <vector>

#include "media/image.h"

// Encodes the image as a baseline 3-channel (YCbCr) JPEG. False with a reason
// in *error for an empty image, a quality outside 1..100 or a libjpeg failure.
bool encodeJpeg(const Image& image, int quality, std::vector<unsigned char>* out,
                std::string* error);

// Encodes the image at the show's quality (92) and writes it as dir/name;
// false after a one-line message on standard error.
bool writeJpegMedia(const std::string& dir, const std::string& name, const Image& image);
