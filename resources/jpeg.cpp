// JPEG decoding from memory over libjpeg-turbo, into a tightly packed 8-bit
// buffer: RGB for colour pictures, one grey byte per pixel for grey ones.
//
// Any thread (no GL, no globals). Sizes in pixels; the buffer is in bytes.
//
// libjpeg reports fatal errors by calling error_exit, which by default ends the
// process; ours jumps back here instead, so corrupt data only yields null.
//
// Memory budget (jpegReadBudget): the header's size is checked before the
// library allocates anything for the picture, and the library's own memory is
// capped (max_memory_to_use) at what the budget leaves beside the picture, so
// a small file that declares a large progressive picture cannot ask for more
// than that picture's coefficient buffers.
#include "resources/jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
// After jpeglib.h, which it needs: the message codes.
#include <jerror.h>

namespace {

// Larger pictures are refused rather than allocated: no picture of the show
// comes near this, and a hostile header can claim 65500 x 65500.
constexpr long long MAX_JPEG_PIXELS = 1LL << 24;
// The library's fixed structures (tables, component records, its first pool).
constexpr size_t JPEG_FIXED_BYTES = 128 * 1024;

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
    bool truncated = false;
};

void onError(j_common_ptr cinfo) {
    ErrorManager* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    longjmp(errors->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level) {
    // Warnings are silent, except that data cut short counts as a failure:
    // libjpeg would otherwise pad the missing rows with grey.
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) {
        reinterpret_cast<ErrorManager*>(cinfo->err)->truncated = true;
    }
}

void noOutput(j_common_ptr) {}

// The decoding proper, apart so that no object with a destructor lives in the
// frame that longjmp returns to.
unsigned char* decode(jpeg_decompress_struct* cinfo, ErrorManager* errors, int* width, int* height,
                      int* channels, const unsigned char* data, int length) {
    unsigned char* volatile pixels = nullptr;
    if (setjmp(errors->jump)) {
        free(pixels);
        jpeg_destroy_decompress(cinfo);
        return nullptr;
    }
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(length));
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(cinfo);
        return nullptr;
    }
    *width = static_cast<int>(cinfo->image_width);
    *height = static_cast<int>(cinfo->image_height);
    *channels = cinfo->num_components;

    if (cinfo->num_components == 3) {
        cinfo->out_color_space = JCS_RGB;
    } else if (cinfo->num_components == 1) {
        cinfo->out_color_space = JCS_GRAYSCALE;
    } else {
        // Four-channel (CMYK, YCCK) pictures have no texture format here.
        jpeg_destroy_decompress(cinfo);
        return nullptr;
    }
    long long pixelCount =
        static_cast<long long>(cinfo->image_width) * static_cast<long long>(cinfo->image_height);
    if (pixelCount <= 0 || pixelCount > MAX_JPEG_PIXELS) {
        jpeg_destroy_decompress(cinfo);
        return nullptr;
    }
    // Without a backing store, a library that needs more than this fails
    // cleanly instead of allocating it.
    size_t pictureBytes = static_cast<size_t>(pixelCount) * static_cast<size_t>(*channels);
    cinfo->mem->max_memory_to_use =
        static_cast<long>(jpegReadBudget(*width, *height, *channels) - pictureBytes);

    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != *channels || cinfo->output_width != cinfo->image_width ||
        cinfo->output_height != cinfo->image_height) {
        jpeg_destroy_decompress(cinfo);
        return nullptr;
    }
    size_t rowBytes = static_cast<size_t>(cinfo->output_width) * cinfo->output_components;
    pixels = static_cast<unsigned char*>(malloc(rowBytes * cinfo->output_height));
    if (!pixels) {
        jpeg_destroy_decompress(cinfo);
        return nullptr;
    }
    while (cinfo->output_scanline < cinfo->output_height && !errors->truncated) {
        JSAMPROW row = pixels + rowBytes * cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
            break;
        }
    }
    if (errors->truncated || cinfo->output_scanline < cinfo->output_height) {
        free(pixels);
        jpeg_destroy_decompress(cinfo);
        return nullptr;
    }
    // Every row is decoded; a missing end marker after them is tolerated.
    jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    return pixels;
}

} // namespace

size_t jpegReadBudget(int width, int height, int channels) {
    long long pixels = static_cast<long long>(width) * static_cast<long long>(height);
    if (width <= 0 || height <= 0 || pixels > MAX_JPEG_PIXELS || (channels != 1 && channels != 3)) {
        return JPEG_FIXED_BYTES;
    }
    // Coefficient buffers (progressive and multi-scan files) hold 2 bytes per
    // channel of every pixel, rounded out to whole MCUs (at most 32 pixels);
    // the row buffers of the last steps take a few dozen rows.
    size_t c = static_cast<size_t>(channels);
    size_t paddedWidth = static_cast<size_t>(width) + 32;
    size_t paddedHeight = static_cast<size_t>(height) + 32;
    return JPEG_FIXED_BYTES + static_cast<size_t>(pixels) * c +
           c * paddedWidth * (2 * paddedHeight + 64);
}

unsigned char* decodeJpeg(int* width, int* height, int* channels, const unsigned char* data,
                          int length) {
    if (!data || length <= 0) {
        return nullptr;
    }
    jpeg_decompress_struct cinfo;
    ErrorManager errors;
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onError;
    errors.base.emit_message = onMessage;
    errors.base.output_message = noOutput;
    return decode(&cinfo, &errors, width, height, channels, data, length);
}
