// libFuzzer target for the BMP decoder: any bytes through decodeDib; a result
// must have a positive size and width x height x 3 readable bytes, a failure
// one of the loader's messages, and either must keep the decoder's memory
// budget.
//
// Fuzzer thread. Sizes in pixels.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/alloc_count.h"
#include "resources/dib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* message = nullptr;
    alloccount::startCounting();
    DibImage* image = decodeDib(data, size, &message);
    alloccount::checkBudget(
        alloccount::stopCounting(),
        image ? dibReadBudget(image->width, image->height) : dibReadBudget(0, 0), size);
    if (!image) {
        if (!message || (strcmp(message, "Out of memory.") != 0 &&
                         strcmp(message, "Unknown DIB file format.") != 0 &&
                         strcmp(message, "Image file conversion error.") != 0))
            abort();
        return 0;
    }
    if (image->width <= 0 || image->height <= 0 || !image->pixels)
        abort();
    size_t bytes = static_cast<size_t>(image->width) * static_cast<size_t>(image->height) * 3;
    // Reading every byte lets ASan catch a buffer shorter than the picture.
    volatile unsigned sum = 0;
    for (size_t i = 0; i < bytes; i++)
        sum = sum + image->pixels[i];
    freeDibImage(image);
    return 0;
}
