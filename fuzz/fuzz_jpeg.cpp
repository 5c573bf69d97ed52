// libFuzzer target for the JPEG decoder: any bytes through decodeJpeg; a
// result must have one or three channels and width x height x channels
// readable bytes, and every call must keep the decoder's memory budget for the
// picture its header declares.
//
// Fuzzer thread. Sizes in pixels.
#include <cstdint>
#include <cstdlib>

#include "fuzz/alloc_count.h"
#include "resources/jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x7FFFFFFF)
        return 0;
    int width = 0, height = 0, channels = 0;
    alloccount::startCounting();
    unsigned char* pixels = decodeJpeg(&width, &height, &channels, data, static_cast<int>(size));
    alloccount::checkBudget(alloccount::stopCounting(), jpegReadBudget(width, height, channels),
                            size);
    if (!pixels)
        return 0;
    if (width <= 0 || height <= 0 || (channels != 1 && channels != 3))
        abort();
    size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * channels;
    // Reading every byte lets ASan catch a buffer shorter than the picture.
    volatile unsigned sum = 0;
    for (size_t i = 0; i < bytes; i++)
        sum = sum + pixels[i];
    free(pixels);
    return 0;
}
